// The choice of window backend.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/Log.h"
#include "platform/Window.h"
#include "platform/WindowOffscreen.h"
#include "platform/WindowX11.h"

namespace lumora::platform {
namespace {

std::mutex gSystemMutex;  // guards gSystem
std::shared_ptr<WindowSystem> gSystem;

std::shared_ptr<WindowSystem> ChooseSystem() {
    const char* choice = std::getenv("LUMORA_WINDOW");
    const bool debug = LogEnabled(LogCategory::kWindow);
    if (choice != nullptr && std::strcmp(choice, "offscreen") == 0) {
        return std::make_shared<OffscreenWindowSystem>();
    }
    if (debug && choice != nullptr && *choice != '\0' && std::strcmp(choice, "x11") != 0) {
        Log(LogCategory::kWindow, 1,
            "lumora: LUMORA_WINDOW=%s is neither x11 nor offscreen; trying x11\n", choice);
    }
    if (auto x11 = X11WindowSystem::Shared()) return x11;
    if (debug) {
        const char* display = std::getenv("DISPLAY");
        Log(LogCategory::kWindow, 1,
            "lumora: no X display reachable (DISPLAY=%s); preview windows are kept offscreen\n",
            display != nullptr ? display : "");
    }
    return std::make_shared<OffscreenWindowSystem>();
}

}  // namespace

WindowSystem& WindowSystem::Current() {
    std::lock_guard lock(gSystemMutex);
    if (gSystem == nullptr) gSystem = ChooseSystem();
    return *gSystem;
}

void WindowSystem::Install(std::shared_ptr<WindowSystem> system) {
    std::lock_guard lock(gSystemMutex);
    gSystem = std::move(system);
}

}  // namespace lumora::platform
