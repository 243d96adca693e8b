// The driver alone against a real-time simulated camera at full size (2560 × 2048, exposure
// 1 ms), 8- and 16-bit transfer: the frames per second stored in the ring (and the driver's own
// measure of it), the frames the camera dropped for want of a reader (gaps in its frame counter)
// and the frames a reader copied out. The session's whole frame path is bench_frame_path's.
//
//   build/bench/bench_driver_stream [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "lumora/host.h"
#include "sensor/CSensorBase.h"
#include "sim/SimCamera.h"
#include "sim/SimCameraSet.h"
#include "sim/SimSensorModel.h"

namespace lumora {
namespace {

constexpr auto kStreamFor = std::chrono::seconds(3);

void BM_DriverStream(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    sim::UsePlainCameraModel(false);
    LumoraSim_SetCameraCount(0);
    if (LumoraSim_SetCameraCount(1) != 1) {
        state.SkipWithError("no simulated camera");
        return;
    }
    LumoraSim_SetStartupTime(0, 0);
    LumoraSim_SetFastMode(0);
    LumoraSim_SetStaticScene(0);
    SetSensorPausesForTesting(false);
    auto driver = std::make_unique<CLumoraUSB3T2SimpleSdk>();
    driver->SetCameraType(0x3380);
    driver->CreateController(nullptr, nullptr);
    if (driver->OpenDevice(0) != 1 || driver->SetTransferBitDepth(depth) != 1 ||
        driver->SetExposureTimeEx(0.01) != 1) {
        state.SkipWithError("the simulated camera did not open");
        return;
    }
    const auto camera = sim::SimCameraSet::Instance().Camera(0);
    auto& model = dynamic_cast<sim::SimSensorModel&>(camera->Model());

    double seconds = 0;
    uint64_t stored = 0;
    uint64_t sent = 0;
    uint64_t dropped = 0;
    uint64_t delivered = 0;
    double measured = 0;
    for (auto _ : state) {
        const uint64_t droppedBefore = model.FramesLost();
        if (driver->StartCapture(kCaptureContinuous) != 1) {
            state.SkipWithError("the capture did not start");
            break;
        }
        std::vector<uint8_t> frame(driver->FrameSize());
        // The first frame settles the picture; the measurement starts after it.
        while (driver->WaitFrame(1000) != 3) {
        }
        const uint64_t storedBefore = driver->FramesStored();
        const uint64_t sentBefore = camera->FramesSent();
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < kStreamFor) {
            if (driver->WaitFrame(1000) != 3) continue;
            if (driver->GetLatestFrame(frame.data(), static_cast<uint32_t>(frame.size()), 1) == 0)
                ++delivered;
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        seconds += elapsed;
        stored += driver->FramesStored() - storedBefore;
        sent += camera->FramesSent() - sentBefore;
        measured = driver->MeasuredFrameRate();
        driver->StopCapture(1);
        dropped += model.FramesLost() - droppedBefore;
        state.SetIterationTime(elapsed);
    }
    state.counters["stored_fps"] = stored / seconds;
    state.counters["driver_fps"] = measured;
    state.counters["copied_fps"] = delivered / seconds;
    state.counters["sent"] = static_cast<double>(sent);
    state.counters["dropped"] = static_cast<double>(dropped);
    driver.reset();
    LumoraSim_SetCameraCount(0);
    SetSensorPausesForTesting(true);
}
BENCHMARK(BM_DriverStream)
    ->ArgName("depth16")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumora

BENCHMARK_MAIN();
