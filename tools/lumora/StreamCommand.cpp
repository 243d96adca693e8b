// lumora stream: a callback preview for N frames or S seconds with any correction and filter
// switched on, reporting the rate, the throughput, the CPU time per frame and, from the
// camera's frame counter, how many frames it sent that were skipped or failed.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Command.h"

namespace lumora_cli {
namespace {

struct StreamOptions {
    int frames = 0;
    double seconds = 0;
    bool maskFilter = false;
    bool dotFilter = false;
    std::string maskFile;
    std::optional<int> gamma;
    std::optional<int> contrast;
    std::optional<int> sharpness;
    std::optional<int> brightness;
    std::optional<int> hue;
    std::optional<int> saturation;
    std::optional<int> grayMode;
    std::optional<int> autoIris;
    std::optional<int> waitTime;
    bool all = false;
    bool fast = false;
};

struct FrameTally {
    std::atomic<long> frames{0};
    std::atomic<long> errors{0};
    std::atomic<long> deviceLost{0};
    // Written by the callback thread only; read after the window is destroyed.
    std::chrono::steady_clock::time_point first;
    std::chrono::steady_clock::time_point last;
};

void OnFrame(const LumoraHostMessage* message, void* user) {
    auto* tally = static_cast<FrameTally*>(user);
    if (message->message != LUMORA_MSG_FRAME) return;
    if (message->wParam != 0) {
        const auto now = std::chrono::steady_clock::now();
        if (tally->frames.load() == 0) tally->first = now;
        tally->last = now;
        ++tally->frames;
    } else {
        ++tally->errors;
        if (message->lParam == ERR_DEVICE_LOST) ++tally->deviceLost;
    }
}

// The corrections and filters the options ask for, each refused value reported by the SDK.
void ApplyProcessing(Camera& camera, const StreamOptions& o) {
    const int h = camera.Handle();
    if (!o.maskFile.empty()) {
        camera.Check(Lumora_LoadMaskFile(h, o.maskFile.c_str()), "cannot load the mask file");
    }
    const bool all = o.all;
    camera.Check(Lumora_SetMaskFilter(h, o.maskFilter || all ? 1 : 0), "mask filter refused");
    camera.Check(Lumora_SetDotFilter(h, o.dotFilter || all ? 1 : 0), "dot filter refused");
    struct Setting {
        const std::optional<int>& value;
        int allValue;  // what --all uses when the option itself is not given; -1: untouched
        int (*set)(int, int);
        const char* name;
    };
    const Setting settings[] = {
        {o.gamma, 140, Lumora_SetGamma, "gamma"},
        {o.contrast, 20, Lumora_SetContrast, "contrast"},
        {o.sharpness, 10, Lumora_SetSharpness, "sharpness"},
        {o.brightness, 10, Lumora_SetBrightness, "brightness"},
        {o.hue, -1, Lumora_SetHue, "hue"},
        {o.saturation, -1, Lumora_SetSaturation, "saturation"},
        {o.grayMode, -1, Lumora_SetGrayMode, "gray mode"},
        {o.autoIris, -1, Lumora_SetAutoIris, "auto iris"},
        {o.waitTime, -1, Lumora_SetWaitTime, "wait time"},
    };
    for (const Setting& s : settings) {
        const std::optional<int> value =
            s.value ? s.value
                    : (all && s.allValue >= 0 ? std::optional<int>(s.allValue) : std::nullopt);
        if (value) camera.Check(s.set(h, *value), std::string(s.name) + " refused");
    }
}

int Stream(const Options& options, const SnapOptions& snap, StreamOptions stream) {
    if (stream.frames <= 0 && stream.seconds <= 0) stream.seconds = 5;
    ApplySim(options);
    if (stream.fast) LumoraSim_SetFastMode(1);
    Camera camera(options.device);
    const int h = camera.Handle();
    ApplyCaptureSettings(camera, snap);
    ApplyProcessing(camera, stream);
    const int bytesPerPixel = snap.bits / 8;
    const int divisor = snap.subsample != 0 ? 2 : 1;
    const int width = Lumora_Width(h) / divisor;
    const int height = Lumora_Height(h) / divisor;
    const int stride = (width * bytesPerPixel + 3) & ~3;
    std::vector<unsigned char> buffer(static_cast<size_t>(stride) * height);

    FrameTally tally;
    HWND frameWindow = LumoraHost_CreateCallbackWindow(&OnFrame, &tally);
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    camera.Check(
        Lumora_CallBackPreview(h, frameWindow, buffer.data(), static_cast<int>(buffer.size()), 1),
        "cannot start the preview");
    const auto limit = stream.seconds > 0 ? std::chrono::duration<double>(stream.seconds)
                                          : std::chrono::duration<double>(3600.0);
    while (std::chrono::steady_clock::now() - start < limit &&
           (stream.frames <= 0 || tally.frames.load() < stream.frames) &&
           tally.deviceLost.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto stopStart = std::chrono::steady_clock::now();
    Lumora_StopPreview(h);
    const double stopMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopStart)
            .count();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    LumoraStreamStats stats{};
    LumoraHost_GetStreamStats(h, &stats);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frameWindow);
    if (stream.fast) LumoraSim_SetFastMode(0);

    const long delivered = tally.frames.load();
    // The rate between the first and the last frame, so start-up does not count against it.
    const double span = std::chrono::duration<double>(tally.last - tally.first).count();
    const double rate = delivered > 1 && span > 0 ? (delivered - 1) / span : 0.0;
    std::printf("frames           %ld in %.2f s\n", delivered, elapsed);
    std::printf("frame rate       %.1f frames/s\n", rate);
    std::printf("throughput       %.1f MB/s\n", rate * static_cast<double>(buffer.size()) / 1e6);
    std::printf("frames sent      %llu by the camera\n",
                static_cast<unsigned long long>(stats.framesSent));
    std::printf("frames lost      %llu (sent, never delivered)\n",
                static_cast<unsigned long long>(stats.framesSkipped));
    std::printf("frames failed    %llu (%ld error messages)\n",
                static_cast<unsigned long long>(stats.framesFailed), tally.errors.load());
    std::printf("CPU per frame    %.2f ms\n", delivered > 0 ? 1000.0 * cpu / delivered : 0.0);
    std::printf("stop             %.1f ms\n", stopMs);
    if (tally.deviceLost.load() != 0) throw CommandError{"the camera was lost", ERR_DEVICE_LOST};
    return 0;
}

}  // namespace

CommandEntry AddStreamCommand(CLI::App& app, CommandContext& context) {
    auto stream = std::make_shared<StreamOptions>();
    auto* command = app.add_subcommand("stream", "stream frames and report the rate and losses");
    context.addCaptureOptions(command);
    command->add_option("-n,--frames", stream->frames, "stop after N frames");
    command->add_option("-s,--seconds", stream->seconds, "stop after S seconds (default 5)");
    command->add_flag("--mask-filter", stream->maskFilter, "flat-field correction");
    command->add_option("--mask-file", stream->maskFile, "load the flat-field references first");
    command->add_flag("--dot-filter", stream->dotFilter, "defective-pixel correction");
    command->add_option("--gamma", stream->gamma, "gamma, 100 = off")->check(CLI::Range(0, 200));
    command->add_option("--contrast", stream->contrast, "contrast, 0 = off")
        ->check(CLI::Range(-127, 127));
    command->add_option("--sharpness", stream->sharpness, "sharpness, 0 = off")
        ->check(CLI::Range(0, 30));
    command->add_option("--brightness", stream->brightness, "brightness, 0 = off")
        ->check(CLI::Range(-255, 255));
    command->add_option("--hue", stream->hue, "hue (colour modes)");
    command->add_option("--saturation", stream->saturation, "saturation (colour modes)");
    command->add_option("--gray-mode", stream->grayMode, "gray mode 0, 1 or 2");
    command->add_option("--auto-iris", stream->autoIris, "0 off, 1 exposure, 2 gain");
    command->add_option("--wait-time", stream->waitTime, "pause of the capture loop in ms");
    command->add_flag("--all", stream->all,
                      "flat field, dot filter, gamma 140, contrast 20, sharpness 10, brightness "
                      "10 (options given as well take precedence)");
    command->add_flag("--fast", stream->fast, "simulated cameras: no frame-period waits");
    Options& options = context.options;
    SnapOptions& capture = context.capture;
    return CommandEntry{command,
                        [&options, &capture, stream] { return Stream(options, capture, *stream); }};
}

}  // namespace lumora_cli
