// The choice of window backend.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/Log.h"
#include "platform/Window.h"
#include "platform/WindowNative.h"
#include "platform/WindowOffscreen.h"

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
    if (debug && choice != nullptr && *choice != '\0' &&
        std::strcmp(choice, kNativeWindowBackend) != 0) {
        Log(LogCategory::kWindow, 1,
            "lumora: LUMORA_WINDOW=%s is neither %s nor offscreen; trying %s\n", choice,
            kNativeWindowBackend, kNativeWindowBackend);
    }
    if (auto native = NativeWindowSystem()) return native;
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
