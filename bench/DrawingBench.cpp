// What drawing a full 2560 × 2048 frame into the preview window costs the capture thread, next
// to a memcpy of the picture and the nearest OpenCV conversion. The X11 cases need a display
// (run under Xvfb or a desktop); without one they are skipped. Each X11 iteration waits, outside
// the timing, until the server has taken the previous image, so every frame is really drawn.
//
//   build/bench/bench_drawing [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <memory>
#include <vector>

#include "imaging/Converters.h"
#include "imaging/FramePipeline.h"
#include "lumora/host.h"
#include "platform/SimdLevel.h"
#include "platform/WindowOffscreen.h"
#include "platform/WindowPixels.h"
#include "platform/WindowX11.h"
#include "session/PreviewWindow.h"

namespace lumora {
namespace {

constexpr int kWidth = 2560;
constexpr int kHeight = 2048;

void FillFrames(PipelineImages& images) {
    images.rawImage8.Create(kWidth, kHeight, 8);
    images.rawImage16.Create(kWidth, kHeight, 16);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row8 = images.rawImage8.Row(y);
        auto* row16 = reinterpret_cast<uint16_t*>(images.rawImage16.Row(y));
        for (int x = 0; x < kWidth; ++x) {
            row8[x] = static_cast<uint8_t>((x + 3 * y) >> 3);
            row16[x] = static_cast<uint16_t>((x * 7 + y * 5) & 0xFFF);
        }
    }
}

void BM_Memcpy8(benchmark::State& state) {
    std::vector<uint8_t> a(static_cast<size_t>(kWidth) * kHeight, 1);
    std::vector<uint8_t> b(a.size());
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::DoNotOptimize(b.data());
    }
}
BENCHMARK(BM_Memcpy8)->Unit(benchmark::kMillisecond);

// 8 → 32-bit expansion of a full gray frame: ours against OpenCV's GRAY2BGRA.
void BM_ExpandGrayFrame(benchmark::State& state) {
    std::vector<uint8_t> gray(static_cast<size_t>(kWidth) * kHeight, 77);
    std::vector<uint32_t> out(gray.size());
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            platform::ExpandGrayRow(out.data() + static_cast<size_t>(y) * kWidth,
                                    gray.data() + static_cast<size_t>(y) * kWidth, kWidth);
        }
        FenceStreamedStores();
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ExpandGrayFrame)->Unit(benchmark::kMillisecond);

void BM_OpenCvGray2Bgra(benchmark::State& state) {
    cv::Mat gray(kHeight, kWidth, CV_8UC1, cv::Scalar(77));
    cv::Mat out(kHeight, kWidth, CV_8UC4);
    cv::setNumThreads(0);
    for (auto _ : state) {
        cv::cvtColor(gray, out, cv::COLOR_GRAY2BGRA);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCvGray2Bgra)->Unit(benchmark::kMillisecond);

// The 12 → 8 converter of the file writer, the reference for the preview's 16-bit step.
void BM_Bits12To8Converter(benchmark::State& state) {
    PipelineImages images;
    FillFrames(images);
    const PixelRect whole{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        ConvertBits12To8Reversed(images.rawImage8.Pixels(), images.rawImage16.Pixels(), whole, 0, 0,
                                 1, 2, images.rawImage8.Stride(), images.rawImage16.Stride(),
                                 nullptr);
        benchmark::DoNotOptimize(images.rawImage8.Pixels());
    }
}
BENCHMARK(BM_Bits12To8Converter)->Unit(benchmark::kMillisecond);

// PreviewWindow::Draw into an offscreen window: the drawing path without a server.
// Arguments: colour mode (0 or 1), client width, client height.
void BM_DrawOffscreen(benchmark::State& state) {
    auto system = std::make_shared<platform::OffscreenWindowSystem>(4000, 4000);
    platform::WindowSystem::Install(system);
    HWND parent = LumoraHost_CreateQueueWindow();
    PipelineImages images;
    FillFrames(images);
    ImageBuffer display;
    PreviewWindow preview;
    const int mode = static_cast<int>(state.range(0));
    preview.Create(&images,
                   PreviewPlacement{parent, 0, 0, static_cast<int>(state.range(1)),
                                    static_cast<int>(state.range(2))},
                   kWidth, kHeight);
    for (auto _ : state) preview.Draw(mode, images, display);
    preview.Close();
    LumoraHost_DestroyWindow(parent);
    platform::WindowSystem::Install(nullptr);
}
BENCHMARK(BM_DrawOffscreen)
    ->Args({0, kWidth, kHeight})
    ->Args({1, kWidth, kHeight})
    ->Args({0, 1280, 1024})
    ->Args({1, 1280, 1024})
    ->Args({0, 640, 512})
    ->Unit(benchmark::kMillisecond);

// PreviewWindow::Draw into a real X11 top-level window. Arguments: colour mode, client width,
// client height, shared memory (1) or plain XPutImage (0). The top-level window's client size is
// the picture's; other sizes are a child of a window of that size.
void BM_DrawX11(benchmark::State& state) {
    auto system =
        platform::X11WindowSystem::Open(platform::X11Options{nullptr, state.range(3) != 0});
    if (system == nullptr) {
        state.SkipWithError("no X display");
        return;
    }
    platform::WindowSystem::Install(system);
    const int width = static_cast<int>(state.range(1));
    const int height = static_cast<int>(state.range(2));
    PipelineImages images;
    FillFrames(images);
    ImageBuffer display;
    PreviewWindow holder;
    PreviewWindow preview;
    // A parent of the client size, made by the window layer itself and wrapped as an
    // application would wrap its own.
    holder.Create(&holder, PreviewPlacement{nullptr, 1, 1, 1, 1}, width, height);
    HWND parent = LumoraHost_WrapX11Window(LumoraHost_GetX11Window(holder.Get()->Handle()));
    preview.Create(&images, PreviewPlacement{parent, 0, 0, width, height}, kWidth, kHeight);
    if (!preview.Exists()) {
        state.SkipWithError("no window");
        return;
    }
    const int mode = static_cast<int>(state.range(0));
    for (auto _ : state) {
        preview.Draw(mode, images, display);
        state.PauseTiming();
        system->Flush(2000);
        state.ResumeTiming();
    }
    state.counters["skipped"] = static_cast<double>(system->SkippedFrames());
    preview.Close();
    LumoraHost_DestroyWindow(parent);
    holder.Close();
    platform::WindowSystem::Install(nullptr);
}
BENCHMARK(BM_DrawX11)
    ->Args({0, kWidth, kHeight, 1})
    ->Args({1, kWidth, kHeight, 1})
    ->Args({0, 1280, 1024, 1})
    ->Args({1, 1280, 1024, 1})
    ->Args({0, 640, 512, 1})
    ->Args({0, kWidth, kHeight, 0})
    ->Args({0, 1280, 1024, 0})
    ->Args({0, 640, 512, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumora

BENCHMARK_MAIN();
