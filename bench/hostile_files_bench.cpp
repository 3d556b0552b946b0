// Small model files that once took gigabytes or minutes: each must be read (refused, mostly)
// within 2 seconds and 200 MB in a Release build. One iteration reads the file once; the
// peak memory of a case is what scripts/hostile-files.sh prints, running each case alone.

#include "quarn.h"
#include "support/hostile_files.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Fixture(const char* name) {
    return std::string(QUARN_TEST_DATA_DIR) + "/hostile/" + name;
}

// Generated files go to the temporary folder once, when their case first runs, so a case
// run alone pays for nothing but its own file.
std::string Generated(const char* name, const std::function<std::string()>& text) {
    const std::string path = (fs::temp_directory_path() / name).string();
    std::ofstream(path, std::ios::binary) << text();
    return path;
}

// The file a read of nested submodels writes back: its size once grew with the square of
// the depth.
std::string WrittenBack(const std::string& source, const char* name) {
    QNL_network network;
    network.ReadFile(source.c_str());
    const std::string path = (fs::temp_directory_path() / name).string();
    network.WriteFile(path.c_str());
    return path;
}

void Read(benchmark::State& state, const std::function<std::string()>& file) {
    const std::string path = file();
    int result = 0;
    for (auto _ : state) {
        QNL_network network;
        result = network.ReadFile(path.c_str());
        benchmark::DoNotOptimize(result);
    }
    QNL_errorHandler::Instance().Flush();
    state.counters["result"] = result;
    state.counters["file_kB"] = static_cast<double>(fs::file_size(path)) / 1024.0;
}

void Register(const char* name, std::function<std::string()> file) {
    benchmark::RegisterBenchmark(name, [file](benchmark::State& state) { Read(state, file); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
}

const int kRegistered = [] {
    for (const char* name :
         {"parents28.net", "parents28.dsc", "parents28.xml03", "parents28.xqnl",
          "parents27_short_table.net", "parents27_short_table.dsc", "parents27_bad_data.net",
          "parents27_short_table.xml03", "parents27_short_table.xqnl", "truncated.net",
          "unknown_kind.net", "utf16.xml03", "net_attributes.net", "temporal_parents28.xqnl",
          "temporal_parents27_short_table.xqnl", "noisy_400_states.erg",
          "noisy_400_states_cut.erg"})
        Register(name, [name] { return Fixture(name); });
    Register("long_identifier.xqnl", [] {
        return Generated("quarn_long_identifier.xqnl",
                         [] { return hostile::LongIdentifierXml(10000000); });
    });
    Register("nested_submodels.xqnl", [] {
        return Generated("quarn_nested_submodels.xqnl",
                         [] { return hostile::NestedSubmodelsXml(16000); });
    });
    Register("nested_submodels_written.xqnl", [] {
        const std::string source = Generated("quarn_nested_submodels.xqnl",
                                             [] { return hostile::NestedSubmodelsXml(16000); });
        return WrittenBack(source, "quarn_nested_submodels_written.xqnl");
    });
    return 0;
}();

} // namespace
