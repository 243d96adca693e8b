// lumora preview: the live picture in a window of the desktop. The command does what an
// application would: it makes its own window (DesktopWindow, each system's) and lets the SDK
// draw the picture into a child covering it, while the title shows the frame rate and
// temperature.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "DesktopWindow.h"

namespace lumora_cli {
namespace {

struct FrameCounter {
    std::atomic<long> frames{0};
    std::atomic<long> failed{0};
    std::atomic<bool> deviceLost{false};
};

void OnFrame(const LumoraHostMessage* message, void* user) {
    auto* counter = static_cast<FrameCounter*>(user);
    if (message->message != LUMORA_MSG_FRAME) return;
    if (message->wParam != 0) {
        ++counter->frames;
    } else {
        ++counter->failed;
        if (message->lParam == ERR_DEVICE_LOST) counter->deviceLost = true;
    }
}

int PreviewCommand(const Options& options, const CaptureOptions& capture, int scale,
                   double seconds) {
    // Declared before the camera, so that a failure closes the camera before the window goes.
    const std::unique_ptr<DesktopWindow> desktop = OpenDesktopWindow();
    if (desktop == nullptr) return kExitFailure;
    StopSignals signals;
    Camera camera(options);
    const int h = camera.Handle();
    ApplyCaptureSettings(camera, capture);
    const FrameSize size = CurrentFrameSize(h);
    const int pictureWidth = size.width;
    const int pictureHeight = size.height;
    if (scale <= 0) {
        // The smallest reduction that fits the screen, with room for the window's frame.
        scale = 1;
        while (pictureWidth / scale > desktop->ScreenWidth() - 64 ||
               pictureHeight / scale > desktop->ScreenHeight() - 96) {
            ++scale;
        }
    }
    const int width = std::max(pictureWidth / scale, 1);
    const int height = std::max(pictureHeight / scale, 1);

    HWND parent = desktop->Create(width, height);
    FrameCounter counter;
    HWND frames = LumoraHost_CreateCallbackWindow(&OnFrame, &counter);
    camera.Check(Lumora_SetPreviewWindow(h, parent, 0, 0, width, height),
                 "cannot place the preview window");
    camera.Check(Lumora_CallBackPreview(h, frames, nullptr, 0, 0), "cannot start the preview");

    std::printf("showing %d x %d frames in a window: close it or press Ctrl-C to stop\n",
                pictureWidth, pictureHeight);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    auto lastTitle = start;
    long lastFrames = 0;
    bool open = true;
    while (open && !signals.Stopped() && !counter.deviceLost.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (seconds > 0 && now - start >= std::chrono::duration<double>(seconds)) break;
        const double sinceTitle = std::chrono::duration<double>(now - lastTitle).count();
        if (sinceTitle >= 1.0) {
            const long total = counter.frames.load();
            int valid = 0;
            const double temperature = Lumora_GetTemperatureEx(h, &valid);
            char title[160];
            if (valid != 0) {
                std::snprintf(title, sizeof title, "Lumora preview - %d x %d - %.1f fps - %.1f °C",
                              pictureWidth, pictureHeight, (total - lastFrames) / sinceTitle,
                              temperature);
            } else {
                std::snprintf(title, sizeof title, "Lumora preview - %d x %d - %.1f fps",
                              pictureWidth, pictureHeight, (total - lastFrames) / sinceTitle);
            }
            desktop->SetTitle(title);
            lastFrames = total;
            lastTitle = now;
        }
        open = desktop->Pump(50);
    }
    Lumora_StopPreview(h);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frames);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld frames in %.1f s (%.1f fps), %ld failed\n", counter.frames.load(), elapsed,
                elapsed > 0 ? counter.frames.load() / elapsed : 0.0, counter.failed.load());
    if (counter.deviceLost.load()) throw CommandError{"the camera was lost", ERR_DEVICE_LOST};
    return signals.Stopped() ? signals.ExitStatus() : 0;
}

}  // namespace

CommandEntry AddPreviewCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand(
        "preview", "show the live picture in a window until it is closed, Ctrl-C or --seconds");
    context.addCaptureOptions(command);
    auto scale = std::make_shared<int>(0);
    auto seconds = std::make_shared<double>(0);
    command->add_option("--scale", *scale, "show the picture reduced N times (default: to fit)")
        ->check(CLI::Range(1, 64));
    command->add_option("--seconds", *seconds, "stop after S seconds")
        ->check(CLI::NonNegativeNumber);
    return CommandEntry{command, [&context, scale, seconds] {
                            return PreviewCommand(context.options, context.capture, *scale,
                                                  *seconds);
                        }};
}

}  // namespace lumora_cli
