#pragma once
// The window backend of the operating system the library was built for: X11 on POSIX systems,
// GDI on Windows. Window.cpp falls back to offscreen windows when it returns null.
#include <memory>

#include "platform/Window.h"

namespace lumora::platform {

// The name LUMORA_WINDOW gives the native backend ("x11" or "gdi").
extern const char* const kNativeWindowBackend;
// The process's native window system; null (said under LUMORA_DEBUG) when none can be had.
std::shared_ptr<WindowSystem> NativeWindowSystem();

}  // namespace lumora::platform
