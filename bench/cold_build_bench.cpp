// The first build of a network's join trees as a user who reads a file and updates once meets
// it: each case runs in a process of its own (the benchmark starts itself again with the case
// in QUARN_BENCH_COLD_CASE), so the tables land on memory the process never touched. The same
// process then times the builds that follow, for the comparison in one run:
//   cold      read the file, first update (reduction, triangulation, tables, propagation);
//   second    the network dropped, the file read again into a new one, its first update;
//   released  the kept trees dropped and the pooled storage freed (ReleaseMemory), update;
//   pooled    the kept trees dropped, their storage left in the pool, update.
// `Cold/<net>` reports the cold time per process as its time; the others come as counters in
// milliseconds, with the ratio cold / second (`x_second`) and the minor page faults of the
// cold update (`faults`). Networks whose file is missing are not registered.

#include "quarn.h"

#include "bench_networks.h"
#include "inference/join_tree_cache.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using quarn_bench::FormatOf;
using quarn_bench::NetworkFile;
using quarn_bench::PathOf;

constexpr const char* kCaseVariable = "QUARN_BENCH_COLD_CASE";

const char* const kNetworks[] = {"alarm", "water", "barley", "pigs", "munin", "link"};

struct Figures {
    double cold = 0, second = 0, released = 0, pooled = 0, faults = 0;
};

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

std::unique_ptr<QNL_network> Read(const std::string& path) {
    auto net = std::make_unique<QNL_network>();
    if (net->ReadFile(path.c_str(), FormatOf(path)) != 0) return nullptr;
    return net;
}

// Seconds of one update, or a negative value when it fails.
double TimedUpdate(QNL_network& net) {
    const auto start = std::chrono::steady_clock::now();
    if (net.UpdateBeliefs() != 0) return -1.0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The child's side: the four builds, printed on one line.
int RunCase(const std::string& path) {
    Figures f;
    auto net = Read(path);
    if (!net) return 2;
    const long faults = MinorFaults();
    f.cold = TimedUpdate(*net);
    f.faults = static_cast<double>(MinorFaults() - faults);
    net.reset();
    net = Read(path);
    if (!net) return 2;
    f.second = TimedUpdate(*net);
    quarn::detail::JoinTreeCache& cache = net->GetJoinTreeCache();
    cache.Clear();
    cache.ReleaseMemory();
    f.released = TimedUpdate(*net);
    cache.Clear();
    f.pooled = TimedUpdate(*net);
    if (f.cold < 0 || f.second < 0 || f.released < 0 || f.pooled < 0) return 3;
    std::printf("%.9f %.9f %.9f %.9f %.0f\n", f.cold, f.second, f.released, f.pooled, f.faults);
    return 0;
}

// The parent's side: one child per call, its figures read from its output.
bool Spawn(const char* network, Figures& f) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<std::string> variables;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, kCaseVariable, std::strlen(kCaseVariable)) != 0)
            variables.emplace_back(*e);
    variables.push_back(std::string(kCaseVariable) + "=" + network);
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        return false;
    }
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    return std::sscanf(output.c_str(), "%lf %lf %lf %lf %lf", &f.cold, &f.second, &f.released,
                       &f.pooled, &f.faults) == 5;
}

void BM_Cold(benchmark::State& state, const char* network) {
    Figures sum;
    for (auto _ : state) {
        Figures f;
        if (!Spawn(network, f)) return state.SkipWithError("the case's process failed");
        state.SetIterationTime(f.cold);
        sum.cold += f.cold;
        sum.second += f.second;
        sum.released += f.released;
        sum.pooled += f.pooled;
        sum.faults += f.faults;
    }
    const double n = static_cast<double>(state.iterations());
    if (n == 0) return;
    state.counters["second_ms"] = sum.second / n * 1e3;
    state.counters["released_ms"] = sum.released / n * 1e3;
    state.counters["pooled_ms"] = sum.pooled / n * 1e3;
    state.counters["x_second"] = sum.second > 0 ? sum.cold / sum.second : 0.0;
    state.counters["faults"] = sum.faults / n;
}

const NetworkFile* Find(const std::string& name) {
    for (const NetworkFile& file : quarn_bench::kRealNetworks)
        if (name == file.name) return &file;
    return nullptr;
}

// A child runs its case before the benchmark library sees the command line.
const bool kRegistered = [] {
    if (const char* name = std::getenv(kCaseVariable)) {
        const NetworkFile* file = Find(name);
        const int code = file == nullptr ? 2 : RunCase(PathOf(*file));
        std::fflush(stdout);
        std::_Exit(code);
    }
    for (const char* name : kNetworks) {
        const NetworkFile* file = Find(name);
        if (file == nullptr || !quarn_bench::Exists(PathOf(*file))) continue;
        auto* b =
            benchmark::RegisterBenchmark(("Cold/" + std::string(name)).c_str(), BM_Cold, name);
        b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(file->large ? 3 : 10);
    }
    return true;
}();

} // namespace
