#include "session/PreviewWindow.h"

#include <cstdio>
#include <cstdlib>

#include "imaging/Converters.h"
#include "imaging/SampleRows.h"
#include "platform/Clock.h"

namespace lumora {
namespace {

platform::PixelView ViewOf(const ImageBuffer& image, bool bottomUp) {
    platform::PixelView view;
    view.pixels = image.Pixels();
    view.width = image.Width();
    view.height = image.Height();
    view.stride = image.Stride();
    view.bitCount = image.BitCount();
    view.palette = reinterpret_cast<const uint8_t*>(image.Palette());
    view.bottomUp = bottomUp;
    return view;
}

// A screen shows the top 8 of a 16-bit sample's significant bits (bits 4..11 of the camera's
// 12-bit samples, the high byte once the flat field has left-aligned them).
void Samples12To8(ImageBuffer& dst, const ImageBuffer& src, int channels) {
    const int bits =
        src.SignificantBits() >= 8 && src.SignificantBits() <= 16 ? src.SignificantBits() : 12;
    const int shift = bits - 8;
    const int width = std::min(dst.Width(), src.Width());
    const int height = std::min(dst.Height(), src.Height());
    const int srcStep = src.BytesPerPixel() / 2;
    const auto topBytes = SampleRows().topBytes;
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = src.Row(y);
        uint8_t* out = dst.Row(y);
        if (srcStep == channels) {  // gray, or colour without a fourth sample: one run
            topBytes(out, reinterpret_cast<const uint16_t*>(in), width * channels, shift);
            continue;
        }
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const size_t at = 2 * (static_cast<size_t>(x) * srcStep + c);
                const unsigned sample = in[at] | (in[at + 1] << 8);
                out[static_cast<size_t>(x) * channels + c] = TopByteOf(sample, bits);
            }
        }
    }
}

void Drop4thByte(ImageBuffer& dst, const ImageBuffer& src) {
    const int width = std::min(dst.Width(), src.Width());
    const int height = std::min(dst.Height(), src.Height());
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = src.Row(y);
        uint8_t* out = dst.Row(y);
        for (int x = 0; x < width; ++x) {
            out[3 * x] = in[4 * x];
            out[3 * x + 1] = in[4 * x + 1];
            out[3 * x + 2] = in[4 * x + 2];
        }
    }
}

}  // namespace

bool PreviewWindow::Create(const void* owner, const PreviewPlacement& placement, int pictureWidth,
                           int pictureHeight) {
    Close();
    auto& system = platform::WindowSystem::Current();
    char name[64];
    std::snprintf(name, sizeof name, "VideoRenderer_%08x_%08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(owner)),
                  platform::TimeGetTime() + static_cast<unsigned>(std::rand()));
    if (!system.RegisterClass(name)) return false;
    className_ = name;

    if (placement.parent != nullptr) {
        window_ = system.CreateChild(className_, placement.parent, kChildTitle,
                                     platform::kStyleChildVisibleClip, placement.x, placement.y,
                                     placement.width, placement.height);
    } else if (placement.Wanted()) {
        platform::Rect rect{0, 0, pictureWidth, pictureHeight};
        if (system.AdjustWindowRect(rect, platform::kStyleOverlappedVisible)) {
            // Centred on the screen; an axis where the window is larger starts at 0.
            const int x = std::max((system.ScreenWidth() + rect.left - rect.right) / 2, 0);
            const int y = std::max((system.ScreenHeight() + rect.top - rect.bottom) / 2, 0);
            window_ =
                system.CreateTopLevel(className_, kTopLevelTitle, platform::kStyleOverlappedVisible,
                                      x, y, rect.Width(), rect.Height());
        }
    }
    if (window_ == nullptr || !window_->Show()) {
        Close();
        return false;
    }
    return true;
}

void PreviewWindow::PrepareDisplay(int colorMode, ImageBuffer& display) {
    if (window_ == nullptr || !window_->IsVisible()) return;
    const int width = window_->ClientWidth();
    const int height = window_->ClientHeight();
    if (width <= 0 || height <= 0) return;
    display.Create(width, height, colorMode <= 1 ? 8 : 24);
}

void PreviewWindow::Draw(int colorMode, PipelineImages& images, ImageBuffer& display) {
    if (window_ == nullptr || colorMode < 0 || colorMode > 5) return;
    const ImageBuffer* picture = nullptr;
    switch (colorMode) {
        case 0:
            picture = &images.rawImage8;
            break;
        case 1:
            Samples12To8(images.rawImage8, images.rawImage16, 1);
            picture = &images.rawImage8;
            break;
        case 2:
            picture = &images.colorImage24;
            break;
        case 3:
            Drop4thByte(images.colorImage24, images.colorImage32);
            picture = &images.colorImage24;
            break;
        default:
            Samples12To8(images.colorImage24, *images.Output(colorMode), 3);
            picture = &images.colorImage24;
            break;
    }
    if (!picture->IsValid() || !window_->IsVisible()) return;
    const int clientWidth = window_->ClientWidth();
    const int clientHeight = window_->ClientHeight();
    if (clientWidth <= 0 || clientHeight <= 0) return;

    if (clientWidth == picture->Width() && clientHeight == picture->Height()) {
        // The same-size copy. Mode 1 belongs to the scaled path even here, but nearest-neighbour
        // sampling at a ratio of exactly one takes every pixel from its own place, upright: the
        // scaled picture is the picture itself, so it is shown without the display image.
        window_->PutImage(ViewOf(*picture, false));
        return;
    }
    const int displayBits = colorMode <= 1 ? 8 : 24;
    if (display.Width() != clientWidth || display.Height() != clientHeight ||
        display.BitCount() != displayBits) {
        if (!display.Create(clientWidth, clientHeight, displayBits)) return;
    }
    // The scaler writes rows bottom-up, as a device-independent bitmap holds them.
    if (ScaleImageNearest(display, *picture) == 0) return;
    window_->PutImage(ViewOf(display, true));
}

void PreviewWindow::Close() {
    window_.reset();
    if (!className_.empty()) {
        platform::WindowSystem::Current().UnregisterClass(className_);
        className_.clear();
    }
}

}  // namespace lumora
