// What opening a session costs: Lumora_Initialize with no camera and with one simulated camera
// (fast mode, so no frame period is waited for), its release timed apart, and the resident
// memory the session holds once it is open.
//
//   build/bench/bench_session [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "lumora/host.h"
#include "lumora/lumora.h"

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

void BM_Initialize(benchmark::State& state) {
    const auto home = std::filesystem::temp_directory_path() /
                      ("lumora-bench-session-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    ::setenv("LUMORA_CONFIG_HOME", home.c_str(), 1);
    LumoraSim_SetFastMode(1);
    LumoraSim_SetCameraCount(static_cast<int>(state.range(0)));
    long residentGrowth = 0;
    for (auto _ : state) {
        const long before = ResidentKiB();
        const int handle = Lumora_Initialize(nullptr);
        state.PauseTiming();
        residentGrowth = ResidentKiB() - before;
        if (handle == 0) state.SkipWithError("Lumora_Initialize failed");
        Lumora_Release(handle);
        state.ResumeTiming();
    }
    state.counters["resident_MiB"] = static_cast<double>(residentGrowth) / 1024.0;
    LumoraSim_SetCameraCount(0);
    std::filesystem::remove_all(home);
}
BENCHMARK(BM_Initialize)->ArgName("cameras")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
