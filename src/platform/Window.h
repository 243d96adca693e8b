#pragma once
// The window layer the preview draws into. A backend supplies windows that are children of an
// application's window or free-standing top-level windows; the offscreen backend keeps each
// window's client pixels so tests and the command can read back what was shown; the native
// backend shows them on a display: X11 (WindowX11.h) on POSIX systems, GDI on Windows.
//
// Threads: windows are created and destroyed on the caller's thread; PutImage runs on a capture
// thread while the creator may query the window. Implementations guard their state themselves.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lumora/lumora.h"

namespace lumora::platform {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Window styles with the values applications know them by.
inline constexpr uint32_t kStyleChildVisibleClip = 0x52000000u;   // child, visible, clip children
inline constexpr uint32_t kStyleOverlappedVisible = 0x16CF0000u;  // caption, sizing, boxes, visible

// Pixels to show. Rows are `stride` bytes apart; with bottomUp the first row in memory is the
// bottom row on screen, as in a device-independent bitmap. 8-bit pixels index `palette`
// (256 entries of blue, green, red, reserved); 24-bit pixels are blue, green, red.
struct PixelView {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    int bitCount = 0;
    const uint8_t* palette = nullptr;
    bool bottomUp = false;
};

class Window {
public:
    virtual ~Window() = default;
    virtual std::string Title() const = 0;
    virtual uint32_t Style() const = 0;
    // Outer rectangle: in the parent's client coordinates for a child, on the screen otherwise.
    virtual Rect Frame() const = 0;
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    virtual bool IsVisible() const = 0;
    virtual HWND Parent() const = 0;
    // The HWND an application may use for this window (an owner for dialogs); null for
    // windows only the SDK can see.
    virtual HWND Handle() const { return nullptr; }
    // Shows the window, gives it the keyboard focus and paints it; false when it cannot.
    virtual bool Show() = 0;
    virtual void SetClientSize(int width, int height) = 0;
    // Puts the image at the client origin, clipped to the client area.
    virtual void PutImage(const PixelView& image) = 0;
    // The client area as 0x00RRGGBB values, top row first (black where nothing was drawn).
    virtual std::vector<uint32_t> ClientPixels() const = 0;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // The backend in use. Chosen at first use: LUMORA_WINDOW=offscreen forces the offscreen
    // backend; otherwise (or with LUMORA_WINDOW=x11, gdi on Windows) the native one: GDI on
    // Windows; on POSIX systems X11 when a display is reachable, offscreen when not (said once
    // under LUMORA_DEBUG).
    static WindowSystem& Current();
    // Replaces the backend (tests); null makes the next use choose again.
    static void Install(std::shared_ptr<WindowSystem> system);

    virtual bool RegisterClass(const std::string& name) = 0;  // false if the name is taken
    virtual bool UnregisterClass(const std::string& name) = 0;
    virtual std::unique_ptr<Window> CreateChild(const std::string& className, HWND parent,
                                                const std::string& title, uint32_t style, int x,
                                                int y, int width, int height) = 0;
    virtual std::unique_ptr<Window> CreateTopLevel(const std::string& className,
                                                   const std::string& title, uint32_t style, int x,
                                                   int y, int width, int height) = 0;
    // Grows a client rectangle to the outer rectangle of a window of `style`.
    virtual bool AdjustWindowRect(Rect& rect, uint32_t style) const = 0;
    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
};

}  // namespace lumora::platform
