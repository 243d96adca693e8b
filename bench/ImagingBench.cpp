// Cost of the frame pipeline on a full 2560 × 2048 frame, next to a memcpy of the same bytes
// and the nearest OpenCV operation. Everything runs on one core.
//
//   build/bench/bench_imaging [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/Converters.h"
#include "imaging/Demosaic.h"
#include "imaging/Filters.h"
#include "imaging/FramePipeline.h"

namespace lumora {
namespace {

constexpr int kWidth = kSensorWidth;
constexpr int kHeight = kSensorHeight;

// The sensor model behind the scene and the references: a fixed dark pattern with one hot
// column, a response with lens shading and a few dead spots.
int DarkAt(int x, int y) {
    return 180 + (x * 5 + y * 3) % 17 + (x == 777 ? 3200 : 0);
}
int ResponseAt(int x, int y) {
    const float cx = (x - kWidth / 2.0f) / kWidth;
    const float cy = (y - kHeight / 2.0f) / kHeight;
    const int dead = (x * 31 + y * 17) % 5003 == 0 ? 3400 : 0;
    return std::max(1, static_cast<int>(3700.0f * (1.0f - 0.6f * (cx * cx + cy * cy))) - dead);
}

// A short-wave-infrared-looking scene in 12 bits: a warm blob on a gradient, a grid of bright
// squares, seen through the sensor model above with read noise (sigma 8).
std::vector<uint16_t> Scene12() {
    std::vector<uint16_t> v(static_cast<size_t>(kWidth) * kHeight);
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 8.0f);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const float dx = (x - 1500.0f) / 400.0f;
            const float dy = (y - 900.0f) / 300.0f;
            float s = 0.15f + 0.25f * x / kWidth + 0.45f * std::exp(-(dx * dx + dy * dy));
            if ((x / 160 + y / 160) % 5 == 0) s += 0.1f;
            const float raw = DarkAt(x, y) + s * ResponseAt(x, y) + noise(rng);
            v[static_cast<size_t>(y) * kWidth + x] =
                static_cast<uint16_t>(std::clamp(raw, 0.0f, 4095.0f));
        }
    }
    return v;
}

const std::vector<uint16_t>& Scene() {
    static const std::vector<uint16_t> scene = Scene12();
    return scene;
}

void Load16(ImageBuffer& image) {
    image.Create(kWidth, kHeight, 16);
    std::memcpy(image.Pixels(), Scene().data(), image.SizeBytes());
}
void Load8(ImageBuffer& image) {
    image.Create(kWidth, kHeight, 8);
    const auto& s = Scene();
    for (size_t i = 0; i < s.size(); ++i) image.Pixels()[i] = static_cast<uint8_t>(s[i] >> 4);
}

void SetBytes(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// ---- references -----------------------------------------------------------------------------

void BM_Memcpy(benchmark::State& state) {
    const size_t bytes =
        static_cast<size_t>(kWidth) * kHeight * static_cast<size_t>(state.range(0));
    std::vector<uint8_t> a(bytes, 1);
    std::vector<uint8_t> b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    SetBytes(state, bytes);
}
BENCHMARK(BM_Memcpy)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Arg(6)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_OpenCvLut8(benchmark::State& state) {
    cv::setNumThreads(1);
    ImageBuffer image;
    Load8(image);
    cv::Mat src(kHeight, kWidth, CV_8UC1, image.Pixels(), static_cast<size_t>(image.Stride()));
    cv::Mat lut(1, 256, CV_8UC1);
    for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = static_cast<uint8_t>(255 - i);
    cv::Mat dst(kHeight, kWidth, CV_8UC1);
    for (auto _ : state) {
        cv::LUT(src, lut, dst);
        benchmark::DoNotOptimize(dst.data);
    }
    SetBytes(state, image.SizeBytes());
}
BENCHMARK(BM_OpenCvLut8)->Unit(benchmark::kMillisecond);

void BM_OpenCvConvert16To8(benchmark::State& state) {
    cv::setNumThreads(1);
    ImageBuffer image;
    Load16(image);
    cv::Mat src(kHeight, kWidth, CV_16UC1, image.Pixels(), static_cast<size_t>(image.Stride()));
    cv::Mat dst(kHeight, kWidth, CV_8UC1);
    for (auto _ : state) {
        src.convertTo(dst, CV_8U, 1.0 / 256.0);
        benchmark::DoNotOptimize(dst.data);
    }
    SetBytes(state, image.SizeBytes());
}
BENCHMARK(BM_OpenCvConvert16To8)->Unit(benchmark::kMillisecond);

void BM_OpenCvScale16(benchmark::State& state) {
    cv::setNumThreads(1);
    ImageBuffer image;
    Load16(image);
    cv::Mat src(kHeight, kWidth, CV_16UC1, image.Pixels(), static_cast<size_t>(image.Stride()));
    cv::Mat dst(kHeight, kWidth, CV_16UC1);
    for (auto _ : state) {
        src.convertTo(dst, CV_16U, 1.5);
        benchmark::DoNotOptimize(dst.data);
    }
    SetBytes(state, image.SizeBytes());
}
BENCHMARK(BM_OpenCvScale16)->Unit(benchmark::kMillisecond);

void BM_OpenCvFlip8(benchmark::State& state) {
    cv::setNumThreads(1);
    ImageBuffer image;
    Load8(image);
    cv::Mat src(kHeight, kWidth, CV_8UC1, image.Pixels(), static_cast<size_t>(image.Stride()));
    cv::Mat dst(kHeight, kWidth, CV_8UC1);
    for (auto _ : state) {
        cv::flip(src, dst, 0);
        benchmark::DoNotOptimize(dst.data);
    }
    SetBytes(state, image.SizeBytes());
}
BENCHMARK(BM_OpenCvFlip8)->Unit(benchmark::kMillisecond);

// ---- the pipeline ---------------------------------------------------------------------------

class BenchHost : public FramePipelineHost {
public:
    FrameSettings settings;
    MaskSet masks;
    platform::CriticalSection lock;
    FrameSettings CurrentSettings() override { return settings; }
    MaskSet* Masks() override { return &masks; }
    platform::CriticalSection& MaskLock() override { return lock; }
    void AdjustIris(int, double) override {}
    void StoreGrayGains(const std::array<int, 4>&) override {}
    void StoreWhiteBalance(const BayerGains&, bool) override {}
    void RefreshFilterDialog() override {}
};

struct PipelineFixture {
    PipelineImages images;
    BenchHost host;
    FramePipeline pipeline;
    ImageBuffer pristine;

    explicit PipelineFixture(int colorMode) {
        host.settings.colorMode = colorMode;
        const bool wide = colorMode == 1 || colorMode == 4 || colorMode == 5;
        if (wide) {
            Load16(images.rawImage16);
            Load16(pristine);
        } else {
            Load8(images.rawImage8);
            Load8(pristine);
        }
        images.colorImage24.Create(kWidth, kHeight, 24);
        if (colorMode == 3) images.colorImage32.Create(kWidth, kHeight, 32);
        if (colorMode == 4) images.colorImage48.Create(kWidth, kHeight, 48);
        if (colorMode == 5) images.colorImage64.Create(kWidth, kHeight, 64);
    }
    ImageBuffer& Raw() { return images.RawSource(host.settings.colorMode); }
    void Restore() { std::memcpy(Raw().Pixels(), pristine.Pixels(), pristine.SizeBytes()); }
};

void BM_ProcessFrameDefault(benchmark::State& state) {
    PipelineFixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        f.pipeline.ProcessFrame(f.images, f.host);
        benchmark::ClobberMemory();
    }
    SetBytes(state, f.Raw().SizeBytes());
}
BENCHMARK(BM_ProcessFrameDefault)->Arg(0)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_ProcessFrameFilters(benchmark::State& state) {
    PipelineFixture f(static_cast<int>(state.range(0)));
    FilterSettings& s = f.host.settings.filter;
    s.gamma = 140;
    s.contrast = 20;
    s.brightness = 30;
    s.sharpness = 8;
    for (auto _ : state) {
        state.PauseTiming();
        f.Restore();
        state.ResumeTiming();
        f.pipeline.ProcessFrame(f.images, f.host);
        benchmark::ClobberMemory();
    }
    SetBytes(state, f.Raw().SizeBytes());
}
BENCHMARK(BM_ProcessFrameFilters)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ProcessFrameCorrections(benchmark::State& state) {
    PipelineFixture f(static_cast<int>(state.range(0)));
    f.host.masks.Create();
    // The references a calibration of the sensor model gives.
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int dark = DarkAt(x, y);
            const int bright = std::min(4095, dark + ResponseAt(x, y));
            const auto d16 = static_cast<uint16_t>(dark);
            const auto b16 = static_cast<uint16_t>(bright);
            std::memcpy(f.host.masks.Reference(16, kMaskDark).Row(y) + 2 * x, &d16, 2);
            std::memcpy(f.host.masks.Reference(16, kMaskBright).Row(y) + 2 * x, &b16, 2);
            f.host.masks.Reference(8, kMaskDark).Row(y)[x] = static_cast<uint8_t>(dark >> 4);
            f.host.masks.Reference(8, kMaskBright).Row(y)[x] = static_cast<uint8_t>(bright >> 4);
        }
    }
    f.host.masks.BuildAllDefectMaps();
    f.host.settings.maskFilter = state.range(1) & 1;
    f.host.settings.dotFilter = (state.range(1) & 2) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.Restore();
        state.ResumeTiming();
        f.pipeline.ProcessFrame(f.images, f.host);
        benchmark::ClobberMemory();
    }
    SetBytes(state, f.Raw().SizeBytes());
}
// Second argument: 1 flat field, 2 dot filter, 3 both.
BENCHMARK(BM_ProcessFrameCorrections)
    ->Args({1, 1})
    ->Args({1, 2})
    ->Args({1, 3})
    ->Args({0, 3})
    ->Unit(benchmark::kMillisecond);

// ---- single filters -------------------------------------------------------------------------

template <int kBits>
void LoadBits(ImageBuffer& image) {
    if constexpr (kBits == 8) {
        Load8(image);
    } else {
        Load16(image);
    }
}

template <int kBits>
void LookupFilter(benchmark::State& state, const FilterVariants& filter, int setting) {
    ImageBuffer image;
    LoadBits<kBits>(image);
    const PixelConverter convert =
        filter.For(kBits == 8 ? FilterVariant::kMono8 : FilterVariant::kMono16);
    for (auto _ : state) {
        ApplyInPlace(image, convert, &setting);
        benchmark::ClobberMemory();
    }
    SetBytes(state, image.SizeBytes());
}
void BM_Gamma8(benchmark::State& s) {
    LookupFilter<8>(s, kGammaFilter, 140);
}
void BM_Gamma16(benchmark::State& s) {
    LookupFilter<16>(s, kGammaFilter, 140);
}
void BM_Contrast8(benchmark::State& s) {
    LookupFilter<8>(s, kContrastFilter, 20);
}
void BM_Contrast16(benchmark::State& s) {
    LookupFilter<16>(s, kContrastFilter, 20);
}
void BM_Brightness8(benchmark::State& s) {
    LookupFilter<8>(s, kBrightnessFilter, 30);
}
void BM_Brightness16(benchmark::State& s) {
    LookupFilter<16>(s, kBrightnessFilter, 30);
}
BENCHMARK(BM_Gamma8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gamma16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brightness8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brightness16)->Unit(benchmark::kMillisecond);

// The table application alone, with the table cached as the pipeline keeps it.
template <int kBits>
void CachedLut(benchmark::State& state) {
    ImageBuffer image;
    LoadBits<kBits>(image);
    std::vector<uint16_t> table;
    BuildGammaTable(140, kBits == 8 ? 255 : 65535, table);
    for (auto _ : state) {
        ApplyLookupTable(image, table);
        benchmark::ClobberMemory();
    }
    SetBytes(state, image.SizeBytes());
}
void BM_CachedLut8(benchmark::State& state) {
    CachedLut<8>(state);
}
void BM_CachedLut16(benchmark::State& state) {
    CachedLut<16>(state);
}
BENCHMARK(BM_CachedLut8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CachedLut16)->Unit(benchmark::kMillisecond);

void BM_Sharpness8(benchmark::State& state) {
    ImageBuffer image;
    ImageBuffer work;
    Load8(image);
    Load8(work);
    for (auto _ : state) {
        ApplySharpness(image, work, 8);
        benchmark::ClobberMemory();
    }
    SetBytes(state, image.SizeBytes());
}
BENCHMARK(BM_Sharpness8)->Unit(benchmark::kMillisecond);

// ---- converters of the preview and file paths -----------------------------------------------

struct ConverterCase {
    const char* name;
    PixelConverter convert;
    int srcBits;
    int dstBits;
};
const ConverterCase kConverters[] = {
    {"CopyRowsReversed8", ConvertCopyRowsReversed8, 8, 8},
    {"HighByte16To8", ConvertHighByte16To8, 16, 8},
    {"HighByte16To8Reversed", ConvertHighByte16To8Reversed, 16, 8},
    {"Bits12To8Reversed", ConvertBits12To8Reversed, 16, 8},
    {"Bits12To16", ConvertBits12To16, 16, 16},
    {"DropX32To24", ConvertDropX32To24, 32, 24},
    {"Color48To24Preview", ConvertColor16To24Preview, 48, 24},
    {"Color64To24Preview", ConvertColor16To24Preview, 64, 24},
    {"ColorHighBytes48To24Reversed", ConvertColorHighBytesTo24Reversed, 48, 24},
    {"Color12To48Swap", ConvertColor12To48Swap, 48, 48},
    {"Color12To64", ConvertColor12To64, 64, 64},
    {"BgrCopyReversed24", ConvertBgrCopyReversed, 24, 24},
    {"BgrToRgb24", ConvertBgrToRgb, 24, 24},
    {"BgrxToBgra", ConvertBgrxToBgra, 32, 32},
    {"Demosaic8To24", DemosaicBayer, 8, 24},
    {"Demosaic16To48", DemosaicBayer, 16, 48},
    {"LumaFromColor24", LumaFromColor, 24, 8},
};

void BM_Converter(benchmark::State& state) {
    const ConverterCase& c = kConverters[state.range(0)];
    state.SetLabel(c.name);
    ImageBuffer src;
    ImageBuffer dst;
    src.Create(kWidth, kHeight, c.srcBits);
    const auto& scene = Scene();
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = src.Row(y);
        for (int i = 0; i < src.Stride(); ++i) {
            row[i] =
                static_cast<uint8_t>(scene[static_cast<size_t>(y) * kWidth + (i % kWidth)] >> 4);
        }
    }
    dst.Create(kWidth, kHeight, c.dstBits);
    const DemosaicParams demosaic{3, 110, 100, 90};
    for (auto _ : state) {
        ApplyConverter(dst, c.convert, src, nullptr, 0, 0, &demosaic);
        benchmark::ClobberMemory();
    }
    SetBytes(state, std::max(src.SizeBytes(), dst.SizeBytes()));
}
BENCHMARK(BM_Converter)
    ->DenseRange(0, static_cast<int>(std::size(kConverters)) - 1)
    ->Unit(benchmark::kMillisecond);

void BM_ScalePreview(benchmark::State& state) {
    ImageBuffer src;
    ImageBuffer dst;
    Load8(src);
    dst.Create(1280, 1024, 8);
    for (auto _ : state) {
        ScaleImageNearest(dst, src);
        benchmark::ClobberMemory();
    }
    SetBytes(state, dst.SizeBytes());
}
BENCHMARK(BM_ScalePreview)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumora

BENCHMARK_MAIN();
