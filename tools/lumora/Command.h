// Shared pieces of the lumora command: the session wrapper, the option blocks, the stop signals
// and the error reporting that every subcommand uses. Each subcommand lives in a file of its own
// and adds itself in main.cpp through its Add...Command function.
//
// Exit status: 0 done, 1 a failure (the camera, a file), 2 an argument the command cannot use
// (reported before anything is changed), 128 + the signal when SIGINT or SIGTERM ended a
// command early (130 for Ctrl-C).
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumora/host.h"
#include "lumora/lumora.h"

namespace lumora_cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kSensorWidth = 2560;
inline constexpr int kSensorHeight = 2048;

const char* ErrorMeaning(int code);

// A failure: what went wrong and the SDK's code for it (0: none, so only `what` is shown).
// Exits with 1.
struct CommandError {
    std::string what;
    int code = 0;
};

// An argument the command cannot use: what was given and what is allowed. Exits with 2.
struct UsageError {
    std::string what;
};

struct Options {
    int sim = -1;
    int device = -1;
    std::string profile;  // settings applied for this command only, after opening the camera
};

class Camera;

// What a command changed of the settings the SDK keeps for the camera (gain, exposure,
// mirrors, filters...), put back before the session ends so that only `lumora set` and
// `lumora load` change what later programs start with.
class SettingsScope {
public:
    // Notes the current value of setting `name` the first time it is about to change.
    void Remember(Camera& camera, const std::string& name);
    // The change of `name` is meant to last: it is not put back.
    void Keep(const std::string& name);
    // Puts back what was remembered; a setting the camera refuses is reported on stderr.
    void Restore(Camera& camera);

private:
    struct Saved {
        std::string name;
        std::function<void(Camera&)> restore;
    };
    std::vector<Saved> saved_;
};

// One session on one camera (device -1: the only camera, or device 0 when several are present).
// A --profile given to the command is applied on opening, for this command only.
class Camera {
public:
    explicit Camera(const Options& options);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    int Handle() const { return handle_; }
    SettingsScope& Scope() { return scope_; }
    const LUMORA_CAMERA_INFO& Info() const { return info_; }

    // Throws with the newest recorded code when `result` is 0.
    void Check(int result, const std::string& what);
    // Empties the notification queue.
    void Drain();

private:
    HWND events_ = nullptr;
    int handle_ = 0;
    LUMORA_CAMERA_INFO info_{};
    SettingsScope scope_;
};

// Selects the simulated cameras when --sim was given.
void ApplySim(const Options& options);

// The capture options that snap, stream, record and preview share. Each changes only what it
// names, and only for the command.
struct CaptureOptions {
    std::optional<int> bits;
    std::vector<int> window;            // x, y, width, height; empty: as it is
    std::optional<int> exposureTenths;  // -e: 0.1 ms units, as the SDK counts
    std::optional<double> exposureMs;
    std::optional<double> exposureSeconds;
    std::optional<int> gain;
    std::optional<int> subsample;
    std::optional<bool> mirrorH;
    std::optional<bool> mirrorV;
    std::vector<std::string> outputs;
    bool scale = false;
};

// Checks the options against the camera (before changing anything), then applies them.
void ApplyCaptureSettings(Camera& camera, const CaptureOptions& options);
// The size of the frames the prepared capture delivers: the window, halved when subsampled.
struct FrameSize {
    int width;
    int height;
    int bits;
    size_t Stride() const { return (static_cast<size_t>(width) * (bits / 8) + 3) & ~size_t{3}; }
    size_t Bytes() const { return Stride() * static_cast<size_t>(height); }
};
FrameSize CurrentFrameSize(int handle);
// The file format code of Lumora_SaveImage for a file name's extension; a usage error for one
// it does not know.
int FormatFor(const std::string& path);
// Throws a CommandError naming the system's reason when `path` cannot be written.
void CheckWritable(const std::string& path);
// A number as short as it can be written without losing what was set (to 1e-6).
std::string ShortNumber(double value);
// CPU time of the whole process so far, in seconds.
double CpuSeconds();
// True when standard output is a terminal (progress lines then redraw in place).
bool OutputIsTerminal();
int ProcessId();
// Renames `from` over `to`, replacing the file there; false (with errno set) on failure.
bool RenameOver(const std::string& from, const std::string& to);

// SIGINT and SIGTERM for the life of the object: the handler only wakes whoever waits, so a
// command stops its run through the SDK, prints its summary and exits with 128 + the signal.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to `ms` for a stop signal; true once one has arrived.
    bool Wait(int ms);
    bool Stopped() const;
    // The signal that arrived, 0 for none.
    int Signal() const;
    int ExitStatus() const { return 128 + Signal(); }
};

// What a subcommand needs when it adds itself: the global options, the capture option block
// and the function that adds the capture options (-b, -w, -e, ...) to a subcommand.
struct CommandContext {
    Options& options;
    CaptureOptions& capture;
    std::function<void(CLI::App*)> addCaptureOptions;
};
// A subcommand's body, run when it was the one chosen.
using CommandRunner = std::function<int()>;
struct CommandEntry {
    CLI::App* command;
    CommandRunner run;
};

// lumora snap: one frame saved in any format (SnapCommand.cpp).
CommandEntry AddSnapCommand(CLI::App& app, CommandContext& context);
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
// `lumora features|get|set|save|load`: the camera's settings (SettingsCommand.cpp).
std::vector<CommandEntry> AddSettingsCommands(CLI::App& app, CommandContext& context);

}  // namespace lumora_cli
