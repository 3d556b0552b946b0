// libFuzzer target: the input is a model file of the format that MODEL_EXTENSION names. A read
// must end with a code (never a crash, a hang or a sanitizer report); a failed read returns a
// code it logged; a network read whole is written and read back.

#include "quarn.h"
#include "scratch_folder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool Logged(int code) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (log.GetCode(i) == code) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string input = ScratchFolder() + "/in" MODEL_EXTENSION;
    static const std::string output = ScratchFolder() + "/out" MODEL_EXTENSION;
    std::FILE* file = std::fopen(input.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    QNL_errorHandler::Instance().Flush();
    {
        QNL_network network;
        const int result = network.ReadFile(input.c_str());
        // A read that runs out of input before the format's first tag ends with the scanner's
        // end code (-111), logging what it missed under its own code.
        const bool explained =
            result == -111 ? QNL_errorHandler::Instance().GetNumberOfErrors() > 0 : Logged(result);
        if (result != 0 && !explained) std::abort();
        if (result == 0 && network.WriteFile(output.c_str()) == 0) {
            QNL_network back;
            back.ReadFile(output.c_str());
        }
    }
    QNL_errorHandler::Instance().Flush();
    return 0;
}
