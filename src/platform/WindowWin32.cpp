// Preview windows on Windows: real windows of a class registered for each, drawn with GDI. The
// window procedure is the system's default one: the SDK never repaints on its own, and a covered
// window shows the class's black background until the next frame.
//
// Threads. A window belongs to the thread that created it (the caller's); only that thread may
// destroy it, and its messages are handled whenever that thread reads its queue. The capture
// thread draws through the device context taken at creation, which GDI allows from any thread;
// the window's lock keeps drawing and reading back apart. Nothing here sends a message to the
// window from another thread, so a caller that does not read its queue never blocks a drawer.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/Log.h"
#include "platform/Win32Api.h"
#include "platform/WindowNative.h"

namespace lumora::platform {
namespace {

// The child window's identifier among its parent's children.
constexpr int kChildId = 6540;

// A device-independent bitmap header with room for a full palette.
struct DibHeader {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

HINSTANCE ProcessModule() {
    return ::GetModuleHandleA(nullptr);
}

class GdiWindow final : public Window {
public:
    GdiWindow(HWND window, HDC dc, std::string title, uint32_t style, HWND parent)
        : window_(window), dc_(dc), title_(std::move(title)), style_(style), parent_(parent) {}
    ~GdiWindow() override {
        std::lock_guard lock(mutex_);
        ::ReleaseDC(window_, dc_);
        // Only the creating thread may destroy a window; from any other the owner is asked to
        // close it, which the default procedure does by destroying it.
        if (::IsWindow(window_) && !::DestroyWindow(window_)) {
            ::PostMessageA(window_, WM_CLOSE, 0, 0);
        }
    }
    GdiWindow(const GdiWindow&) = delete;
    GdiWindow& operator=(const GdiWindow&) = delete;

    std::string Title() const override { return title_; }
    uint32_t Style() const override { return style_; }
    Rect Frame() const override {
        RECT r{};
        if (!::GetWindowRect(window_, &r)) return {};
        if (parent_ != nullptr) {
            ::MapWindowPoints(HWND_DESKTOP, parent_, reinterpret_cast<POINT*>(&r), 2);
        }
        return {r.left, r.top, r.right, r.bottom};
    }
    int ClientWidth() const override { return Client().right; }
    int ClientHeight() const override { return Client().bottom; }
    bool IsVisible() const override {
        return ::IsWindow(window_) && ::IsWindowVisible(window_);
    }
    HWND Parent() const override { return parent_; }
    HWND Handle() const override { return window_; }

    bool Show() override {
        ::SetFocus(window_);
        ::ShowWindow(window_, SW_SHOW);
        return ::UpdateWindow(window_) != FALSE;
    }

    void SetClientSize(int width, int height) override {
        RECT r{0, 0, std::max(width, 1), std::max(height, 1)};
        if (parent_ == nullptr) {
            ::AdjustWindowRectEx(&r, static_cast<DWORD>(style_), FALSE, 0);
        }
        ::SetWindowPos(window_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void PutImage(const PixelView& image) override {
        if (image.pixels == nullptr || (image.bitCount != 8 && image.bitCount != 24)) return;
        if (image.bitCount == 8 && image.palette == nullptr) return;
        if (image.width <= 0 || image.height <= 0 || image.stride <= 0) return;
        std::lock_guard lock(mutex_);
        if (!IsVisible()) return;  // closed by the user: the run goes on without a picture
        DibHeader dib{};
        dib.header.biSize = sizeof(BITMAPINFOHEADER);
        dib.header.biWidth = image.width;
        // A negative height marks a bitmap that holds its top row first.
        dib.header.biHeight = image.bottomUp ? image.height : -image.height;
        dib.header.biPlanes = 1;
        dib.header.biBitCount = static_cast<WORD>(image.bitCount);
        dib.header.biCompression = BI_RGB;
        if (image.bitCount == 8) {
            dib.header.biClrUsed = 256;
            std::memcpy(dib.colors, image.palette, sizeof dib.colors);
        }
        // A bitmap's rows are 4-byte aligned; other row spacings go through a copy that is.
        const int dibStride = ((image.width * image.bitCount + 31) / 32) * 4;
        const void* bits = image.pixels;
        if (image.stride != dibStride) {
            const size_t rowBytes = static_cast<size_t>(image.width) * (image.bitCount / 8);
            repacked_.resize(static_cast<size_t>(dibStride) * image.height);
            for (int y = 0; y < image.height; ++y) {
                std::memcpy(repacked_.data() + static_cast<size_t>(y) * dibStride,
                            image.pixels + static_cast<size_t>(y) * image.stride, rowBytes);
            }
            bits = repacked_.data();
        }
        // One to one at the client origin; the device context clips to the client area.
        ::StretchDIBits(dc_, 0, 0, image.width, image.height, 0, 0, image.width, image.height,
                        bits, reinterpret_cast<const BITMAPINFO*>(&dib), DIB_RGB_COLORS, SRCCOPY);
        ::GdiFlush();
    }

    std::vector<uint32_t> ClientPixels() const override {
        const RECT client = Client();
        const int width = std::max<int>(client.right, 0);
        const int height = std::max<int>(client.bottom, 0);
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
        if (pixels.empty()) return pixels;
        std::lock_guard lock(mutex_);
        if (!::IsWindow(window_)) return pixels;
        // Copied into a top-down 32-bit bitmap: blue, green, red, unused per pixel, which read
        // as a little-endian word is 0x??RRGGBB.
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HDC memory = ::CreateCompatibleDC(dc_);
        HBITMAP bitmap = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (memory != nullptr && bitmap != nullptr && bits != nullptr) {
            HGDIOBJ old = ::SelectObject(memory, bitmap);
            if (::BitBlt(memory, 0, 0, width, height, dc_, 0, 0, SRCCOPY)) {
                ::GdiFlush();
                const auto* words = static_cast<const uint32_t*>(bits);
                for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = words[i] & 0x00FFFFFFu;
            }
            ::SelectObject(memory, old);
        }
        if (bitmap != nullptr) ::DeleteObject(bitmap);
        if (memory != nullptr) ::DeleteDC(memory);
        return pixels;
    }

private:
    RECT Client() const {
        RECT r{};
        if (!::GetClientRect(window_, &r)) return RECT{};
        return r;
    }

    const HWND window_;
    const HDC dc_;
    const std::string title_;
    const uint32_t style_;
    const HWND parent_;
    mutable std::mutex mutex_;       // guards drawing through dc_ and repacked_
    std::vector<uint8_t> repacked_;  // rows re-spaced for the bitmap
};

class GdiWindowSystem final : public WindowSystem {
public:
    bool RegisterClass(const std::string& name) override {
        if (name.empty()) return false;
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = 0;
        windowClass.lpfnWndProc = &::DefWindowProcA;
        windowClass.hInstance = ProcessModule();
        windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
        windowClass.lpszClassName = name.c_str();
        return ::RegisterClassExA(&windowClass) != 0;
    }

    bool UnregisterClass(const std::string& name) override {
        return ::UnregisterClassA(name.c_str(), ProcessModule()) != FALSE;
    }

    std::unique_ptr<Window> CreateChild(const std::string& className, HWND parent,
                                        const std::string& title, uint32_t style, int x, int y,
                                        int width, int height) override {
        // The SDK's own message targets are no windows of the system and can hold no child.
        if (parent == nullptr || !::IsWindow(parent)) return nullptr;
        HWND window = ::CreateWindowExA(0, className.c_str(), title.c_str(), style, x, y, width,
                                        height, parent,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kChildId)),
                                        ProcessModule(), nullptr);
        return Wrap(window, title, style, parent);
    }

    std::unique_ptr<Window> CreateTopLevel(const std::string& className, const std::string& title,
                                           uint32_t style, int x, int y, int width,
                                           int height) override {
        HWND window = ::CreateWindowExA(0, className.c_str(), title.c_str(), style, x, y, width,
                                        height, nullptr, nullptr, ProcessModule(), nullptr);
        return Wrap(window, title, style, nullptr);
    }

    bool AdjustWindowRect(Rect& rect, uint32_t style) const override {
        RECT r{rect.left, rect.top, rect.right, rect.bottom};
        if (!::AdjustWindowRectEx(&r, static_cast<DWORD>(style), FALSE, 0)) return false;
        rect = {r.left, r.top, r.right, r.bottom};
        return true;
    }

    int ScreenWidth() const override { return ::GetSystemMetrics(SM_CXSCREEN); }
    int ScreenHeight() const override { return ::GetSystemMetrics(SM_CYSCREEN); }

private:
    static std::unique_ptr<Window> Wrap(HWND window, const std::string& title, uint32_t style,
                                        HWND parent) {
        if (window == nullptr) {
            Log(LogCategory::kWindow, 1, "lumora: CreateWindowExA failed (error %lu)\n",
                ::GetLastError());
            return nullptr;
        }
        HDC dc = ::GetDC(window);
        if (dc == nullptr) {
            ::DestroyWindow(window);
            return nullptr;
        }
        return std::make_unique<GdiWindow>(window, dc, title, style, parent);
    }
};

}  // namespace

const char* const kNativeWindowBackend = "gdi";

std::shared_ptr<WindowSystem> NativeWindowSystem() {
    return std::make_shared<GdiWindowSystem>();
}

}  // namespace lumora::platform
