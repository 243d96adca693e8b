#pragma once
// Windows without a display: each keeps its client pixels in memory. What a test or the command
// reads back is exactly what a screen would have shown.
#include <memory>
#include <mutex>
#include <set>

#include "platform/Window.h"

namespace lumora::platform {

// Own it through a shared_ptr: its windows keep it alive.
class OffscreenWindowSystem : public WindowSystem,
                              public std::enable_shared_from_this<OffscreenWindowSystem> {
public:
    // Decoration a top-level window adds around its client area.
    static constexpr int kBorder = 8;
    static constexpr int kCaption = 23;

    OffscreenWindowSystem(int screenWidth = 1920, int screenHeight = 1080)
        : screenWidth_(screenWidth), screenHeight_(screenHeight) {}

    bool RegisterClass(const std::string& name) override;
    bool UnregisterClass(const std::string& name) override;
    std::unique_ptr<Window> CreateChild(const std::string& className, HWND parent,
                                        const std::string& title, uint32_t style, int x, int y,
                                        int width, int height) override;
    std::unique_ptr<Window> CreateTopLevel(const std::string& className, const std::string& title,
                                           uint32_t style, int x, int y, int width,
                                           int height) override;
    bool AdjustWindowRect(Rect& rect, uint32_t style) const override;
    int ScreenWidth() const override { return screenWidth_; }
    int ScreenHeight() const override { return screenHeight_; }

    size_t ClassCount() const;
    size_t LiveWindowCount() const;

private:
    friend class OffscreenWindow;
    void WindowGone();

    const int screenWidth_;
    const int screenHeight_;
    mutable std::mutex mutex_;  // guards classes_ and liveWindows_
    std::set<std::string> classes_;
    size_t liveWindows_ = 0;
};

}  // namespace lumora::platform
