// libFuzzer target: the input is a delimited data file. A read must end (never a crash, a hang
// or a sanitizer report); a failed read leaves exactly one logged message, and a successful
// one leaves columns of the record count whose named cells index their state names.

#include "quarn.h"
#include "scratch_folder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string input = ScratchFolder() + "/data";
    std::FILE* file = std::fopen(input.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    QNL_errorHandler::Instance().Flush();
    QNL_dataset set;
    if (!set.readFile(input)) {
        if (QNL_errorHandler::Instance().GetNumberOfErrors() != 1) std::abort();
        return 0;
    }
    for (int v = 0; v < set.getNumberOfVariables(); ++v) {
        const int states = static_cast<int>(set.getStateNames(v).size());
        if (states == 0) continue;
        for (int r = 0; r < set.getNumberOfRecords(); ++r) {
            const int cell = set.getCell(v, r).i;
            if (cell < -1 || cell >= states) std::abort();
        }
    }
    return 0;
}
