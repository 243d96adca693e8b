// lumora stream: a callback preview for N frames or S seconds with any correction and filter
// switched on, reporting as it runs (a bar on a terminal, a line a second otherwise) and at the
// end the rate, the throughput, the CPU time per frame and, from the camera's frame counter, how
// many frames it sent that were skipped or failed. SIGINT or SIGTERM ends the run early with the
// same summary. --every-frame takes every frame through a queue instead of the newest one;
// --verbose prints each frame's metadata.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "Settings.h"

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
    bool verbose = false;
    bool everyFrame = false;
    int queue = 8;
};

struct FrameTally {
    std::atomic<long> frames{0};
    std::atomic<long> errors{0};
    std::atomic<long> deviceLost{0};
    int handle = 0;
    bool verbose = false;
    // Written by the callback thread only; read after the window is destroyed.
    std::chrono::steady_clock::time_point first;
    std::chrono::steady_clock::time_point last;
};

// One line per frame: the camera's counter, the host's arrival (monotonic seconds and wall
// time), the settings in effect and what was lost before it.
void PrintMeta(const LumoraFrameMeta& m, uint64_t dropped) {
    const auto wallSeconds = static_cast<double>(m.arrivalWallNs) / 1e9;
    std::printf(
        "frame %10u  t %.6f s  wall %.6f  exposure %.6f s  gain %d  black %d  bits %d  "
        "window %d,%d %dx%d sub %d  ",
        m.frameCounter, static_cast<double>(m.arrivalNs) / 1e9, wallSeconds, m.exposureSeconds,
        m.gain, m.blackLevel, m.bitDepth, m.windowX, m.windowY, m.windowWidth, m.windowHeight,
        m.subSample);
    if (m.temperatureValid != 0) {
        std::printf("temp %.3f C  ", m.temperature);
    } else {
        std::printf("temp -  ");
    }
    std::printf("skipped %llu  dropped %llu\n", static_cast<unsigned long long>(m.skippedBefore),
                static_cast<unsigned long long>(dropped));
}

void OnFrame(const LumoraHostMessage* message, void* user) {
    auto* tally = static_cast<FrameTally*>(user);
    if (message->message != LUMORA_MSG_FRAME) return;
    if (message->wParam != 0) {
        const auto now = std::chrono::steady_clock::now();
        if (tally->frames.load() == 0) tally->first = now;
        tally->last = now;
        ++tally->frames;
        LumoraFrameMeta meta{};
        if (tally->verbose && LumoraHost_GetFrameMeta(tally->handle, &meta) == 1) {
            PrintMeta(meta, 0);
        }
    } else {
        ++tally->errors;
        if (message->lParam == ERR_DEVICE_LOST) ++tally->deviceLost;
    }
}

// The corrections and filters the options ask for, for this run only.
void ApplyProcessing(Camera& camera, const StreamOptions& o) {
    const int h = camera.Handle();
    if (!o.maskFile.empty()) {
        camera.Check(Lumora_LoadMaskFile(h, o.maskFile.c_str()), "cannot load the mask file");
    }
    const bool all = o.all;
    struct Option {
        const std::optional<int>& value;
        int allValue;  // what --all uses when the option itself is not given; -1: untouched
        const char* setting;
        const char* option;
    };
    const Option numbers[] = {
        {o.gamma, 140, "gamma", "--gamma"},
        {o.contrast, 20, "contrast", "--contrast"},
        {o.sharpness, 10, "sharpness", "--sharpness"},
        {o.brightness, 10, "brightness", "--brightness"},
        {o.hue, -1, "hue", "--hue"},
        {o.saturation, -1, "saturation", "--saturation"},
        {o.waitTime, -1, "wait-time", "--wait-time"},
    };
    std::vector<ProfileEntry> entries;
    for (const Option& n : numbers) {
        const std::optional<int> value =
            n.value ? n.value
                    : (all && n.allValue >= 0 ? std::optional<int>(n.allValue) : std::nullopt);
        if (value) {
            entries.push_back({n.setting, std::to_string(*value),
                               std::string(n.option) + " " + std::to_string(*value), 0});
        }
    }
    static const char* const kGrayModes[] = {"off", "gain-offset", "luminance"};
    if (o.grayMode) {
        const std::string option = "--gray-mode " + std::to_string(*o.grayMode);
        if (*o.grayMode < 0 || *o.grayMode > 2) throw UsageError{option + ": allowed 0, 1, 2"};
        entries.push_back({"gray-mode", kGrayModes[*o.grayMode], option, 0});
    }
    static const char* const kIrisModes[] = {"off", "exposure", "gain"};
    if (o.autoIris) {
        const std::string option = "--auto-iris " + std::to_string(*o.autoIris);
        if (*o.autoIris < 0 || *o.autoIris > 2) throw UsageError{option + ": allowed 0, 1, 2"};
        entries.push_back({"auto-iris", kIrisModes[*o.autoIris], option, 0});
    }
    if (o.maskFilter || all) entries.push_back({"mask-filter", "on", "--mask-filter", 0});
    if (o.dotFilter || all) entries.push_back({"dot-filter", "on", "--dot-filter", 0});
    ApplySettings(camera, entries, false);
}

constexpr double kMegabyte = 1e6;

// Progress between frames: a redrawn bar on a terminal, one line a second otherwise.
class ProgressView {
public:
    ProgressView(double seconds, long frames, double frameBytes, bool terminal)
        : seconds_(seconds), frames_(frames), frameBytes_(frameBytes), terminal_(terminal) {}

    void Show(double elapsed, long delivered, uint64_t lost) {
        if (delivered > 0 && firstAt_ < 0) {
            firstAt_ = elapsed;
            firstFrames_ = delivered;
        }
        const double span = firstAt_ >= 0 ? elapsed - firstAt_ : 0;
        const double fps = span > 0.2 ? static_cast<double>(delivered - firstFrames_) / span : 0.0;
        const double mbs = fps * frameBytes_ / kMegabyte;
        if (terminal_) {
            constexpr int kWidth = 30;
            const double done =
                seconds_ > 0 ? elapsed / seconds_ : static_cast<double>(delivered) / frames_;
            const int filled = std::min(kWidth, static_cast<int>(kWidth * done));
            std::string bar(static_cast<size_t>(std::max(filled, 0)), '#');
            bar.resize(kWidth, '.');
            std::printf("\r[%s] %6.1f s  %6ld frames  %5.1f fps  %7.1f MB/s  %llu lost ",
                        bar.c_str(), elapsed, delivered, fps, mbs,
                        static_cast<unsigned long long>(lost));
            std::fflush(stdout);
            shownBar_ = true;
            return;
        }
        if (elapsed - lastLine_ < 1.0) return;
        lastLine_ = elapsed;
        std::printf("progress %.1f s, %ld frames, %.1f fps, %.1f MB/s, %llu lost\n", elapsed,
                    delivered, fps, mbs, static_cast<unsigned long long>(lost));
        std::fflush(stdout);
    }
    // Ends the bar's line so the summary starts on a fresh one.
    void End() {
        if (shownBar_) std::printf("\n");
    }

private:
    double seconds_;
    long frames_;
    double frameBytes_;
    bool terminal_;
    bool shownBar_ = false;
    double lastLine_ = 0;
    double firstAt_ = -1;
    long firstFrames_ = 0;
};

int Stream(const Options& options, const CaptureOptions& capture, StreamOptions stream) {
    if (stream.frames < 0)
        throw UsageError{"-n " + std::to_string(stream.frames) +
                         ": give a number of frames above 0"};
    if (stream.seconds < 0) {
        throw UsageError{"-s " + std::to_string(stream.seconds) + ": give seconds above 0"};
    }
    if (stream.frames == 0 && stream.seconds == 0) stream.seconds = 5;
    // From the start: a Ctrl-C while the camera opens ends the run as soon as it has begun.
    StopSignals signals;
    if (stream.fast) LumoraSim_SetFastMode(1);
    Camera camera(options);
    const int h = camera.Handle();
    ApplyCaptureSettings(camera, capture);
    ApplyProcessing(camera, stream);
    const FrameSize size = CurrentFrameSize(h);
    std::vector<unsigned char> buffer(size.Bytes());

    FrameTally tally;
    tally.handle = h;
    tally.verbose = stream.verbose;
    if (stream.verbose) {
        // The temperature each line shows is the last one read.
        int valid = 0;
        Lumora_GetTemperatureEx(h, &valid);
    }
    if (stream.everyFrame && (stream.queue < 1 || stream.queue > 256)) {
        throw UsageError{"--queue " + std::to_string(stream.queue) + ": allowed 1 to 256"};
    }
    HWND frameWindow = LumoraHost_CreateCallbackWindow(&OnFrame, &tally);
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const int started = stream.everyFrame
                            ? LumoraHost_StartQueuedPreview(h, stream.queue, nullptr, 0, 1)
                            : Lumora_CallBackPreview(h, frameWindow, buffer.data(),
                                                     static_cast<int>(buffer.size()), 1);
    if (started == 0) {
        LumoraHost_DestroyWindow(frameWindow);
        camera.Check(0, "cannot start the stream");
    }
    ProgressView view(stream.seconds, stream.frames, static_cast<double>(buffer.size()),
                      OutputIsTerminal() && !stream.verbose);
    LumoraStreamStats stats{};
    while ((stream.seconds <= 0 || elapsed() < stream.seconds) &&
           (stream.frames <= 0 || tally.frames.load() < stream.frames) &&
           tally.deviceLost.load() == 0) {
        if (stream.everyFrame) {
            LumoraQueuedFrame frame{};
            const int got = LumoraHost_WaitQueuedFrame(h, 50, &frame);
            if (got < 0) break;  // the run ended (the camera was lost)
            if (got == 1) {
                const auto now = std::chrono::steady_clock::now();
                if (tally.frames.load() == 0) tally.first = now;
                tally.last = now;
                ++tally.frames;
                if (stream.verbose) PrintMeta(frame.meta, frame.droppedBefore);
                LumoraHost_ReleaseQueuedFrame(h, frame.index, nullptr);
            }
            if (signals.Wait(0)) break;
        } else if (signals.Wait(stream.frames > 0 ? 5 : 50)) {
            break;
        }
        LumoraHost_GetStreamStats(h, &stats);
        if (!stream.verbose) view.Show(elapsed(), tally.frames.load(), stats.framesSkipped);
    }
    const auto stopStart = std::chrono::steady_clock::now();
    Lumora_StopPreview(h);
    const double stopMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopStart)
            .count();
    const double total = elapsed();
    const double cpu = CpuSeconds() - cpuStart;
    LumoraHost_GetStreamStats(h, &stats);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frameWindow);
    if (stream.fast) LumoraSim_SetFastMode(0);
    view.End();

    const long delivered = tally.frames.load();
    // The rate between the first and the last frame, so start-up does not count against it.
    const double span = std::chrono::duration<double>(tally.last - tally.first).count();
    const double rate = delivered > 1 && span > 0 ? (delivered - 1) / span : 0.0;
    if (signals.Stopped()) std::printf("stopped          by signal %d\n", signals.Signal());
    std::printf("frames           %ld in %.2f s\n", delivered, total);
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
    std::fflush(stdout);
    if (tally.deviceLost.load() != 0) throw CommandError{"the camera was lost", ERR_DEVICE_LOST};
    return signals.Stopped() ? signals.ExitStatus() : 0;
}

}  // namespace

CommandEntry AddStreamCommand(CLI::App& app, CommandContext& context) {
    auto stream = std::make_shared<StreamOptions>();
    auto* command = app.add_subcommand(
        "stream", "stream frames and report the rate and losses (Ctrl-C stops with the summary)");
    context.addCaptureOptions(command);
    command->add_option("-n,--frames", stream->frames, "stop after N frames");
    command->add_option("-s,--seconds", stream->seconds, "stop after S seconds (default 5)");
    command->add_flag("--mask-filter", stream->maskFilter, "flat-field correction");
    command->add_option("--mask-file", stream->maskFile, "load the flat-field references first");
    command->add_flag("--dot-filter", stream->dotFilter, "defective-pixel correction");
    command->add_option("--gamma", stream->gamma, "gamma, 100 = off");
    command->add_option("--contrast", stream->contrast, "contrast, 0 = off");
    command->add_option("--sharpness", stream->sharpness, "sharpness, 0 = off");
    command->add_option("--brightness", stream->brightness, "brightness, 0 = off");
    command->add_option("--hue", stream->hue, "hue (colour modes)");
    command->add_option("--saturation", stream->saturation, "saturation (colour modes)");
    command->add_option("--gray-mode", stream->grayMode, "gray mode 0, 1 or 2");
    command->add_option("--auto-iris", stream->autoIris, "0 off, 1 exposure, 2 gain");
    command->add_option("--wait-time", stream->waitTime, "pause of the capture loop in ms");
    command->add_flag("--all", stream->all,
                      "flat field, dot filter, gamma 140, contrast 20, sharpness 10, brightness "
                      "10 (options given as well take precedence)");
    command->add_flag("--fast", stream->fast, "simulated cameras: no frame-period waits");
    command->add_flag("-v,--verbose", stream->verbose,
                      "print each frame's counter, arrival time and settings");
    command->add_flag("--every-frame", stream->everyFrame,
                      "take every frame in order through a queue, not the newest");
    command->add_option("--queue", stream->queue, "buffers of the --every-frame queue (8)");
    Options& options = context.options;
    CaptureOptions& capture = context.capture;
    return CommandEntry{command,
                        [&options, &capture, stream] { return Stream(options, capture, *stream); }};
}

}  // namespace lumora_cli
