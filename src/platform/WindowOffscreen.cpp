#include "platform/WindowOffscreen.h"

#include <algorithm>

#include "platform/SimdLevel.h"
#include "platform/WindowPixels.h"

namespace lumora::platform {

class OffscreenWindow final : public Window {
public:
    OffscreenWindow(std::shared_ptr<OffscreenWindowSystem> system, std::string title,
                    uint32_t style, HWND parent, Rect frame, int clientWidth, int clientHeight)
        : system_(std::move(system)),
          title_(std::move(title)),
          style_(style),
          parent_(parent),
          frame_(frame) {
        SetClientSize(clientWidth, clientHeight);
    }
    ~OffscreenWindow() override {
        if (system_ != nullptr) system_->WindowGone();
    }

    std::string Title() const override { return title_; }
    uint32_t Style() const override { return style_; }
    Rect Frame() const override { return frame_; }
    int ClientWidth() const override {
        std::lock_guard lock(mutex_);
        return width_;
    }
    int ClientHeight() const override {
        std::lock_guard lock(mutex_);
        return height_;
    }
    bool IsVisible() const override {
        std::lock_guard lock(mutex_);
        return visible_;
    }
    HWND Parent() const override { return parent_; }
    bool Show() override {
        std::lock_guard lock(mutex_);
        visible_ = true;
        return true;
    }
    void SetClientSize(int width, int height) override {
        std::lock_guard lock(mutex_);
        width_ = std::max(width, 0);
        height_ = std::max(height, 0);
        pixels_.assign(static_cast<size_t>(width_) * height_, 0);  // black class background
    }
    void PutImage(const PixelView& image) override {
        if (image.pixels == nullptr || (image.bitCount != 8 && image.bitCount != 24)) return;
        if (image.bitCount == 8 && image.palette == nullptr) return;
        std::lock_guard lock(mutex_);
        const int rows = std::min(height_, image.height);
        const int cols = std::min(width_, image.width);
        // The same row conversions as a display's, so both show the same words.
        uint32_t table[256];
        const bool gray = image.bitCount == 8 && IsGrayPalette(image.palette);
        if (image.bitCount == 8 && !gray) PaletteWords(image.palette, table);
        for (int y = 0; y < rows; ++y) {
            const int sourceRow = image.bottomUp ? image.height - 1 - y : y;
            const uint8_t* src = image.pixels + static_cast<size_t>(sourceRow) * image.stride;
            uint32_t* dst = pixels_.data() + static_cast<size_t>(y) * width_;
            if (gray) {
                ExpandGrayRow(dst, src, cols);
            } else if (image.bitCount == 8) {
                ExpandPaletteRow(dst, src, cols, table);
            } else {
                ExpandBgrRow(dst, src, cols);
            }
        }
        FenceStreamedStores();
    }
    std::vector<uint32_t> ClientPixels() const override {
        std::lock_guard lock(mutex_);
        return pixels_;
    }

private:
    const std::shared_ptr<OffscreenWindowSystem> system_;
    const std::string title_;
    const uint32_t style_;
    const HWND parent_;
    const Rect frame_;
    mutable std::mutex mutex_;  // guards the client size, visibility and pixels
    int width_ = 0;
    int height_ = 0;
    bool visible_ = false;
    std::vector<uint32_t> pixels_;
};

bool OffscreenWindowSystem::RegisterClass(const std::string& name) {
    std::lock_guard lock(mutex_);
    return !name.empty() && classes_.insert(name).second;
}

bool OffscreenWindowSystem::UnregisterClass(const std::string& name) {
    std::lock_guard lock(mutex_);
    return classes_.erase(name) == 1;
}

std::unique_ptr<Window> OffscreenWindowSystem::CreateChild(const std::string& className,
                                                           HWND parent, const std::string& title,
                                                           uint32_t style, int x, int y, int width,
                                                           int height) {
    {
        std::lock_guard lock(mutex_);
        if (classes_.count(className) == 0 || parent == nullptr) return nullptr;
        ++liveWindows_;
    }
    const Rect frame{x, y, x + width, y + height};
    return std::make_unique<OffscreenWindow>(weak_from_this().lock(), title, style, parent, frame,
                                             width, height);
}

std::unique_ptr<Window> OffscreenWindowSystem::CreateTopLevel(const std::string& className,
                                                              const std::string& title,
                                                              uint32_t style, int x, int y,
                                                              int width, int height) {
    {
        std::lock_guard lock(mutex_);
        if (classes_.count(className) == 0) return nullptr;
        ++liveWindows_;
    }
    const Rect frame{x, y, x + width, y + height};
    return std::make_unique<OffscreenWindow>(weak_from_this().lock(), title, style, nullptr, frame,
                                             width - 2 * kBorder, height - kCaption - 2 * kBorder);
}

bool OffscreenWindowSystem::AdjustWindowRect(Rect& rect, uint32_t /*style*/) const {
    rect.left -= kBorder;
    rect.right += kBorder;
    rect.top -= kBorder + kCaption;
    rect.bottom += kBorder;
    return true;
}

size_t OffscreenWindowSystem::ClassCount() const {
    std::lock_guard lock(mutex_);
    return classes_.size();
}

size_t OffscreenWindowSystem::LiveWindowCount() const {
    std::lock_guard lock(mutex_);
    return liveWindows_;
}

void OffscreenWindowSystem::WindowGone() {
    std::lock_guard lock(mutex_);
    --liveWindows_;
}

}  // namespace lumora::platform
