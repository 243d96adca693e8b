// The preview window on Windows: a window of the system, of a class registered for it, placed
// as the session asks and drawn with GDI. What it shows is read back from the screen through the
// system (GetPixel and a blit) and compared with the picture the library made for it.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Win32TestWindow.h"
#include "imaging/Converters.h"
#include "imaging/ImageBuffer.h"
#include "lumora/host.h"
#include "lumora/lumora.h"
#include "platform/Win32Api.h"
#include "platform/Window.h"

namespace lumora::platform {
namespace {

constexpr uint32_t kPreviewStyle = 0x16CF0000u;

// An application's top-level window that counts the frame messages it is sent.
class AppWindow {
public:
    explicit AppWindow(bool visible, int width = 700, int height = 560)
        : window_(
              [this](UINT message, WPARAM wParam, LPARAM) {
                  if (message != LUMORA_MSG_FRAME) return false;
                  if (wParam != 0) ++frames_;
                  return true;
              },
              visible, width, height) {}

    HWND Handle() const { return window_.Handle(); }
    int Frames() const { return frames_; }

private:
    int frames_ = 0;
    TestAppWindow window_;  // after frames_: gone before it
};

std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TitleOf(HWND window) {
    char title[256] = {};
    ::GetWindowTextA(window, title, sizeof title);
    return title;
}

// The window's client area as the screen shows it, 0x00RRGGBB, top row first.
std::vector<uint32_t> ScreenPixels(HWND window, int width, int height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = ::GetDC(window);
    HDC memory = ::CreateCompatibleDC(dc);
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    if (::BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY)) {
        ::GdiFlush();
        const auto* words = static_cast<const uint32_t*>(bits);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = words[i] & 0x00FFFFFFu;
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(window, dc);
    return pixels;
}

// This process's top-level window of that title (other test programs may show theirs).
HWND FindOwnTopLevel(const char* title) {
    struct Search {
        const char* title;
        HWND found;
    } search{title, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            if (process != ::GetCurrentProcessId() || TitleOf(window) != s->title) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

uint32_t Rgb(COLORREF c) {
    return uint32_t{GetRValue(c)} << 16 | uint32_t{GetGValue(c)} << 8 | GetBValue(c);
}

// The newest 8-bit picture of `handle`, top row first; `divisor` 2 with subsampling.
ImageBuffer Picture(int handle, int divisor = 1) {
    ImageBuffer picture;
    if (!picture.Create(Lumora_Width(handle) / divisor, Lumora_Height(handle) / divisor, 8)) {
        return picture;
    }
    const size_t bytes = static_cast<size_t>(picture.Stride()) * picture.Height();
    if (Lumora_GetImage(handle, picture.Pixels(), static_cast<int>(bytes), 1) != 1) {
        picture.Reset();
    }
    return picture;
}

// What the screen shows of an 8-bit gray picture whose rows are bottom row first when
// `bottomUp`: each gray level v as 0x00vvvvvv.
std::vector<uint32_t> Expected(const ImageBuffer& image, bool bottomUp) {
    std::vector<uint32_t> words(static_cast<size_t>(image.Width()) * image.Height());
    for (int y = 0; y < image.Height(); ++y) {
        const uint8_t* row = image.Row(bottomUp ? image.Height() - 1 - y : y);
        for (int x = 0; x < image.Width(); ++x) {
            words[static_cast<size_t>(y) * image.Width() + x] = uint32_t{row[x]} * 0x010101u;
        }
    }
    return words;
}

size_t Mismatches(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return SIZE_MAX;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i] ? 1 : 0;
    return n;
}

class Win32Preview : public ::testing::Test {
protected:
    void SetUp() override {
        LumoraSim_SetFastMode(1);
        ASSERT_EQ(LumoraSim_SetCameraCount(1), 1);
        handle_ = Lumora_Initialize(nullptr);
        ASSERT_NE(handle_, 0);
        ASSERT_NE(Lumora_SetColorMode(handle_, 8), 0);
        ASSERT_NE(frames_.Handle(), nullptr);
    }
    void TearDown() override {
        if (handle_ != 0) {
            Lumora_Close(handle_);
            Lumora_Release(handle_);
        }
    }
    // Starts a preview with frame messages to frames_ and stops it once `count` more have come.
    bool RunUntilFrames(int count) {
        const int target = frames_.Frames() + count;
        if (Lumora_CallBackPreview(handle_, frames_.Handle(), nullptr, 0, 1) != 1) return false;
        const bool got = PumpMessagesUntil([&] { return frames_.Frames() >= target; });
        return Lumora_StopPreview(handle_) == 1 && got;
    }

    int handle_ = 0;
    AppWindow frames_{false};
};

TEST_F(Win32Preview, AChildOfTheApplicationsWindowShowsTheScaledPictureUpright) {
    AppWindow app(true);
    ASSERT_NE(app.Handle(), nullptr);
    ASSERT_EQ(Lumora_SetPreviewWindow(handle_, app.Handle(), 0, 0, 640, 512), 1);
    ASSERT_TRUE(RunUntilFrames(3));

    HWND child = ::FindWindowExA(app.Handle(), nullptr, nullptr, "ActiveMovie Window");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(ClassOf(child).rfind("VideoRenderer_", 0), 0u) << ClassOf(child);
    EXPECT_EQ(::GetDlgCtrlID(child), 6540);
    EXPECT_EQ(static_cast<uint32_t>(::GetWindowLongPtrA(child, GWL_STYLE)) & 0x52000000u,
              0x52000000u);
    RECT client{};
    ASSERT_TRUE(::GetClientRect(child, &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 512);
    POINT origin{0, 0};
    ::MapWindowPoints(child, app.Handle(), &origin, 1);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(origin.y, 0);

    // The last frame, scaled by the library's own scaler as the session does for the window;
    // the display image it makes holds its bottom row first.
    const ImageBuffer picture = Picture(handle_);
    ASSERT_TRUE(picture.IsValid());
    ImageBuffer display;
    ASSERT_TRUE(display.Create(640, 512, 8));
    ASSERT_NE(ScaleImageNearest(display, picture), 0);
    const std::vector<uint32_t> expected = Expected(display, true);
    EXPECT_EQ(Mismatches(ScreenPixels(child, 640, 512), expected), 0u);
    // A sparse check through the plainest call there is.
    HDC dc = ::GetDC(child);
    size_t wrong = 0;
    for (int y = 0; y < 512; y += 37) {
        for (int x = 0; x < 640; x += 41) {
            wrong += Rgb(::GetPixel(dc, x, y)) != expected[static_cast<size_t>(y) * 640 + x];
        }
    }
    ::ReleaseDC(child, dc);
    EXPECT_EQ(wrong, 0u);

    // Closing the handle's capture mode destroys the window and frees its class name.
    const std::string className = ClassOf(child);
    EXPECT_EQ(Lumora_Close(handle_), 1);
    EXPECT_FALSE(::IsWindow(child));
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(::GetClassInfoExA(::GetModuleHandleA(nullptr), className.c_str(), &info));
}

TEST_F(Win32Preview, ATopLevelWindowIsSizedToThePictureCentredAndShowsItOneToOne) {
    ASSERT_EQ(Lumora_SetSubSample(handle_, 1), 1);
    ASSERT_EQ(Lumora_SetPreviewWindow(handle_, nullptr, 1, 1, 1, 1), 1);
    ASSERT_TRUE(RunUntilFrames(3));
    // Subsampling halves the picture, and the window is sized to it.
    const int width = Lumora_Width(handle_) / 2;
    const int height = Lumora_Height(handle_) / 2;
    ASSERT_EQ(width, 1280);
    ASSERT_EQ(height, 1024);

    HWND window = FindOwnTopLevel("Active Window");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ClassOf(window).rfind("VideoRenderer_", 0), 0u);
    EXPECT_EQ(TitleOf(window), "Active Window");
    EXPECT_EQ(::GetParent(window), nullptr);
    EXPECT_EQ(static_cast<uint32_t>(::GetWindowLongPtrA(window, GWL_STYLE)) & kPreviewStyle,
              kPreviewStyle);
    RECT client{};
    ASSERT_TRUE(::GetClientRect(window, &client));
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    // Centred on the screen by the frame the system gives the style; 0 where it does not fit.
    RECT frame{0, 0, width, height};
    ASSERT_TRUE(::AdjustWindowRectEx(&frame, kPreviewStyle, FALSE, 0));
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    RECT placed{};
    ASSERT_TRUE(::GetWindowRect(window, &placed));
    EXPECT_EQ(placed.left, std::max<LONG>((screenWidth + frame.left - frame.right) / 2, 0));
    EXPECT_EQ(placed.top, std::max<LONG>((screenHeight + frame.top - frame.bottom) / 2, 0));
    EXPECT_EQ(placed.right - placed.left, frame.right - frame.left);
    EXPECT_EQ(placed.bottom - placed.top, frame.bottom - frame.top);

    // Same size: the picture itself, upright.
    const ImageBuffer picture = Picture(handle_, 2);
    ASSERT_TRUE(picture.IsValid());
    EXPECT_EQ(Mismatches(ScreenPixels(window, width, height), Expected(picture, false)), 0u);
    EXPECT_EQ(Lumora_Close(handle_), 1);
    EXPECT_FALSE(::IsWindow(window));
}

TEST_F(Win32Preview, ASecondWindowGetsAClassOfItsOwnAndTheFirstIsGone) {
    AppWindow app(true);
    ASSERT_EQ(Lumora_SetPreviewWindow(handle_, app.Handle(), 10, 20, 320, 256), 1);
    ASSERT_TRUE(RunUntilFrames(1));
    HWND first = ::FindWindowExA(app.Handle(), nullptr, nullptr, "ActiveMovie Window");
    ASSERT_NE(first, nullptr);
    const std::string firstClass = ClassOf(first);
    ASSERT_TRUE(RunUntilFrames(1));
    HWND second = ::FindWindowExA(app.Handle(), nullptr, nullptr, "ActiveMovie Window");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(ClassOf(second), firstClass);
    EXPECT_EQ(::FindWindowExA(app.Handle(), second, nullptr, "ActiveMovie Window"), nullptr);
    POINT origin{0, 0};
    ::MapWindowPoints(second, app.Handle(), &origin, 1);
    EXPECT_EQ(origin.x, 10);
    EXPECT_EQ(origin.y, 20);
}

TEST_F(Win32Preview, AWindowClosedByTheUserLeavesTheRunGoingWithoutAPicture) {
    ASSERT_EQ(Lumora_SetPreviewWindow(handle_, nullptr, 1, 1, 1, 1), 1);
    ASSERT_EQ(Lumora_CallBackPreview(handle_, frames_.Handle(), nullptr, 0, 1), 1);
    ASSERT_TRUE(PumpMessagesUntil([&] { return frames_.Frames() >= 1; }));
    HWND window = FindOwnTopLevel("Active Window");
    ASSERT_NE(window, nullptr);
    // The user's close reaches the default procedure on this thread, which destroys the window.
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpMessagesUntil([&] { return !::IsWindow(window); }));
    const int before = frames_.Frames();
    EXPECT_TRUE(PumpMessagesUntil([&] { return frames_.Frames() >= before + 3; }));
    EXPECT_EQ(Lumora_StopPreview(handle_), 1);
    EXPECT_EQ(Lumora_Close(handle_), 1);
}

TEST(Win32WindowSystem, PicturesOfEitherRowOrderDepthAndSpacingLandUprightAndClipped) {
    auto& system = WindowSystem::Current();
    ASSERT_TRUE(system.RegisterClass("LumoraWindowSystemTest"));
    EXPECT_FALSE(system.RegisterClass("LumoraWindowSystemTest"));  // the name is taken
    AppWindow app(true, 400, 300);
    auto window = system.CreateChild("LumoraWindowSystemTest", app.Handle(), "child",
                                     kStyleChildVisibleClip, 5, 6, 64, 48);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->Show());
    EXPECT_EQ(window->ClientWidth(), 64);
    EXPECT_EQ(window->ClientHeight(), 48);
    EXPECT_EQ(window->Frame().left, 5);
    EXPECT_EQ(window->Frame().top, 6);
    EXPECT_EQ(window->Handle() != nullptr && ::IsWindow(window->Handle()), true);

    // 24-bit rows, top row first, spaced wider than a bitmap's and wider than the window:
    // only the client area shows, from the origin.
    const int width = 70, height = 50, stride = 70 * 3 + 9;
    std::vector<uint8_t> bgr(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgr[static_cast<size_t>(y) * stride + 3 * x];
            p[0] = static_cast<uint8_t>(3 * x);  // blue
            p[1] = static_cast<uint8_t>(5 * y);  // green
            p[2] = static_cast<uint8_t>(x ^ y);  // red
        }
    }
    PixelView view{bgr.data(), width, height, stride, 24, nullptr, false};
    window->PutImage(view);
    std::vector<uint32_t> pixels = ScreenPixels(window->Handle(), 64, 48);
    size_t wrong = 0;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const uint32_t want = uint32_t(x ^ y) << 16 | uint32_t(5 * y) << 8 | uint32_t(3 * x);
            wrong += pixels[static_cast<size_t>(y) * 64 + x] != want;
        }
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(window->ClientPixels(), pixels);

    // 8-bit rows bottom row first through a palette that is no gray ramp.
    std::vector<uint8_t> palette(1024);
    for (int i = 0; i < 256; ++i) {
        palette[4 * i] = static_cast<uint8_t>(255 - i);
        palette[4 * i + 1] = static_cast<uint8_t>(i / 2);
        palette[4 * i + 2] = static_cast<uint8_t>(i);
    }
    std::vector<uint8_t> indices(64 * 48);
    for (int row = 0; row < 48; ++row) {
        for (int x = 0; x < 64; ++x) indices[static_cast<size_t>(row) * 64 + x] = uint8_t(row * 5 + x);
    }
    window->PutImage(PixelView{indices.data(), 64, 48, 64, 8, palette.data(), true});
    pixels = ScreenPixels(window->Handle(), 64, 48);
    wrong = 0;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const int i = uint8_t((47 - y) * 5 + x);  // the bottom row first in memory
            const uint32_t want = uint32_t(i) << 16 | uint32_t(i / 2) << 8 | uint32_t(255 - i);
            wrong += pixels[static_cast<size_t>(y) * 64 + x] != want;
        }
    }
    EXPECT_EQ(wrong, 0u);

    window.reset();
    EXPECT_TRUE(system.UnregisterClass("LumoraWindowSystemTest"));
}

}  // namespace
}  // namespace lumora::platform

#endif  // _WIN32
