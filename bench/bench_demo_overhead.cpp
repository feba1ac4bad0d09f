// Overhead of a demo-mode command: ExecuteCommand through the whole library
// (framing, simulator, reply scanning, separator conversion, copy-out) with
// the simulated transfer and motion sleeps on a virtual clock, so the time
// measured is what the library adds beyond them.
#include "interface/library_frame.h"
#include "platform/zel_clock.h"
#include "platform/zel_paths.h"

#include <zelcomm/zelcomm.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

struct DemoLibrary {
    DemoLibrary() {
        char dir[] = "/tmp/zelcomm-bench-XXXXXX";
        if (!::mkdtemp(dir)) std::abort();
        path = std::string(dir) + "/ZELCOMM.INI";
        if (FILE* f = std::fopen(path.c_str(), "w")) {
            std::fputs("[Startup]\nMode=DEMO\n", f);
            std::fclose(f);
        }
        ::setenv("ZELCOMM_INI", path.c_str(), 1);
        zel::ResetConfigPath();
        zel::SetClock(&clock);
        zel::ZelLibraryAttach();
        if (InitController(1, 3, 1, 9600, 0, 0, 0) != 0 || OpenController() != 0) std::abort();
    }
    ~DemoLibrary() {
        zel::KvCleanupDll();
        zel::SetClock(nullptr);
        std::remove(path.c_str());
    }
    zel::VirtualClock clock;
    std::string path;
};

DemoLibrary& Library() {
    static DemoLibrary library;
    return library;
}

void BM_DemoCommand(benchmark::State& state, const char* command, int lines) {
    Library();
    char reply[256];
    for (auto _ : state) {
        if (ExecuteCommand(command, lines, reply) != 0) state.SkipWithError("command failed");
        benchmark::DoNotOptimize(reply);
    }
}

BENCHMARK_CAPTURE(BM_DemoCommand, status, "st", 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DemoCommand, position, "p", 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DemoCommand, move, "1 2 3 m", 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DemoCommand, getlimit, "getlimit", 3)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
