// The frame path stage by stage at full sensor size, on one thread: each stage of the library
// against OpenCV's nearest equivalent on the same data in the same run, with cold input (a
// 256 MiB buffer is read between runs, so frame, references and tables come from memory as
// they do at the camera's pace). Prints the stage table with medians and ratios, the cold
// memcpy references, the whole pipeline with everything on, and the two-band speed-up.
//
//   bench_stages [--reps N] [--only SUBSTRING] [--no-bands]
//   bench_stages --callgrind     one untimed run per stage, each counted by callgrind into a
//                                dump of its own (scripts/measure-stages reads them)
// scripts/measure-stages runs both and prints one table.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_DUMP_STATS_AT(name) static_cast<void>(name)
#endif

#include "imaging/Converters.h"
#include "imaging/DefectCorrection.h"
#include "imaging/FlatField.h"
#include "imaging/FramePipeline.h"
#include "imaging/RawFrame.h"
#include "io/AviWriter.h"
#include "platform/SimdLevel.h"
#include "platform/WindowPixels.h"
#include "platform/x11/X11PixelPacking.h"
#include "session/FrameHandOver.h"

namespace {

using namespace lumora;

constexpr int kW = kSensorWidth;
constexpr int kH = kSensorHeight;

// ---- the scene: a sensor model in 12 bits ---------------------------------------------------

int DarkAt(int x, int y) {
    return 180 + (x * 5 + y * 3) % 17 + (x == 777 ? 3200 : 0);  // one hot column
}
int ResponseAt(int x, int y) {
    const float cx = (x - kW / 2.0f) / kW;
    const float cy = (y - kH / 2.0f) / kH;
    const int dead = (x * 31 + y * 17) % 5003 == 0 ? 3400 : 0;
    return std::max(1, static_cast<int>(3700.0f * (1.0f - 0.6f * (cx * cx + cy * cy))) - dead);
}

// A warm blob on a gradient and a grid of brighter squares through the model, with read noise.
std::vector<uint16_t> Scene12() {
    std::vector<uint16_t> v(static_cast<size_t>(kW) * kH);
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 8.0f);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const float dx = (x - 1500.0f) / 400.0f;
            const float dy = (y - 900.0f) / 300.0f;
            float s = 0.15f + 0.25f * x / kW + 0.45f * std::exp(-(dx * dx + dy * dy));
            if ((x / 160 + y / 160) % 5 == 0) s += 0.1f;
            const float raw = DarkAt(x, y) + s * ResponseAt(x, y) + noise(rng);
            v[static_cast<size_t>(y) * kW + x] =
                static_cast<uint16_t>(std::clamp(raw, 0.0f, 4095.0f));
        }
    }
    return v;
}

void Load(ImageBuffer& image, int bits, const std::function<int(int, int)>& at) {
    image.Create(kW, kH, bits);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const int v = at(x, y);
            if (bits == 8) {
                image.Row(y)[x] = static_cast<uint8_t>(v >> 4);
            } else {
                const auto w = static_cast<uint16_t>(v);
                std::memcpy(image.Row(y) + 2 * x, &w, 2);
            }
        }
    }
}

cv::Mat View(ImageBuffer& image) {
    return cv::Mat(image.Height(), image.Width(), image.BitCount() == 8 ? CV_8UC1 : CV_16UC1,
                   image.Pixels(), static_cast<size_t>(image.Stride()));
}

// ---- timing ---------------------------------------------------------------------------------

bool gCallgrind = false;
int gReps = 15;

double NowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Reading this evicts whatever the previous run left in the caches.
std::vector<uint8_t>& Flusher() {
    static std::vector<uint8_t> buffer(size_t{256} << 20, 1);
    return buffer;
}
void Flush() {
    const std::vector<uint8_t>& b = Flusher();
    uint64_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 64) sum += b[i];
    asm volatile("" : : "r"(sum) : "memory");
}

struct Figure {
    double ms = 0;      // median wall time
    double cpuMs = 0;   // median process CPU time (all threads)
    double bestMs = 0;  // least process CPU time: the run others disturbed least
    bool valid = false;
};

// prepare() restores the input (untimed), the caches are flushed, run() is timed.
Figure Measure(const std::string& label, const std::function<void()>& prepare,
               const std::function<void()>& run) {
    Figure f;
    prepare();
    run();  // first use: lazily built tables, page faults
    if (gCallgrind) {
        prepare();
        CALLGRIND_TOGGLE_COLLECT;
        run();
        CALLGRIND_TOGGLE_COLLECT;
        CALLGRIND_DUMP_STATS_AT(label.c_str());
        return f;
    }
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < gReps; ++i) {
        prepare();
        Flush();
        const double c0 = ProcessCpuMs();
        const double t0 = NowMs();
        run();
        wall.push_back(NowMs() - t0);
        cpu.push_back(ProcessCpuMs() - c0);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    f.ms = wall[wall.size() / 2];
    f.cpuMs = cpu[cpu.size() / 2];
    f.bestMs = cpu.front();
    f.valid = true;
    return f;
}

// ---- the stages -----------------------------------------------------------------------------

struct Data {
    std::vector<uint16_t> scene = Scene12();
    ImageBuffer pristine[2];  // [8-bit, 16-bit]
    ImageBuffer frame[2];
    MaskSet masks;
    MaskGeometry geometry{0, 0, kW, kH};
    cv::Mat span[2];
    cv::Mat out8;
    cv::Mat out16;
    cv::Mat outBgra;
    cv::Mat outBgr;
    std::vector<uint32_t> window = std::vector<uint32_t>(static_cast<size_t>(kW) * kH);
    std::vector<uint8_t> grayPlane = std::vector<uint8_t>(static_cast<size_t>(kW) * kH);
    std::vector<uint8_t> avi = std::vector<uint8_t>(AviWriter::FrameBytes(kW, kH));

    Data() {
        for (int i = 0; i < 2; ++i) {
            const int bits = i == 0 ? 8 : 16;
            Load(pristine[i], bits,
                 [&](int x, int y) { return scene[static_cast<size_t>(y) * kW + x]; });
            frame[i].CreateLike(pristine[i]);
            std::memcpy(frame[i].Pixels(), pristine[i].Pixels(), pristine[i].SizeBytes());
        }
        masks.Create();
        for (int bits : {8, 16}) {
            Load(masks.Reference(bits, kMaskDark), bits, DarkAt);
            Load(masks.Reference(bits, kMaskBright), bits,
                 [](int x, int y) { return std::min(4095, DarkAt(x, y) + ResponseAt(x, y)); });
            cv::subtract(View(masks.Reference(bits, kMaskBright)),
                         View(masks.Reference(bits, kMaskDark)), span[bits / 16]);
        }
        masks.BuildAllDefectMaps();
        out8.create(kH, kW, CV_8UC1);
        out16.create(kH, kW, CV_16UC1);
        outBgra.create(kH, kW, CV_8UC4);
        outBgr.create(kH, kW, CV_8UC3);
    }
    ImageBuffer& Frame(int bits) { return frame[bits / 16]; }
    std::function<void()> Restore(int bits) {
        return [this, bits] {
            std::memcpy(frame[bits / 16].Pixels(), pristine[bits / 16].Pixels(),
                        pristine[bits / 16].SizeBytes());
        };
    }
};

struct Row {
    std::string name;
    Figure lib[2];
    Figure ref[2];
    std::string refName;
};

void PrintRow(const Row& r) {
    std::printf("| %s |", r.name.c_str());
    for (int i = 0; i < 2; ++i) {
        if (!r.lib[i].valid) {
            std::printf(" | | |");
            continue;
        }
        std::printf(" %.2f (%.2f) |", r.lib[i].bestMs, r.lib[i].cpuMs);
        if (r.ref[i].valid) {
            std::printf(" %.2f (%.2f) | %.2f× |", r.ref[i].bestMs, r.ref[i].cpuMs,
                        r.lib[i].bestMs / r.ref[i].bestMs);
        } else {
            std::printf(" — | |");
        }
    }
    std::printf(" %s |\n", r.refName.c_str());
    std::fflush(stdout);
}

bool Wanted(const std::string& only, const std::string& name) {
    return only.empty() || name.find(only) != std::string::npos;
}

Figure ColdCopy(size_t bytes) {
    std::vector<uint8_t> a(bytes, 1);
    std::vector<uint8_t> b(bytes, 2);
    return Measure(
        "cold memcpy", [] {}, [&] { std::memcpy(b.data(), a.data(), bytes); });
}

// Writing a frame's bytes and nothing else: what no widening into them can beat.
Figure ColdFill(size_t bytes) {
    std::vector<uint8_t> b(bytes, 2);
    return Measure(
        "cold fill", [] {}, [&] { std::memset(b.data(), 1, bytes); });
}

FrameSettings EverythingOn(int bits) {
    FrameSettings s;
    s.colorMode = bits == 8 ? 0 : 1;
    s.maskFilter = true;
    s.dotFilter = true;
    s.filter.gamma = 140;
    s.filter.contrast = 20;
    s.filter.sharpness = 10;
    s.geometry = MaskGeometry{0, 0, kW, kH};
    return s;
}

class Host : public FramePipelineHost {
public:
    Host(MaskSet& masks, FrameSettings settings) : masks_(masks), settings_(settings) {}
    FrameSettings CurrentSettings() override { return settings_; }
    MaskSet* Masks() override { return &masks_; }
    platform::CriticalSection& MaskLock() override { return lock_; }
    void AdjustIris(int, double) override {}
    void StoreGrayGains(const std::array<int, 4>&) override {}
    void StoreWhiteBalance(const BayerGains&, bool) override {}
    void RefreshFilterDialog() override {}

private:
    MaskSet& masks_;
    FrameSettings settings_;
    platform::CriticalSection lock_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    bool bands = true;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--reps" && i + 1 < argc) {
            gReps = std::max(1, std::atoi(argv[++i]));
        } else if (flag == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (flag == "--no-bands") {
            bands = false;
        } else if (flag == "--callgrind") {
            gCallgrind = true;
        }
    }
    cv::setNumThreads(0);  // OpenCV on the calling thread, as the library's stages run
    Data d;
    Flush();

    std::vector<double> load(3, 0.0);
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load.assign(3, 0.0);
        std::fclose(f);
    }
    Figure copy8;
    Figure copy24;
    Figure copy32;
    Figure fill24;
    Figure fill32;
    if (!gCallgrind) {
        std::printf(
            "load average %.2f %.2f %.2f; vector level %s%s; median of %d runs, cold "
            "input, one thread\n",
            load[0], load[1], load[2], SimdLevelName(ActiveSimdLevel()),
            ActiveAvx512Vbmi() ? " (with VBMI)" : "", gReps);
        copy8 = ColdCopy(static_cast<size_t>(kW) * kH);
        const Figure copy16 = ColdCopy(static_cast<size_t>(kW) * kH * 2);
        copy24 = ColdCopy(AviWriter::FrameBytes(kW, kH));
        copy32 = ColdCopy(static_cast<size_t>(kW) * kH * 4);
        std::printf(
            "cold memcpy of a frame, least (median) CPU ms: 8-bit %.2f (%.2f), 16-bit %.2f "
            "(%.2f), 24-bit %.2f (%.2f), 32-bit %.2f (%.2f)\n\n",
            copy8.bestMs, copy8.cpuMs, copy16.bestMs, copy16.cpuMs, copy24.bestMs, copy24.cpuMs,
            copy32.bestMs, copy32.cpuMs);
        fill24 = ColdFill(AviWriter::FrameBytes(kW, kH));
        fill32 = ColdFill(static_cast<size_t>(kW) * kH * 4);
        std::printf(
            "writing a cold frame and nothing else (no widening can be faster), least (median) "
            "CPU ms: 24-bit %.2f (%.2f), 32-bit %.2f (%.2f)\n\n",
            fill24.bestMs, fill24.cpuMs, fill32.bestMs, fill32.cpuMs);
    }
    std::printf(
        "| stage | 8-bit ms | OpenCV ms | ratio | 16-bit ms | OpenCV ms | ratio | OpenCV "
        "reference |\n|---|---|---|---|---|---|---|---|\n");

    auto stage = [&](const std::string& name, const std::string& refName,
                     const std::function<void(int)>& lib, const std::function<void(int)>& ref,
                     std::initializer_list<int> depths, std::initializer_list<int> refDepths) {
        Row r{name, {}, {}, refName};
        if (!Wanted(only, name)) return r;
        for (int bits : depths) {
            const int i = bits / 16;
            const std::string tag = name + "/" + std::to_string(bits);
            // Alternating, so a change of load touches both sides alike.
            r.lib[i] = Measure(tag + "/lib", d.Restore(bits), [&] { lib(bits); });
            if (std::find(refDepths.begin(), refDepths.end(), bits) != refDepths.end()) {
                r.ref[i] = Measure(tag + "/opencv", d.Restore(bits), [&] { ref(bits); });
            }
        }
        if (!gCallgrind) PrintRow(r);
        return r;
    };

    stage(
        "flat field", "subtract + divide",
        [&](int bits) { FlatFieldCorrect(d.Frame(bits), d.masks, d.geometry); },
        [&](int bits) {
            cv::Mat& out = bits == 8 ? d.out8 : d.out16;
            cv::subtract(View(d.Frame(bits)), View(d.masks.Reference(bits, kMaskDark)), out);
            cv::divide(out, d.span[bits / 16], out, bits == 8 ? 256.0 : 65536.0);
        },
        {8, 16}, {8, 16});
    stage(
        "dot filter (detection + replacement)", "medianBlur 3×3",
        [&](int bits) {
            DefectCorrect(d.Frame(bits), d.masks, d.geometry, DefectThresholdFor(bits, 12));
        },
        [&](int bits) { cv::medianBlur(View(d.Frame(bits)), bits == 8 ? d.out8 : d.out16, 3); },
        {8, 16}, {8, 16});
    std::vector<uint16_t> tone[2];
    for (int bits : {8, 16}) {
        std::vector<uint16_t> contrast;
        const int max = bits == 8 ? 255 : 65535;
        BuildGammaTable(140, max, tone[bits / 16]);
        BuildContrastTable(20, max, contrast);
        for (uint16_t& v : tone[bits / 16]) v = contrast[v];
    }
    cv::Mat lut(1, 256, CV_8UC1);
    for (int i = 0; i < 256; ++i)
        lut.at<uint8_t>(i) = static_cast<uint8_t>(tone[0][static_cast<size_t>(i)]);
    stage(
        "gamma + contrast table", "LUT",
        [&](int bits) { ApplyLookupTable(d.Frame(bits), tone[bits / 16]); },
        [&](int) { cv::LUT(View(d.Frame(8)), lut, d.out8); }, {8, 16}, {8});
    const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 0, -1, 0, -1, 5, -1, 0, -1, 0);
    stage(
        "sharpness", "filter2D 3×3", [&](int bits) { ApplySharpnessInPlace(d.Frame(bits), 10); },
        [&](int bits) {
            cv::filter2D(View(d.Frame(bits)), bits == 8 ? d.out8 : d.out16, -1, kernel);
        },
        {8, 16}, {8, 16});
    MirrorState mirror;
    mirror.horizontal = true;
    stage(
        "mirror H", "flip", [&](int bits) { MirrorOnHost(d.Frame(bits), mirror); },
        [&](int bits) { cv::flip(View(d.Frame(bits)), bits == 8 ? d.out8 : d.out16, 1); }, {8, 16},
        {8, 16});
    // A remote X server with RENDER takes a gray frame at a byte a pixel and widens it itself;
    // the client only copies the rows into the image it sends. A local one gets 32-bit pixels.
    XImage grayTarget{};
    grayTarget.width = kW;
    grayTarget.height = kH;
    grayTarget.bits_per_pixel = 8;
    grayTarget.bytes_per_line = kW;
    grayTarget.data = reinterpret_cast<char*>(d.grayPlane.data());
    XImage wordTarget = grayTarget;  // the client widens into 0x00RRGGBB words
    wordTarget.bits_per_pixel = 32;
    wordTarget.bytes_per_line = kW * 4;
    wordTarget.red_mask = 0xFF0000;
    wordTarget.green_mask = 0xFF00;
    wordTarget.blue_mask = 0xFF;
    wordTarget.byte_order = LSBFirst;
    wordTarget.data = reinterpret_cast<char*>(d.window.data());
    uint8_t grayPalette[1024];
    for (int i = 0; i < 256; ++i) {
        grayPalette[4 * i] = grayPalette[4 * i + 1] = grayPalette[4 * i + 2] =
            static_cast<uint8_t>(i);
        grayPalette[4 * i + 3] = 0;
    }
    const Row windowGray = stage(
        "gray frame for a remote window (the server widens it)", "cvtColor GRAY2BGRA",
        [&](int) {
            const ImageBuffer& frame = d.Frame(8);
            const platform::PixelView view{frame.Pixels(), kW,  kH, frame.Stride(), 8,
                                           grayPalette,    true};
            if (!platform::PackGrayImage(&grayTarget, view)) std::abort();
        },
        [&](int) { cv::cvtColor(View(d.Frame(8)), d.outBgra, cv::COLOR_GRAY2BGRA); }, {8}, {8});
    const Row window = stage(
        "8→BGRA for a local window", "cvtColor GRAY2BGRA",
        [&](int) {
            const ImageBuffer& frame = d.Frame(8);
            const platform::PixelView view{frame.Pixels(), kW,  kH, frame.Stride(), 8,
                                           grayPalette,    true};
            platform::PackImage(&wordTarget, view);
        },
        [&](int) { cv::cvtColor(View(d.Frame(8)), d.outBgra, cv::COLOR_GRAY2BGRA); }, {8}, {8});
    stage(
        "12→8 file converter", "convertScaleAbs",
        [&](int) {
            ImageBuffer& src = d.Frame(16);
            ImageBuffer& dst = d.Frame(8);
            const PixelRect whole{0, 0, kW, kH};
            ConvertBits12To8Reversed(dst.Pixels(), src.Pixels(), whole, 0, 0, 1, 2, dst.Stride(),
                                     src.Stride(), nullptr);
        },
        [&](int) { cv::convertScaleAbs(View(d.Frame(16)), d.out8, 1.0 / 16); }, {16}, {16});
    d.Frame(16).SetSignificantBits(12);
    const Row recorder = stage(
        "recorder frame (ToAviFrame)", "convertScaleAbs + cvtColor GRAY2BGR",
        [&](int bits) { ToAviFrame(d.Frame(bits), d.avi.data()); },
        [&](int bits) {
            if (bits == 8) {
                cv::cvtColor(View(d.Frame(8)), d.outBgr, cv::COLOR_GRAY2BGR);
            } else {
                cv::convertScaleAbs(View(d.Frame(16)), d.out8, 1.0 / 16);
                cv::cvtColor(d.out8, d.outBgr, cv::COLOR_GRAY2BGR);
            }
        },
        {8, 16}, {8, 16});

    if (!gCallgrind && window.lib[0].valid) {
        std::printf(
            "\nwindow pixels widened by the client against a cold memcpy of them (%.2f ms): "
            "%.2f×; against writing them alone (%.2f ms): %.2f×, where OpenCV is at %.2f×\n",
            copy32.bestMs, window.lib[0].bestMs / copy32.bestMs, fill32.bestMs,
            window.lib[0].bestMs / fill32.bestMs, window.ref[0].bestMs / fill32.bestMs);
    }
    if (!gCallgrind && windowGray.lib[0].valid) {
        std::printf(
            "gray frame for the server to widen against a cold memcpy of the frame: %.2f×\n",
            windowGray.lib[0].bestMs / copy8.bestMs);
    }
    // What the capture thread still does for the recorder: a copy at the frame's own depth.
    FrameHandOver handOver;
    Row handOverRow{"  recorder hand-over on the capture thread (copy)", {}, {}, ""};
    if (Wanted(only, "recorder")) {
        for (int bits : {8, 16}) {
            handOver.Prepare(d.Frame(bits));
            handOverRow.lib[bits / 16] =
                Measure("hand-over/" + std::to_string(bits) + "/lib", d.Restore(bits),
                        [&] { handOver.Offer(d.Frame(bits)); });
        }
        handOver.Release();
    }
    if (!gCallgrind && Wanted(only, "recorder")) {
        PrintRow(handOverRow);
        std::printf(
            "\nrecorder frame against a cold memcpy of the 24-bit frame (%.2f ms): 8-bit %.2f×, "
            "16-bit %.2f×; against writing the 24-bit frame alone (%.2f ms): 8-bit %.2f× "
            "(OpenCV %.2f×), 16-bit %.2f× (OpenCV %.2f×)\n\n",
            copy24.bestMs, recorder.lib[0].bestMs / copy24.bestMs,
            recorder.lib[1].bestMs / copy24.bestMs, fill24.bestMs,
            recorder.lib[0].bestMs / fill24.bestMs, recorder.ref[0].bestMs / fill24.bestMs,
            recorder.lib[1].bestMs / fill24.bestMs, recorder.ref[1].bestMs / fill24.bestMs);
    }

    // The whole pipeline, and what the row bands give it and its banded stages.
    FramePipeline oneBand(1);
    FramePipeline twoBands(2);
    PipelineImages images;
    auto restoreRaw = [&](int bits) {
        return [&, bits] {
            ImageBuffer& raw = bits == 8 ? images.rawImage8 : images.rawImage16;
            if (!raw.IsValid()) raw.CreateLike(d.pristine[bits / 16]);
            std::memcpy(raw.Pixels(), d.pristine[bits / 16].Pixels(), raw.SizeBytes());
        };
    };
    auto pipeline = [&](int bits, FramePipeline& p) {
        return [&, bits] {
            Host host(d.masks, EverythingOn(bits));
            p.ProcessFrame(images, host);
        };
    };
    if (Wanted(only, "ProcessFrame")) {
        Row r{"ProcessFrame, everything on",
              {},
              {},
              "(flat field, dot filter, gamma, contrast, sharpness)"};
        for (int bits : {8, 16}) {
            r.lib[bits / 16] = Measure("ProcessFrame/" + std::to_string(bits) + "/lib",
                                       restoreRaw(bits), pipeline(bits, oneBand));
        }
        // As a capture runs it: the frame arrives in a buffer of its own, which the flat field
        // reads while it writes the raw image.
        Row arrivedRow{"  the same, from the frame's own buffer", {}, {}, ""};
        for (int bits : {8, 16}) {
            const ImageBuffer& pristine = d.pristine[bits / 16];
            std::vector<uint8_t> arrived(pristine.Pixels(),
                                         pristine.Pixels() + pristine.SizeBytes());
            arrivedRow.lib[bits / 16] =
                Measure("ProcessFrame/" + std::to_string(bits) + "/arrived", restoreRaw(bits), [&] {
                    Host host(d.masks, EverythingOn(bits));
                    oneBand.ProcessFrame(images, host, arrived.data());
                });
        }
        if (!gCallgrind) {
            PrintRow(r);
            PrintRow(arrivedRow);
            // The camera's full rates at 8 and 16 bits.
            std::printf("|   core share at 71 / 36 fps | %.3f | | | %.3f | | | |\n",
                        r.lib[0].bestMs * 71 / 1000, r.lib[1].bestMs * 36 / 1000);
        }
        // Its two passes over the frame.
        Row corrections{"  of it: flat field and dot filter in one pass", {}, {}, ""};
        Row filters{"  of it: tables and sharpness in one pass", {}, {}, ""};
        for (int bits : {8, 16}) {
            const std::string tag = std::to_string(bits);
            corrections.lib[bits / 16] =
                Measure("corrections/" + tag + "/lib", d.Restore(bits), [&] {
                    FlatFieldAndDefectCorrect(d.Frame(bits), d.masks, d.geometry,
                                              DefectThresholdFor(bits, 16),
                                              DefectThresholdFor(bits, 12));
                });
            filters.lib[bits / 16] = Measure("filters/" + tag + "/lib", d.Restore(bits), [&] {
                ApplyTonesAndSharpness(d.Frame(bits), &tone[bits / 16], 10, nullptr);
            });
        }
        if (!gCallgrind) {
            PrintRow(corrections);
            PrintRow(filters);
        }
    }
    if (!bands || gCallgrind) return 0;

    std::printf(
        "\nRow bands: one band against two on this machine's %d processors (wall / CPU "
        "of all threads, median ms)\n\n| stage | bits | 1 band | 2 bands | wall gain | CPU "
        "added |\n|---|---|---|---|---|---|\n",
        static_cast<int>(std::thread::hardware_concurrency()));
    RowBandPool two(2);
    auto bandRow = [&](const std::string& name, int bits, const std::function<void()>& one,
                       const std::function<void()>& both, std::function<void()> prepare = nullptr) {
        if (!Wanted(only, name)) return;
        if (!prepare) prepare = d.Restore(bits);
        const Figure a = Measure(name, prepare, one);
        const Figure b = Measure(name, prepare, both);
        std::printf("| %s | %d | %.2f / %.2f | %.2f / %.2f | %.0f%% | %+.0f%% |\n", name.c_str(),
                    bits, a.ms, a.cpuMs, b.ms, b.cpuMs, 100.0 * (a.ms - b.ms) / a.ms,
                    100.0 * (b.cpuMs - a.cpuMs) / a.cpuMs);
        std::fflush(stdout);
    };
    for (int bits : {8, 16}) {
        bandRow(
            "flat field", bits, [&] { FlatFieldCorrect(d.Frame(bits), d.masks, d.geometry); },
            [&] { FlatFieldCorrect(d.Frame(bits), d.masks, d.geometry, &two); });
        const int threshold = DefectThresholdFor(bits, 12);
        bandRow(
            "dot filter", bits,
            [&] { DefectCorrect(d.Frame(bits), d.masks, d.geometry, threshold); },
            [&] { DefectCorrect(d.Frame(bits), d.masks, d.geometry, threshold, &two); });
        bandRow(
            "gamma + contrast table", bits,
            [&] { ApplyLookupTable(d.Frame(bits), tone[bits / 16]); },
            [&] { ApplyLookupTable(d.Frame(bits), tone[bits / 16], &two); });
        bandRow(
            "sharpness", bits, [&] { ApplySharpnessInPlace(d.Frame(bits), 10); },
            [&] { ApplySharpnessInPlace(d.Frame(bits), 10, &two); });
        bandRow("ProcessFrame, everything on", bits, pipeline(bits, oneBand),
                pipeline(bits, twoBands), restoreRaw(bits));
    }
    return 0;
}
