#pragma once
// The window a session shows its frames in: a child of the application's window or a centred
// top-level window sized to the picture. Each frame is drawn upright, scaled to the client area
// by nearest neighbour when the sizes differ.
//
// Threads: Create and Close run on the caller's thread while no capture thread runs; Draw runs
// on the capture thread under the session's capture lock.
#include <memory>
#include <string>

#include "imaging/FramePipeline.h"
#include "platform/Window.h"

namespace lumora {

struct PreviewPlacement {
    HWND parent = nullptr;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // A window is wanted when a parent or any placement value is given.
    bool Wanted() const {
        return parent != nullptr || x != 0 || y != 0 || width != 0 || height != 0;
    }
    // The largest child the window layers make (X11 geometry is 16-bit; a drawable surface this
    // size already costs a quarter gigabyte), and the span its position may take.
    static constexpr int kMaxExtent = 8192;
    static constexpr int kMaxOffset = 32767;
    // Whether a window can be made for it. Without a parent the window is sized to the picture,
    // so only a child's own placement can be out of reach.
    bool Makeable() const {
        if (parent == nullptr) return true;
        return width >= 0 && width <= kMaxExtent && height >= 0 && height <= kMaxExtent &&
               x >= -kMaxOffset && x <= kMaxOffset && y >= -kMaxOffset && y <= kMaxOffset;
    }
};

class PreviewWindow {
public:
    static constexpr const char* kChildTitle = "ActiveMovie Window";
    static constexpr const char* kTopLevelTitle = "Active Window";
    static constexpr int kChildId = 6540;

    PreviewWindow() = default;
    ~PreviewWindow() { Close(); }
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // Registers a new window class named after `owner` and creates the window for `placement`;
    // a top-level window gets a client area of pictureWidth × pictureHeight. Any earlier window
    // is destroyed first. False when no window could be made.
    bool Create(const void* owner, const PreviewPlacement& placement, int pictureWidth,
                int pictureHeight);
    // Shows the processed output image of `colorMode`. Never fails visibly: an invisible or
    // empty window gets nothing.
    void Draw(int colorMode, PipelineImages& images, ImageBuffer& display);
    // Sizes the display image to the client area for `colorMode`, as a capture is prepared.
    void PrepareDisplay(int colorMode, ImageBuffer& display);
    // Destroys the window and unregisters its class.
    void Close();

    bool Exists() const { return window_ != nullptr; }
    platform::Window* Get() const { return window_.get(); }
    const std::string& ClassName() const { return className_; }

private:
    std::unique_ptr<platform::Window> window_;
    std::string className_;
};

}  // namespace lumora
