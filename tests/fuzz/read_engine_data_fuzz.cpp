// libFuzzer target: the input is a learning-engine data file (first byte even) or a preprocess
// file (first byte odd); bits 1 and 2 of the first byte set NODE_NAMES_PRESENT and
// TYPES_SPECIFIED. A read must end with 0 or with -1 and one logged message (never a crash, a
// hang or a sanitizer report); a data file that was read reads the same through its side file.

#include "quarn.h"
#include "scratch_folder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool SameColumns(const QNL_learnNetwork& a, const QNL_learnNetwork& b) {
    if (a.GetNumberOfNodes() != b.GetNumberOfNodes()) return false;
    for (int i = 0; i < a.GetNumberOfNodes(); ++i) {
        const QNL_learnNode& x = *a.GetNode(i);
        const QNL_learnNode& y = *b.GetNode(i);
        if (x.GetName() != y.GetName() || x.GetStates() != y.GetStates() ||
            x.GetDiscreteData().Size() != y.GetDiscreteData().Size() ||
            x.GetContinuousData().Size() != y.GetContinuousData().Size())
            return false;
        for (int r = 0; r < x.GetDiscreteData().Size(); ++r)
            if (x.GetDiscreteData()[r] != y.GetDiscreteData()[r]) return false;
        for (int r = 0; r < x.GetContinuousData().Size(); ++r)
            if (x.GetContinuousData()[r] != y.GetContinuousData()[r]) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::string input = ScratchFolder() + "/engine";
    std::FILE* file = std::fopen(input.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    QNL_errorHandler& errors = QNL_errorHandler::Instance();
    errors.Flush();
    QNL_learnNetwork net;
    net.SetBoolOption("NODE_NAMES_PRESENT", (data[0] & 2) != 0);
    net.SetBoolOption("TYPES_SPECIFIED", (data[0] & 4) != 0);
    if (data[0] & 1) {
        QNL_learnDataFile side(net);
        const int result = side.ReadPreprocessFile(input);
        if (result != 0 && (result != -1 || errors.GetNumberOfErrors() != 1)) std::abort();
        return 0;
    }
    const int result = net.ReadData(input);
    if (result != 0) {
        if (result != -1 || errors.GetNumberOfErrors() != 1) std::abort();
        return 0;
    }
    QNL_learnNetwork again;
    again.SetOptions(net.GetOptions());
    again.SetBoolOption("USE_PREPROCESS_FILE", true);
    again.SetStringOption("PREPROCESS_FILENAME", input + ".vmq");
    again.SetStringOption("DATA_FILENAME", input);
    if (again.ReadDataFile() != 0 || !SameColumns(net, again)) std::abort();
    return 0;
}
