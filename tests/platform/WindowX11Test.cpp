// Preview windows on a real X server: wrapping the application's windows, repainting, closing
// by the window manager, a parent that goes away, a stalled server, what a window leaves behind,
// and the window manager's frame. The pixel rules themselves are checked in the session suite;
// here, how pictures are packed into the server's pixel layouts.
#include <X11/Xatom.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "X11TestDisplay.h"
#include "lumora/host.h"
#include "platform/SimdLevel.h"
#include "platform/WindowPixels.h"
#include "platform/WindowX11.h"
#include "platform/x11/X11PixelPacking.h"

namespace lumora::platform {
namespace {

using lumora::testing::LiveSharedSegmentsOfThisProcess;
using lumora::testing::WaitUntil;
using lumora::testing::X11TestDisplay;

// A 2-row gray picture of the given width whose pixel (x, y) is 16 × y + x + 1.
struct GrayPicture {
    explicit GrayPicture(int width, int rows = 2) : width_(width), rows_(rows) {
        pixels.resize(static_cast<size_t>(width) * rows);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < width; ++x)
                pixels[y * width + x] = static_cast<uint8_t>(16 * y + x + 1);
        }
        for (int i = 0; i < 256; ++i) {
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<uint8_t>(i);
        }
    }
    PixelView View() const {
        return PixelView{pixels.data(), width_, rows_, width_, 8, palette, false};
    }
    uint32_t At(int x, int y) const { return pixels[y * width_ + x] * 0x010101u; }
    int width_;
    int rows_;
    std::vector<uint8_t> pixels;
    uint8_t palette[1024];
};

// Each case runs with and without shared memory, and with gray frames widened by the server
// (RENDER) or by the client.
class X11WindowTest : public ::testing::TestWithParam<std::tuple<bool, bool>> {
protected:
    static bool Shm() { return std::get<0>(GetParam()); }
    static bool Render() { return std::get<1>(GetParam()); }
    void SetUp() override {
        LUMORA_REQUIRE_X11(app_);
        system_ = X11WindowSystem::Open(X11Options{
            nullptr, Shm(), Render() ? X11GrayWidening::kServer : X11GrayWidening::kClient});
        ASSERT_NE(system_, nullptr);
        ASSERT_TRUE(system_->RegisterClass("VideoRenderer_test"));
        appWindow_ = app_.CreateAppWindow(320, 240);
        parent_ = LumoraHost_WrapX11Window(appWindow_);
        ASSERT_NE(parent_, nullptr);
    }
    void TearDown() override {
        if (parent_ != nullptr) LumoraHost_DestroyWindow(parent_);
        if (app_ && appWindow_ != 0) {
            XDestroyWindow(app_.Get(), appWindow_);
            XSync(app_.Get(), False);
        }
    }
    std::unique_ptr<Window> Child(int x, int y, int width, int height) {
        auto window = system_->CreateChild("VideoRenderer_test", parent_, "ActiveMovie Window",
                                           kStyleChildVisibleClip, x, y, width, height);
        if (window != nullptr) {
            EXPECT_TRUE(window->Show());
        }
        return window;
    }

    X11TestDisplay app_;
    std::shared_ptr<X11WindowSystem> system_;
    ::Window appWindow_ = 0;
    HWND parent_ = nullptr;
};

TEST_P(X11WindowTest, SharedMemoryAndTheGrayPlaneAreUsedOnlyWhenAskedFor) {
    auto window = Child(0, 0, 8, 2);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(system_->UsesSharedMemory(), Shm());  // Xvfb offers both
    const X11Resources held = system_->Resources();
    const size_t images = Render() ? 2 : 1;  // the window's, and its gray plane's
    EXPECT_EQ(held.images, images);
    EXPECT_EQ(held.sharedSegments, Shm() ? images : 0u);
    EXPECT_EQ(held.grayPlaneObjects, Render() ? 3u : 0u);  // pixmap, picture, GC
}

// Gray, false-colour and 24-bit frames in turn in one window, each shown exactly: the gray
// plane and the client's image take turns.
TEST_P(X11WindowTest, EveryGrayLevelAndEveryOtherKindOfFrameShowsExactly) {
    auto window = Child(0, 0, 256, 2);
    ASSERT_NE(window, nullptr);
    GrayPicture gray(256);
    for (int x = 0; x < 256; ++x) {
        gray.pixels[x] = static_cast<uint8_t>(x);
        gray.pixels[256 + x] = static_cast<uint8_t>(255 - x);
    }
    GrayPicture falseColour = gray;
    for (int i = 0; i < 256; ++i) {
        falseColour.palette[4 * i] = static_cast<uint8_t>(255 - i);  // blue
        falseColour.palette[4 * i + 1] = static_cast<uint8_t>(i / 2);
        falseColour.palette[4 * i + 2] = static_cast<uint8_t>(i);
    }
    std::vector<uint8_t> bgr(256 * 2 * 3);
    for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * 7);
    const PixelView colour{bgr.data(), 256, 2, 256 * 3, 24, nullptr, false};
    PixelView bottomUp = gray.View();
    bottomUp.bottomUp = true;

    auto expectShown = [&](const PixelView& view, auto expected, const char* what) {
        ASSERT_TRUE(system_->Flush(2000));
        window->PutImage(view);
        const auto pixels = window->ClientPixels();
        ASSERT_EQ(pixels.size(), 512u);
        int wrong = 0;
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 256; ++x) {
                const uint32_t want = expected(x, y);
                if (pixels[y * 256 + x] != want && ++wrong <= 3) {
                    ADD_FAILURE() << what << " at " << x << "," << y << ": " << std::hex
                                  << pixels[y * 256 + x] << " instead of " << want;
                }
            }
        }
        EXPECT_EQ(wrong, 0) << what;
    };
    for (int round = 0; round < 2; ++round) {
        expectShown(gray.View(), [&](int x, int y) { return gray.At(x, y); }, "gray");
        expectShown(
            falseColour.View(),
            [&](int x, int y) {
                const uint8_t* entry = falseColour.palette + 4 * falseColour.pixels[y * 256 + x];
                return uint32_t{entry[2]} << 16 | uint32_t{entry[1]} << 8 | entry[0];
            },
            "false colour");
        expectShown(bottomUp, [&](int x, int y) { return gray.At(x, 1 - y); }, "bottom-up gray");
        expectShown(
            colour,
            [&](int x, int y) {
                const uint8_t* p = bgr.data() + (y * 256 + x) * 3;
                return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
            },
            "24-bit");
    }
    EXPECT_EQ(system_->ErrorCount(), 0u);
}

TEST_P(X11WindowTest, ChildSitsInTheParentAtItsPlacementAndShowsThePicture) {
    auto window = Child(5, 7, 20, 2);
    ASSERT_NE(window, nullptr);
    const unsigned long id = LumoraHost_GetX11Window(window->Handle());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(app_.ParentOf(id), appWindow_);
    EXPECT_EQ(app_.Name(id), "ActiveMovie Window");
    int x, y, width, height;
    ASSERT_TRUE(app_.Geometry(id, x, y, width, height));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 7);
    EXPECT_EQ(width, 20);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(window->Parent(), parent_);

    GrayPicture picture(20);
    window->PutImage(picture.View());
    const auto pixels = window->ClientPixels();
    ASSERT_EQ(pixels.size(), 40u);
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 20; ++col) {
            EXPECT_EQ(pixels[row * 20 + col], picture.At(col, row)) << col << "," << row;
        }
    }
}

TEST_P(X11WindowTest, ExposedWindowRepaintsItsLastFrame) {
    auto window = Child(0, 0, 16, 2);
    ASSERT_NE(window, nullptr);
    GrayPicture picture(16);
    window->PutImage(picture.View());
    ASSERT_EQ(window->ClientPixels()[17], picture.At(1, 1));
    // Clearing with exposures paints the background and asks the owner to paint again.
    XClearArea(app_.Get(), LumoraHost_GetX11Window(window->Handle()), 0, 0, 0, 0, True);
    XSync(app_.Get(), False);
    EXPECT_TRUE(WaitUntil([&] {
        const auto pixels = window->ClientPixels();
        return pixels[0] == picture.At(0, 0) && pixels[17] == picture.At(1, 1);
    }));
}

// Left to itself, the connection has the server widen gray frames only when they cannot go
// through shared memory.
TEST(X11GrayWidening, ByDefaultTheServerWidensGrayOnlyWithoutSharedMemory) {
    X11TestDisplay app;
    LUMORA_REQUIRE_X11(app);
    for (const bool shm : {true, false}) {
        auto system = X11WindowSystem::Open(X11Options{nullptr, shm});
        ASSERT_NE(system, nullptr);
        ASSERT_TRUE(system->RegisterClass("VideoRenderer_auto"));
        auto window = system->CreateTopLevel("VideoRenderer_auto", "Active Window",
                                             kStyleOverlappedVisible, 0, 0, 16, 2);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(system->Resources().grayPlaneObjects, shm ? 0u : 3u) << shm;
    }
}

TEST_P(X11WindowTest, WindowClosedByTheWindowManagerStopsDrawingWithoutErrors) {
    auto window = system_->CreateTopLevel("VideoRenderer_test", "Active Window",
                                          kStyleOverlappedVisible, 0, 0, 16, 2);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->Show());
    const unsigned long id = LumoraHost_GetX11Window(window->Handle());
    const size_t errors = system_->ErrorCount();
    app_.SendDelete(id);
    ASSERT_TRUE(WaitUntil([&] { return !window->IsVisible(); }));
    // Gone from the server; drawing on is harmless and destroying it causes no error.
    EXPECT_TRUE(WaitUntil([&] {
        const auto tops = app_.Children(app_.Root());
        return std::find(tops.begin(), tops.end(), id) == tops.end();
    }));
    GrayPicture picture(16);
    for (int i = 0; i < 5; ++i) window->PutImage(picture.View());
    window.reset();
    EXPECT_TRUE(system_->Flush(1000));
    EXPECT_EQ(system_->ErrorCount(), errors);
    EXPECT_EQ(system_->Resources().windows, 0u);
}

TEST_P(X11WindowTest, ParentDestroyedUnderTheChildLeavesItInvisibleAndHarmless) {
    auto window = Child(0, 0, 16, 2);
    ASSERT_NE(window, nullptr);
    XDestroyWindow(app_.Get(), appWindow_);
    XSync(app_.Get(), False);
    appWindow_ = 0;
    ASSERT_TRUE(WaitUntil([&] { return !window->IsVisible(); }));
    GrayPicture picture(16);
    window->PutImage(picture.View());
    const size_t errors = system_->ErrorCount();
    window.reset();
    system_->Flush(1000);
    EXPECT_EQ(system_->ErrorCount(), errors);  // not destroyed a second time
    // A wrapped window that is gone cannot be the parent of a new child.
    EXPECT_EQ(system_->CreateChild("VideoRenderer_test", parent_, "ActiveMovie Window",
                                   kStyleChildVisibleClip, 0, 0, 8, 8),
              nullptr);
}

TEST_P(X11WindowTest, StalledServerNeverBlocksThePutter) {
    auto window = Child(0, 0, 64, 2);
    ASSERT_NE(window, nullptr);
    GrayPicture first(64);
    window->PutImage(first.View());
    ASSERT_TRUE(system_->Flush(2000));
    const size_t skippedBefore = system_->SkippedFrames();

    // The application grabs the server: nobody else's requests are processed meanwhile.
    XGrabServer(app_.Get());
    XSync(app_.Get(), False);
    GrayPicture second(64);
    second.pixels.assign(second.pixels.size(), 200);
    auto putter = std::async(std::launch::async, [&] {
        for (int i = 0; i < 200; ++i) {
            window->PutImage(second.View());
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    const bool finished = putter.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    XUngrabServer(app_.Get());
    XSync(app_.Get(), False);
    putter.wait();
    EXPECT_TRUE(finished) << "PutImage waited for a grabbed server";
    if (Shm()) {
        EXPECT_GT(system_->SkippedFrames(), skippedBefore);
    }

    // Afterwards drawing resumes with the newest picture.
    ASSERT_TRUE(system_->Flush(2000));
    window->PutImage(second.View());
    EXPECT_EQ(window->ClientPixels()[0], 200u * 0x010101u);
}

TEST_P(X11WindowTest, ResizedWindowGetsAnImageOfTheNewSize) {
    auto window = Child(0, 0, 16, 2);
    ASSERT_NE(window, nullptr);
    window->SetClientSize(32, 2);
    EXPECT_EQ(window->ClientWidth(), 32);
    GrayPicture picture(32);
    ASSERT_TRUE(WaitUntil([&] {
        window->PutImage(picture.View());
        system_->Flush(500);
        return window->ClientPixels()[31] == picture.At(31, 0);
    }));
    EXPECT_EQ(system_->Resources().images, Render() ? 2u : 1u);
}

TEST_P(X11WindowTest, WindowsLeaveNothingBehind) {
    const int segmentsBefore = LiveSharedSegmentsOfThisProcess();
    for (int cycle = 0; cycle < 10; ++cycle) {
        auto child = Child(0, 0, 32, 8);
        auto top = system_->CreateTopLevel("VideoRenderer_test", "Active Window",
                                           kStyleOverlappedVisible, 0, 0, 32, 8);
        ASSERT_NE(child, nullptr);
        ASSERT_NE(top, nullptr);
        ASSERT_TRUE(top->Show());
        GrayPicture picture(32, 8);
        child->PutImage(picture.View());
        top->PutImage(picture.View());
        child->SetClientSize(16, 4);  // a second image for the child
        system_->Flush(500);
        child->PutImage(picture.View());
    }
    system_->Flush(1000);
    EXPECT_EQ(app_.Children(appWindow_).size(), 0u);
    const X11Resources left = system_->Resources();
    EXPECT_EQ(left.windows, 0u);
    EXPECT_EQ(left.images, 0u);
    EXPECT_EQ(left.sharedSegments, 0u);
    EXPECT_EQ(left.graphicsContexts, 0u);
    EXPECT_EQ(left.grayPlaneObjects, 0u);
    EXPECT_EQ(LiveSharedSegmentsOfThisProcess(), segmentsBefore);
    EXPECT_EQ(system_->ErrorCount(), 0u);
}

// (Xlib defines Bool as a macro, so the values are spelled out.)
INSTANTIATE_TEST_SUITE_P(
    SharedMemoryAndPlain, X11WindowTest,
    ::testing::Combine(::testing::Values(true, false), ::testing::Values(true, false)),
    [](const auto& param) {
        return std::string(std::get<0>(param.param) ? "Shm" : "Plain") +
               (std::get<1>(param.param) ? "ServerWidensGray" : "ClientWidensGray");
    });

TEST(X11HostInterface, WrappingChecksTheWindowAndReleasesOnlyTheWrapper) {
    X11TestDisplay app;
    LUMORA_REQUIRE_X11(app);
    EXPECT_EQ(LumoraHost_WrapX11Window(0), nullptr);
    EXPECT_EQ(LumoraHost_WrapX11Window(0x7FFFFFF0ul), nullptr);  // no such window
    const ::Window mine = app.CreateAppWindow(10, 10);
    HWND wrapped = LumoraHost_WrapX11Window(mine);
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(LumoraHost_GetX11Window(wrapped), mine);
    LumoraHost_DestroyWindow(wrapped);
    EXPECT_EQ(LumoraHost_GetX11Window(wrapped), 0u);
    XWindowAttributes attributes;
    EXPECT_NE(XGetWindowAttributes(app.Get(), mine, &attributes), 0);  // still there

    HWND queue = LumoraHost_CreateQueueWindow();
    EXPECT_EQ(LumoraHost_GetX11Window(queue), 0u);
    EXPECT_EQ(LumoraHost_GetX11Window(nullptr), 0u);
    LumoraHost_DestroyWindow(queue);
    XDestroyWindow(app.Get(), mine);
}

TEST(X11HostInterface, ParentThatIsNoX11WindowGetsAnUnseenChild) {
    X11TestDisplay app;
    LUMORA_REQUIRE_X11(app);
    auto system = X11WindowSystem::Open();
    ASSERT_NE(system, nullptr);
    ASSERT_TRUE(system->RegisterClass("VideoRenderer_q"));
    HWND queue = LumoraHost_CreateQueueWindow();
    auto child = system->CreateChild("VideoRenderer_q", queue, "ActiveMovie Window",
                                     kStyleChildVisibleClip, 0, 0, 8, 8);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(LumoraHost_GetX11Window(child->Handle()), 0u);
    EXPECT_EQ(system->Resources().windows, 0u);
    child.reset();
    LumoraHost_DestroyWindow(queue);
}

// The row expansions against the obvious loop, at lengths around the vector width.
TEST(WindowPixels, LongGrayRowsWrittenAroundTheCachesMatchTheRuleAtAnyAlignment) {
    std::vector<uint8_t> source(kStreamingRow + 64);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 53 + 7);
    for (int count : {kStreamingRow - 1, kStreamingRow, kStreamingRow + 37}) {
        // Destinations starting on each word of a 16-byte line.
        for (int shift = 0; shift < 4; ++shift) {
            std::vector<uint32_t> out(static_cast<size_t>(count) + 8, 0xDEADBEEF);
            uint32_t* dst = out.data() + shift;
            ExpandGrayRow(dst, source.data(), count);
            for (int x = 0; x < count; ++x) {
                ASSERT_EQ(dst[x], source[x] * 0x010101u) << count << " " << shift << " " << x;
            }
            EXPECT_EQ(dst[count], 0xDEADBEEFu);
            for (int x = 0; x < shift; ++x) EXPECT_EQ(out[x], 0xDEADBEEFu);
        }
    }
}

// Every vector level the processor offers, every start within a cache line, rows just short of
// streaming and past it; the bytes around the row stay untouched.
TEST(WindowPixels, GrayRowsCopiedForTheServerAreExactAtEveryLevelAndAlignment) {
    const SimdLevel active = ActiveSimdLevel();
    std::vector<uint8_t> source(kStreamingRow + 200);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 29 + 3);
    for (int level = 0; level <= static_cast<int>(DetectedSimdLevel()); ++level) {
        SetSimdLevelForTesting(static_cast<SimdLevel>(level));
        for (int count : {0, 1, 63, kStreamingRow - 1, kStreamingRow, kStreamingRow + 131}) {
            for (int shift = 0; shift < 64; ++shift) {
                std::vector<uint8_t> out(static_cast<size_t>(count) + 128, 0xA5);
                uint8_t* dst = out.data() + shift;
                CopyGrayRow(dst, source.data() + 1, count);
                FenceStreamedStores();
                ASSERT_EQ(std::memcmp(dst, source.data() + 1, static_cast<size_t>(count)), 0)
                    << "level " << level << ", " << count << " bytes at " << shift;
                for (size_t i = 0; i < out.size(); ++i) {
                    if (i < static_cast<size_t>(shift) || i >= static_cast<size_t>(shift + count)) {
                        ASSERT_EQ(out[i], 0xA5) << "level " << level << ", byte " << i;
                    }
                }
            }
        }
    }
    SetSimdLevelForTesting(active);
}

TEST(WindowPixels, ExpansionsMatchThePerPixelRule) {
    std::vector<uint8_t> source(3 * 70);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 37 + 11);
    uint8_t palette[1024];
    for (int i = 0; i < 256; ++i) {
        palette[4 * i] = static_cast<uint8_t>(i);
        palette[4 * i + 1] = static_cast<uint8_t>(255 - i);
        palette[4 * i + 2] = static_cast<uint8_t>(i / 2);
        palette[4 * i + 3] = 0;
    }
    uint32_t table[256];
    PaletteWords(palette, table);
    EXPECT_FALSE(IsGrayPalette(palette));
    for (int count : {0, 1, 15, 16, 17, 33, 70}) {
        std::vector<uint32_t> out(static_cast<size_t>(count) + 1, 0xDEADBEEF);
        ExpandGrayRow(out.data(), source.data(), count);
        for (int x = 0; x < count; ++x) ASSERT_EQ(out[x], source[x] * 0x010101u) << count;
        EXPECT_EQ(out[count], 0xDEADBEEFu);
        ExpandPaletteRow(out.data(), source.data(), count, table);
        for (int x = 0; x < count; ++x) {
            const uint8_t* e = palette + 4 * source[x];
            ASSERT_EQ(out[x], uint32_t{e[2]} << 16 | uint32_t{e[1]} << 8 | e[0]);
        }
        ExpandBgrRow(out.data(), source.data(), count);
        for (int x = 0; x < count; ++x) {
            const uint8_t* p = source.data() + 3 * x;
            ASSERT_EQ(out[x], uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
        }
        EXPECT_EQ(out[count], 0xDEADBEEFu);
    }
}

// ---- the window manager's frame ---------------------------------------------------------------

// A window manager that offers to tell its frame's extents, on a connection of its own: it
// answers each request on the root window by setting the extents on the asking window (or keeps
// silent). While it lives the root window says it offers the request; a case using it runs alone.
class FakeWindowManager {
public:
    FakeWindowManager(const long extents[4], bool answers) : answers_(answers) {
        std::copy(extents, extents + 4, extents_);
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr) return;
        const ::Window root = DefaultRootWindow(display_);
        supported_ = XInternAtom(display_, "_NET_SUPPORTED", False);
        request_ = XInternAtom(display_, "_NET_REQUEST_FRAME_EXTENTS", False);
        frameExtents_ = XInternAtom(display_, "_NET_FRAME_EXTENTS", False);
        XSelectInput(display_, root, SubstructureNotifyMask);
        XChangeProperty(display_, root, supported_, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&request_), 1);
        XSync(display_, False);
        thread_ = std::thread([this] { Run(); });
    }
    ~FakeWindowManager() {
        if (display_ == nullptr) return;
        stop_ = true;
        thread_.join();
        XDeleteProperty(display_, DefaultRootWindow(display_), supported_);
        XCloseDisplay(display_);
    }
    explicit operator bool() const { return display_ != nullptr; }
    int Requests() const { return requests_.load(); }

private:
    void Run() {
        while (!stop_.load()) {
            if (XPending(display_) == 0) {
                pollfd connection{ConnectionNumber(display_), POLLIN, 0};
                poll(&connection, 1, 20);
                continue;
            }
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != ClientMessage || event.xclient.message_type != request_) continue;
            ++requests_;
            if (!answers_) continue;
            XChangeProperty(display_, event.xclient.window, frameExtents_, XA_CARDINAL, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(extents_), 4);
            XFlush(display_);
        }
    }

    Display* display_ = nullptr;
    Atom supported_ = 0;
    Atom request_ = 0;
    Atom frameExtents_ = 0;
    long extents_[4];
    const bool answers_;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

TEST(X11FrameExtents, TopLevelWindowsLeaveRoomForTheFrameTheWindowManagerReports) {
    X11TestDisplay app;
    LUMORA_REQUIRE_X11(app);
    const long extents[4] = {2, 3, 20, 4};  // left, right, top, bottom
    FakeWindowManager manager(extents, true);
    ASSERT_TRUE(manager);
    auto system = X11WindowSystem::Open();
    ASSERT_NE(system, nullptr);
    ASSERT_TRUE(system->RegisterClass("VideoRenderer_frame"));

    Rect rect{10, 10, 110, 90};
    ASSERT_TRUE(system->AdjustWindowRect(rect, kStyleOverlappedVisible));
    EXPECT_EQ(rect.left, 8);
    EXPECT_EQ(rect.right, 113);
    EXPECT_EQ(rect.top, -10);
    EXPECT_EQ(rect.bottom, 94);

    // The outer size is given: the client area is what the frame leaves of it.
    auto window = system->CreateTopLevel("VideoRenderer_frame", "Active Window",
                                         kStyleOverlappedVisible, 0, 0, 100, 80);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->ClientWidth(), 95);
    EXPECT_EQ(window->ClientHeight(), 56);
    // Asked once per connection, and the probe is gone.
    EXPECT_EQ(manager.Requests(), 1);
    window.reset();
    EXPECT_TRUE(system->Flush(2000));
    EXPECT_EQ(system->Resources().windows, 0u);
    EXPECT_EQ(system->ErrorCount(), 0u);
}

TEST(X11FrameExtents, WindowManagerThatNeverAnswersMeansNoFrame) {
    X11TestDisplay app;
    LUMORA_REQUIRE_X11(app);
    const long extents[4] = {2, 3, 20, 4};
    FakeWindowManager manager(extents, false);
    ASSERT_TRUE(manager);
    auto system = X11WindowSystem::Open();
    ASSERT_NE(system, nullptr);
    ASSERT_TRUE(system->RegisterClass("VideoRenderer_frame"));
    // Two threads ask at once; one request goes out and both get the same answer.
    Rect first{0, 0, 50, 40};
    Rect second{0, 0, 50, 40};
    auto other =
        std::async(std::launch::async, [&] { return system->AdjustWindowRect(second, 0); });
    EXPECT_TRUE(system->AdjustWindowRect(first, 0));
    EXPECT_TRUE(other.get());
    for (const Rect& rect : {first, second}) {
        EXPECT_EQ(rect.left, 0);
        EXPECT_EQ(rect.right, 50);
        EXPECT_EQ(rect.top, 0);
        EXPECT_EQ(rect.bottom, 40);
    }
    EXPECT_EQ(manager.Requests(), 1);
    auto window = system->CreateTopLevel("VideoRenderer_frame", "Active Window",
                                         kStyleOverlappedVisible, 0, 0, 50, 40);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->ClientWidth(), 50);
    EXPECT_EQ(window->ClientHeight(), 40);
}

// ---- pixel layouts --------------------------------------------------------------------------

TEST(X11PixelPacking, ChannelsScaleIntoTheirMasksAndBack) {
    const TrueColorLayout rgb565(0xF800, 0x07E0, 0x001F);
    EXPECT_EQ(rgb565.Pack(0xFFFFFF), 0xFFFFu);
    EXPECT_EQ(rgb565.Pack(0x000000), 0u);
    EXPECT_EQ(rgb565.Pack(0xFF0000), 0xF800u);
    EXPECT_EQ(rgb565.Pack(0x00FF00), 0x07E0u);
    EXPECT_EQ(rgb565.Pack(0x0000FF), 0x001Fu);
    EXPECT_EQ(rgb565.Pack(0x808080), (16u << 11) | (32u << 5) | 16u);  // to the nearest step
    EXPECT_EQ(rgb565.Unpack(0xFFFF), 0xFFFFFFu);

    // Narrower fields lose at most one of their steps; wider ones at most one 8-bit level.
    const TrueColorLayout deep(0x3FF00000, 0xFFC00, 0x3FF);
    for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t gray = v * 0x010101u;
        for (const auto& [layout, step] : {std::pair{&rgb565, 8u}, std::pair{&deep, 1u}}) {
            const uint32_t back = layout->Unpack(layout->Pack(gray));
            for (int shift : {0, 8, 16}) {
                const uint32_t channel = (back >> shift) & 0xFF;
                ASSERT_LE(channel > v ? channel - v : v - channel, step) << v << " " << shift;
            }
        }
    }

    // Eight bits a channel in another order: exact both ways.
    const TrueColorLayout bgr(0xFF, 0xFF00, 0xFF0000);
    EXPECT_EQ(bgr.Pack(0x123456), 0x563412u);
    EXPECT_EQ(bgr.Unpack(0x563412), 0x123456u);

    // A channel the layout lacks is left out both ways.
    const TrueColorLayout noBlue(0xF800, 0x07E0, 0);
    EXPECT_EQ(noBlue.Pack(0x0000FF), 0u);
    EXPECT_EQ(noBlue.Unpack(0xFFFF), 0xFFFF00u);
}

// A client-side image in the server's layout, with no server needed.
struct LocalImage {
    LocalImage(int width, int height, int bitsPerPixel, unsigned long red, unsigned long green,
               unsigned long blue)
        : data(static_cast<size_t>(width) * height * 4, 0xAB) {
        image.width = width;
        image.height = height;
        image.format = ZPixmap;
        image.data = reinterpret_cast<char*>(data.data());
        image.byte_order = LSBFirst;
        image.bitmap_unit = 32;
        image.bitmap_bit_order = LSBFirst;
        image.bitmap_pad = 32;
        image.depth = bitsPerPixel == 32 ? 24 : bitsPerPixel;
        image.bits_per_pixel = bitsPerPixel;
        image.bytes_per_line = width * bitsPerPixel / 8;
        image.red_mask = red;
        image.green_mask = green;
        image.blue_mask = blue;
        XInitImage(&image);
    }
    std::vector<uint8_t> data;
    XImage image{};
};

TEST(X11PixelPacking, PicturesFillTheImageInAnyLayoutAndReadBack) {
    // A 24-bit picture, 5 × 3, stored bottom-up, larger than the 4 × 2 image.
    const int width = 5;
    const int height = 3;
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * 3 * height);
    for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * 29 + 3);
    const PixelView picture{bgr.data(), width, height, width * 3, 24, nullptr, true};
    auto expected = [&](int x, int y) {  // the picture's top row is its last stored one
        const uint8_t* p = bgr.data() + static_cast<size_t>(height - 1 - y) * width * 3 + 3 * x;
        return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    };

    LocalImage direct(4, 2, 32, 0xFF0000, 0xFF00, 0xFF);
    PackImage(&direct.image, picture);
    const auto directBack = UnpackImage(&direct.image, 4, 2);
    LocalImage packed(4, 2, 16, 0xF800, 0x07E0, 0x001F);
    PackImage(&packed.image, picture);
    const auto packedBack = UnpackImage(&packed.image, 4, 2);
    const TrueColorLayout rgb565(0xF800, 0x07E0, 0x001F);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            const size_t at = static_cast<size_t>(y) * 4 + x;
            EXPECT_EQ(directBack[at], expected(x, y)) << x << "," << y;
            EXPECT_EQ(XGetPixel(&packed.image, x, y), rgb565.Pack(expected(x, y)));
            EXPECT_EQ(packedBack[at], rgb565.Unpack(rgb565.Pack(expected(x, y))));
        }
    }

    // A gray 8-bit picture through its palette.
    GrayPicture gray(4);
    LocalImage grayImage(4, 2, 16, 0xF800, 0x07E0, 0x001F);
    PackImage(&grayImage.image, gray.View());
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(XGetPixel(&grayImage.image, x, y), rgb565.Pack(gray.At(x, y)));
        }
    }
}

}  // namespace
}  // namespace lumora::platform
