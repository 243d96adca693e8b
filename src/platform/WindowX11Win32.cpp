// The X11 window system as a Windows build sees it: there is no X server to show preview windows
// on, so there is none to open and no X11 window behind any handle.
#include "platform/WindowX11.h"

namespace lumora::platform {

std::shared_ptr<X11WindowSystem> X11WindowSystem::Open(const X11Options&) {
    return nullptr;
}

std::shared_ptr<X11WindowSystem> X11WindowSystem::Shared() {
    return nullptr;
}

unsigned long X11WindowOf(HWND) {
    return 0;
}

HWND WrapX11Window(unsigned long) {
    return nullptr;
}

}  // namespace lumora::platform
