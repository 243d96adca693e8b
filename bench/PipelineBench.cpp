// The frame path's filters and corrections against OpenCV's nearest equivalents, at full sensor
// size, on one thread and in row bands. Figures are meant as ratios within one run: each of our
// stages against its OpenCV counterpart and against one cold copy of the frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "imaging/FramePipeline.h"
#include "imaging/MaskSet.h"
#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"

namespace {

using namespace lumora;

constexpr int kW = 2560;
constexpr int kH = 2048;

// A scene with shading, fixed pattern and a few hot pixels, in 12 bits.
int SceneAt(int x, int y) {
    const int shade = 1200 + (x * 3 + y * 2) % 1500;
    const unsigned h = static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u;
    const int noise = static_cast<int>(h >> 27) - 16;
    return (h & 0xFFFFu) == 7u ? 4095 : shade + noise;
}
int DarkAt(int x, int y) {
    return 100 + static_cast<int>((static_cast<unsigned>(x * 7 + y * 13) * 2654435761u) >> 29);
}
int BrightAt(int x, int y) {
    return 3600 + (x + y) % 300;
}

void Fill(ImageBuffer& image, int bits, int (*fn)(int, int)) {
    image.Create(kW, kH, bits);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const int v = fn(x, y);
            if (bits == 8) {
                image.Row(y)[x] = static_cast<uint8_t>(v >> 4);
            } else {
                const auto w = static_cast<uint16_t>(v);
                std::memcpy(image.Row(y) + 2 * x, &w, 2);
            }
        }
    }
}

class Host : public FramePipelineHost {
public:
    FrameSettings settings;
    MaskSet masks;
    platform::CriticalSection lock;
    Host() {
        masks.Create();
        for (int bits : {8, 16}) {
            Fill(masks.Reference(bits, kMaskDark), bits, DarkAt);
            Fill(masks.Reference(bits, kMaskBright), bits, BrightAt);
        }
        masks.BuildAllDefectMaps();
        settings.geometry = MaskGeometry{0, 0, kW, kH};
    }
    FrameSettings CurrentSettings() override { return settings; }
    MaskSet* Masks() override { return &masks; }
    platform::CriticalSection& MaskLock() override { return lock; }
    void AdjustIris(int, double) override {}
    void StoreGrayGains(const std::array<int, 4>&) override {}
    void StoreWhiteBalance(const BayerGains&, bool) override {}
    void RefreshFilterDialog() override {}
};

cv::Mat View(ImageBuffer& image) {
    return cv::Mat(image.Height(), image.Width(), image.BitCount() == 8 ? CV_8UC1 : CV_16UC1,
                   image.Pixels(), static_cast<size_t>(image.Stride()));
}

// Arg 0: bits (8 or 16). Arg 1: bands (1 or the machine's).
int Bands(const benchmark::State& state) {
    return state.range(1) == 0 ? RowBandPool::DefaultBands() : static_cast<int>(state.range(1));
}

// Times `stage` on `frame`, which gets a fresh copy of the scene at `bits` before every
// iteration (the copy untimed), so in-place stages always see the same input.
template <class Stage>
void TimeOnScene(benchmark::State& state, int bits, ImageBuffer& frame, Stage&& stage) {
    ImageBuffer pristine;
    Fill(pristine, bits, SceneAt);
    frame.CreateLike(pristine);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(frame.Pixels(), pristine.Pixels(), pristine.SizeBytes());
        state.ResumeTiming();
        stage(frame);
        benchmark::ClobberMemory();
    }
}

void BM_ColdCopy(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(kW) * kH * static_cast<size_t>(state.range(0)) / 8;
    // Buffers larger than the caches, walked in turn, so each copy starts cold.
    std::vector<std::vector<uint8_t>> src(4, std::vector<uint8_t>(bytes, 1));
    std::vector<uint8_t> dst(bytes);
    size_t i = 0;
    for (auto _ : state) {
        std::memcpy(dst.data(), src[i++ % 4].data(), bytes);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ColdCopy)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_FlatField(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    Host host;
    ImageBuffer frame;
    RowBandPool pool(Bands(state));
    TimeOnScene(state, bits, frame, [&](ImageBuffer& f) {
        FlatFieldCorrect(f, host.masks, host.settings.geometry, &pool);
    });
}
BENCHMARK(BM_FlatField)
    ->Args({8, 1})
    ->Args({8, 0})
    ->Args({16, 1})
    ->Args({16, 0})
    ->Unit(benchmark::kMillisecond);

// The same correction dividing per pixel (how it ran before the divisors were prepared with the
// references): a single-precision quotient made exact by one multiply-back step.
inline int DivideClamped(int num, int den, int limit) {
    int q = static_cast<int>(static_cast<float>(num) / static_cast<float>(den));
    q = std::min(std::max(q, -1), limit + 1);
    const int rest = num - q * den;
    q -= rest < 0 ? 1 : 0;
    q += rest >= den ? 1 : 0;
    return std::min(std::max(q, 0), limit);
}
LUMORA_ROW_KERNEL void DividingRow8(uint8_t* v, const uint8_t* dark, const uint8_t* bright, int n) {
    for (int x = 0; x < n; ++x) {
        const int lo = dark[x];
        const int span = bright[x] - lo;
        const int sign = span < 0 ? -1 : 1;
        const int num = sign * (v[x] - lo) * 256;
        const int den = span != 0 ? sign * span : 1;
        const int out = DivideClamped(num, den, 255);
        v[x] = static_cast<uint8_t>(span != 0 ? out : v[x]);
    }
}
LUMORA_ROW_KERNEL void DividingRow16(uint16_t* v, const uint16_t* dark, const uint16_t* bright,
                                     int n) {
    for (int x = 0; x < n; ++x) {
        const int lo = dark[x];
        const int span = bright[x] - lo;
        const int num = (v[x] - lo) * 4096;
        const int out = DivideClamped(num, span > 0 ? span : 1, 4095) << 4;
        v[x] = static_cast<uint16_t>(span > 0 ? out : v[x]);
    }
}
void BM_FlatFieldDividing(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    Host host;
    ImageBuffer frame;
    const MaskSet& masks = host.masks;
    const ImageBuffer& dark = masks.Reference(bits, kMaskDark);
    const ImageBuffer& bright = masks.Reference(bits, kMaskBright);
    TimeOnScene(state, bits, frame, [&](ImageBuffer& f) {
        for (int y = 0; y < kH; ++y) {
            if (bits == 8) {
                DividingRow8(f.Row(y), dark.Row(y), bright.Row(y), kW);
            } else {
                DividingRow16(Words(f.Row(y)), Words(dark.Row(y)), Words(bright.Row(y)), kW);
            }
        }
    });
}
BENCHMARK(BM_FlatFieldDividing)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

// (v − dark) × full / (bright − dark) with OpenCV's saturating arithmetic.
void BM_OpenCvFlatField(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    Host host;
    ImageBuffer pristine;
    Fill(pristine, bits, SceneAt);
    cv::Mat v = View(pristine).clone();
    cv::Mat dark = View(host.masks.Reference(bits, kMaskDark));
    cv::Mat bright = View(host.masks.Reference(bits, kMaskBright));
    cv::Mat span, num, out;
    cv::subtract(bright, dark, span);
    for (auto _ : state) {
        cv::subtract(v, dark, num);
        cv::divide(num, span, out, bits == 8 ? 256.0 : 65536.0);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCvFlatField)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_DotFilter(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    Host host;
    ImageBuffer frame;
    RowBandPool pool(Bands(state));
    const int threshold = DefectThresholdFor(bits, 12);
    TimeOnScene(state, bits, frame, [&](ImageBuffer& f) {
        DefectCorrect(f, host.masks, host.settings.geometry, threshold, &pool);
    });
}
BENCHMARK(BM_DotFilter)
    ->Args({8, 1})
    ->Args({8, 0})
    ->Args({16, 1})
    ->Args({16, 0})
    ->Unit(benchmark::kMillisecond);

// Detection by a four-neighbour mean and a threshold, replacement by a 3×3 median where flagged.
void BM_OpenCvDotFilter(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    ImageBuffer pristine;
    Fill(pristine, bits, SceneAt);
    cv::Mat v = View(pristine).clone();
    const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 0, 0.25f, 0, 0.25f, 0, 0.25f, 0, 0.25f, 0);
    cv::Mat mean, diff, mask, median;
    for (auto _ : state) {
        cv::filter2D(v, mean, -1, kernel);
        cv::absdiff(v, mean, diff);
        cv::compare(diff, bits == 8 ? 30 : 480, mask, cv::CMP_GE);
        cv::medianBlur(v, median, 3);
        median.copyTo(v, mask);
        benchmark::DoNotOptimize(v.data);
    }
}
BENCHMARK(BM_OpenCvDotFilter)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_Sharpness(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    ImageBuffer frame;
    RowBandPool pool(Bands(state));
    TimeOnScene(state, bits, frame, [&](ImageBuffer& f) { ApplySharpnessInPlace(f, 8, &pool); });
}
BENCHMARK(BM_Sharpness)
    ->Args({8, 1})
    ->Args({8, 0})
    ->Args({16, 1})
    ->Args({16, 0})
    ->Unit(benchmark::kMillisecond);

// Unsharp mask: a 4×4 box blur and a weighted difference.
void BM_OpenCvUnsharp(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    ImageBuffer pristine;
    Fill(pristine, bits, SceneAt);
    cv::Mat v = View(pristine).clone();
    cv::Mat blur, out;
    for (auto _ : state) {
        cv::blur(v, blur, cv::Size(4, 4));
        cv::addWeighted(v, 1.8, blur, -0.8, 0, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCvUnsharp)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_Lookup(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    ImageBuffer frame;
    Fill(frame, bits, SceneAt);
    std::vector<uint16_t> table;
    BuildGammaTable(140, bits == 8 ? 255 : 65535, table);
    RowBandPool pool(Bands(state));
    for (auto _ : state) {
        ApplyLookupTable(frame, table, &pool);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Lookup)->Args({8, 1})->Args({8, 0})->Args({16, 1})->Args({16, 0})->Unit(
    benchmark::kMillisecond);

void BM_OpenCvLut8(benchmark::State& state) {
    ImageBuffer frame;
    Fill(frame, 8, SceneAt);
    cv::Mat v = View(frame);
    cv::Mat lut(1, 256, CV_8U);
    for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = static_cast<uint8_t>(255 - i);
    cv::Mat out;
    for (auto _ : state) {
        cv::LUT(v, lut, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCvLut8)->Unit(benchmark::kMillisecond);

// The whole pipeline with everything a mono camera offers switched on.
void BM_PipelineEverythingOn(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    Host host;
    host.settings.colorMode = bits == 8 ? 0 : 1;
    host.settings.maskFilter = true;
    host.settings.dotFilter = true;
    host.settings.filter.gamma = 140;
    host.settings.filter.contrast = 20;
    host.settings.filter.sharpness = 10;
    host.settings.filter.brightness = 10;
    PipelineImages images;
    FramePipeline pipeline(Bands(state));
    TimeOnScene(state, bits, images.RawSource(host.settings.colorMode),
                [&](ImageBuffer&) { pipeline.ProcessFrame(images, host); });
}
BENCHMARK(BM_PipelineEverythingOn)
    ->Args({8, 1})
    ->Args({8, 0})
    ->Args({16, 1})
    ->Args({16, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
