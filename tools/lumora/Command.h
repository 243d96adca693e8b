// Shared pieces of the lumora command: the session wrapper, the option blocks and the error
// reporting that every subcommand uses. Each subcommand lives in a file of its own and adds
// itself in main.cpp through its Add...Command function.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "lumora/host.h"
#include "lumora/lumora.h"

namespace lumora_cli {

const char* ErrorMeaning(int code);

// The command's own failure: the SDK's newest code and its meaning, then a non-zero exit.
struct CommandError {
    std::string what;
    int code;
};

// One session on one camera (device -1: the only camera, or device 0 when several are present).
class Camera {
public:
    explicit Camera(int device);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    int Handle() const { return handle_; }

    // Throws with the newest recorded code when `result` is 0.
    void Check(int result, const std::string& what);
    // Empties the notification queue.
    void Drain();

private:
    HWND events_ = nullptr;
    int handle_ = 0;
};

struct Options {
    int sim = -1;
    int device = -1;
};

// Selects the simulated cameras when --sim was given.
void ApplySim(const Options& options);

struct SnapOptions {
    int bits = 8;
    std::vector<int> window;
    int exposure = -1;        // 0.1 ms units
    double exposureSec = -1;  // seconds
    int gain = -1;
    int subsample = 0;
    bool mirrorH = false;
    bool mirrorV = false;
    std::vector<std::string> outputs;
};

// The file format code of Lumora_SaveImage for a file name's extension.
int FormatFor(const std::string& path);
void ApplyCaptureSettings(Camera& camera, const SnapOptions& options);
// CPU time of the whole process so far, in seconds.
double CpuSeconds();

// What a subcommand needs when it adds itself: the global options, the capture option block
// and the function that adds the capture options (-b, -w, -e, ...) to a subcommand.
struct CommandContext {
    Options& options;
    SnapOptions& capture;
    std::function<void(CLI::App*)> addCaptureOptions;
};
// A subcommand's body, run when it was the one chosen.
using CommandRunner = std::function<int()>;
struct CommandEntry {
    CLI::App* command;
    CommandRunner run;
};

// lumora preview: the live picture in a window (PreviewCommand.cpp).
CommandEntry AddPreviewCommand(CLI::App& app, CommandContext& context);
// `lumora dialog camera|image|analog`.
CommandEntry AddDialogCommand(CLI::App& app, CommandContext& context);
// `lumora doctor`: what the SDK sees on the USB bus and what to fix.
CommandEntry AddDoctorCommand(CLI::App& app, CommandContext& context);
// `lumora stream`: frames at the camera's pace, with every correction and filter on demand.
CommandEntry AddStreamCommand(CLI::App& app, CommandContext& context);
// `lumora record FILE.avi -s SECONDS`: an AVI recording with a progress display.
CommandEntry AddRecordCommand(CLI::App& app, CommandContext& context);

}  // namespace lumora_cli
