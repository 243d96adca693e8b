// On POSIX systems the native windows are those of an X server, when one is reachable.
#include <cstdlib>

#include "platform/Log.h"
#include "platform/WindowNative.h"
#include "platform/WindowX11.h"

namespace lumora::platform {

const char* const kNativeWindowBackend = "x11";

std::shared_ptr<WindowSystem> NativeWindowSystem() {
    if (auto x11 = X11WindowSystem::Shared()) return x11;
    if (LogEnabled(LogCategory::kWindow)) {
        const char* display = std::getenv("DISPLAY");
        Log(LogCategory::kWindow, 1,
            "lumora: no X display reachable (DISPLAY=%s); preview windows are kept offscreen\n",
            display != nullptr ? display : "");
    }
    return nullptr;
}

}  // namespace lumora::platform
