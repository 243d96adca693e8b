// The application's side of the desktop for lumora preview: one top-level window with a fixed
// client size, made as an application of each system would make it (DesktopWindowPosix.cpp,
// DesktopWindowWin32.cpp). The preview itself is the same on every system (PreviewCommand.cpp).
#pragma once

#include <memory>
#include <string>

#include "Command.h"

namespace lumora_cli {

class DesktopWindow {
public:
    virtual ~DesktopWindow() = default;

    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
    // Makes and shows the window: the handle the SDK draws into. Throws CommandError when the
    // window cannot be made or reached.
    virtual HWND Create(int width, int height) = 0;
    // `title` is UTF-8.
    virtual void SetTitle(const std::string& title) = 0;
    // Handles what arrived within timeoutMs; false once the user closed the window.
    virtual bool Pump(int timeoutMs) = 0;
};

// This system's desktop, or null (the user has been told why) when none can be reached.
std::unique_ptr<DesktopWindow> OpenDesktopWindow();

}  // namespace lumora_cli
