// lumora record: an AVI recording of the processed frames for S seconds through Lumora_Record,
// with a progress bar on a terminal (plain progress lines otherwise) and, at the end, the frame
// count, the measured rate and the file size. Ctrl-C (or SIGTERM) ends the recording early with
// a finished file: the handler only wakes the main loop, which stops the run through the SDK.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Command.h"

namespace lumora_cli {
namespace {

struct RecordOptions {
    std::string path;
    double seconds = 0;
};

constexpr double kMegabyte = 1e6;

// Progress between frames: a redrawn bar on a terminal, one line a second otherwise.
class ProgressView {
public:
    ProgressView(double totalSeconds, bool terminal) : total_(totalSeconds), terminal_(terminal) {}

    void Show(double elapsed, const LumoraRecordStats& s, bool force) {
        // The rate since frames were first seen in the file, so the start-up does not count.
        if (s.framesWritten > 0 && firstFrameAt_ < 0) {
            firstFrameAt_ = elapsed;
            firstFrames_ = s.framesWritten;
        }
        const double span = firstFrameAt_ >= 0 ? elapsed - firstFrameAt_ : 0;
        const double fps =
            span > 0.2 ? static_cast<double>(s.framesWritten - firstFrames_) / span : 0.0;
        const double mb = static_cast<double>(s.bytesWritten) / kMegabyte;
        // The duration runs from the first frame, as the recorder measures it.
        const double shown = span < total_ ? span : total_;
        if (terminal_) {
            constexpr int kWidth = 30;
            const int filled = total_ > 0 ? static_cast<int>(kWidth * shown / total_) : 0;
            std::string bar(static_cast<size_t>(filled), '#');
            bar.resize(kWidth, '.');
            std::printf("\r[%s] %6.1f/%.1f s  %6llu frames  %9.1f MB  %5.1f fps  %llu skipped ",
                        bar.c_str(), shown, total_,
                        static_cast<unsigned long long>(s.framesWritten), mb, fps,
                        static_cast<unsigned long long>(s.framesSkipped));
            std::fflush(stdout);
            shownBar_ = true;
            return;
        }
        if (!force && elapsed - lastLine_ < 1.0) return;
        lastLine_ = elapsed;
        std::printf("progress %.1f/%.1f s, %llu frames, %.1f MB, %.1f fps, %llu skipped\n", shown,
                    total_, static_cast<unsigned long long>(s.framesWritten), mb, fps,
                    static_cast<unsigned long long>(s.framesSkipped));
        std::fflush(stdout);
    }
    // Ends the bar's line so the summary starts on a fresh one.
    void End() {
        if (shownBar_) std::printf("\n");
    }

private:
    double total_;
    bool terminal_;
    bool shownBar_ = false;
    double lastLine_ = 0;
    double firstFrameAt_ = -1;
    uint64_t firstFrames_ = 0;
};

// Every code the session recorded, newest first, emptied from the history.
std::vector<int> TakeCodes(int handle) {
    std::vector<int> codes;
    for (int code; codes.size() < 20 && (code = Lumora_GetLastError(handle)) != 0;) {
        codes.push_back(code);
    }
    return codes;
}

bool Contains(const std::vector<int>& codes, int code) {
    for (int c : codes) {
        if (c == code) return true;
    }
    return false;
}

int Record(const Options& options, const CaptureOptions& capture, const RecordOptions& record) {
    if (!(record.seconds > 0) || record.seconds > INT_MAX / 1000.0) {
        throw UsageError{"-s " + std::to_string(record.seconds) +
                         ": the duration goes from above 0 to " + std::to_string(INT_MAX / 1000) +
                         " seconds"};
    }
    std::string extension = std::filesystem::path(record.path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (extension != ".avi") {
        throw UsageError{record.path + ": record writes uncompressed AVI files; name the file " +
                         "with .avi"};
    }
    CheckWritable(record.path);
    // From the start: a Ctrl-C while the camera opens ends the recording as soon as it begins.
    StopSignals signals;
    Camera camera(options);
    const int h = camera.Handle();
    ApplyCaptureSettings(camera, capture);
    TakeCodes(h);

    const int durationMs = static_cast<int>(record.seconds * 1000.0 + 0.5);
    const auto start = std::chrono::steady_clock::now();
    if (Lumora_Record(h, record.path.c_str(), durationMs, 0) == 0) {
        // The session closes the run and adds code 12 to whatever stopped it: name the cause.
        int cause = ERR_NONE;
        for (int code : TakeCodes(h)) {
            if (code != ERR_TEXT) cause = code;
        }
        throw CommandError{"cannot record to " + record.path, cause};
    }
    ProgressView view(record.seconds, OutputIsTerminal());
    LumoraRecordStats stats{};
    bool interrupted = false;
    const auto elapsed = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    for (;;) {
        interrupted = signals.Wait(100);
        LumoraHost_GetRecordStats(h, &stats);
        if (interrupted || stats.recording == 0) break;
        view.Show(elapsed(), stats, false);
    }
    // Stopping the run ends the recording and finishes the file before it returns.
    Lumora_StopPreview(h);
    LumoraHost_GetRecordStats(h, &stats);
    view.Show(elapsed(), stats, true);
    view.End();
    const std::vector<int> codes = TakeCodes(h);
    Lumora_Close(h);

    std::error_code error;
    const auto size = std::filesystem::file_size(record.path, error);
    if (interrupted) std::printf("stopped          by signal %d\n", signals.Signal());
    std::printf("file             %s\n", record.path.c_str());
    std::printf("frames           %llu\n", static_cast<unsigned long long>(stats.framesWritten));
    std::printf("frame rate       %.2f frames/s\n", stats.rate / 100.0);
    std::printf("frames skipped   %llu\n", static_cast<unsigned long long>(stats.framesSkipped));
    std::printf("file size        %llu bytes (%.1f MB)\n",
                static_cast<unsigned long long>(error ? 0 : size),
                error ? 0.0 : static_cast<double>(size) / kMegabyte);
    std::fflush(stdout);
    if (Contains(codes, ERR_DEVICE_LOST)) {
        throw CommandError{"the camera was lost; the file holds the frames before",
                           ERR_DEVICE_LOST};
    }
    if (Contains(codes, ERR_TEXT)) {
        throw CommandError{
            "writing the file failed (disk full?); the file holds the frames "
            "written completely",
            ERR_TEXT};
    }
    return interrupted ? signals.ExitStatus() : 0;
}

}  // namespace

CommandEntry AddRecordCommand(CLI::App& app, CommandContext& context) {
    auto record = std::make_shared<RecordOptions>();
    auto* command = app.add_subcommand(
        "record", "record an uncompressed AVI file (Ctrl-C stops early with a finished file)");
    context.addCaptureOptions(command);
    command->add_option("file", record->path, "the AVI file to write")->required();
    command->add_option("-s,--seconds", record->seconds, "how long to record")->required();
    Options& options = context.options;
    CaptureOptions& capture = context.capture;
    return CommandEntry{command,
                        [&options, &capture, record] { return Record(options, capture, *record); }};
}

}  // namespace lumora_cli
