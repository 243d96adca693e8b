#include "platform/WindowX11.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/MessageTarget.h"
#include "platform/x11/X11System.h"
#include "platform/x11/X11Target.h"

namespace lumora::platform {
namespace {

std::mutex gSharedMutex;
std::shared_ptr<X11WindowSystem>* gShared = nullptr;  // kept for the whole process
bool gSharedTried = false;

}  // namespace

std::shared_ptr<X11WindowSystem> X11WindowSystem::Open(const X11Options& options) {
    const char* name = options.display != nullptr ? options.display : std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return nullptr;
    Display* display = XOpenDisplay(name);
    if (display == nullptr) return nullptr;
    auto system = std::make_shared<X11System>(display, options.useSharedMemory, options.grayWidening);
    system->StartEvents();
    return system;
}

std::shared_ptr<X11WindowSystem> X11WindowSystem::Shared() {
    std::lock_guard lock(gSharedMutex);
    if (!gSharedTried) {
        gSharedTried = true;
        X11Options options;
        const char* render = std::getenv("LUMORA_X11_RENDER");
        if (render != nullptr && std::strcmp(render, "0") == 0) {
            options.grayWidening = X11GrayWidening::kClient;
        } else if (render != nullptr && std::strcmp(render, "1") == 0) {
            options.grayWidening = X11GrayWidening::kServer;
        }
        auto system = Open(options);
        if (system != nullptr) gShared = new std::shared_ptr<X11WindowSystem>(std::move(system));
    }
    return gShared != nullptr ? *gShared : nullptr;
}

unsigned long X11WindowOf(HWND window) {
    auto target = std::dynamic_pointer_cast<X11Target>(FindTarget(window));
    return target != nullptr ? target->Window() : 0;
}

HWND WrapX11Window(unsigned long window) {
    if (window == 0) return nullptr;
    auto system = X11WindowSystem::Shared();
    if (system == nullptr || !system->WindowExists(window)) return nullptr;
    return RegisterTarget(std::make_shared<X11Target>(window));
}

}  // namespace lumora::platform
