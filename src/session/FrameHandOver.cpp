#include "session/FrameHandOver.h"

#include <cstring>
#include <utility>

namespace lumora {
namespace {

bool SameShape(const ImageBuffer& a, const ImageBuffer& b) {
    return a.IsValid() && a.Width() == b.Width() && a.Height() == b.Height() &&
           a.BitCount() == b.BitCount();
}

}  // namespace

bool FrameHandOver::Prepare(const ImageBuffer& image) {
    std::lock_guard lock(mutex_);
    hasPublished_ = false;
    for (ImageBuffer& slot : slots_) {
        if (!SameShape(slot, image) && !slot.CreateLike(image)) return false;
    }
    return true;
}

void FrameHandOver::Release() {
    std::lock_guard lock(mutex_);
    hasPublished_ = false;
    for (ImageBuffer& slot : slots_) slot.Reset();
}

bool FrameHandOver::Offer(const ImageBuffer& image) {
    if (!image.IsValid()) return false;
    ImageBuffer& slot = slots_[static_cast<size_t>(filling_)];
    if (!SameShape(slot, image) && !slot.CreateLike(image)) return false;
    std::memcpy(slot.Pixels(), image.Pixels(), image.SizeBytes());
    slot.SetPalette(0, kPaletteEntries, image.Palette());
    slot.SetSignificantBits(image.SignificantBits());
    std::lock_guard lock(mutex_);
    std::swap(filling_, published_);
    const bool replaced = hasPublished_;
    hasPublished_ = true;
    return !replaced;
}

const ImageBuffer* FrameHandOver::Take() {
    std::lock_guard lock(mutex_);
    if (!hasPublished_) return nullptr;
    std::swap(published_, taken_);
    hasPublished_ = false;
    return &slots_[static_cast<size_t>(taken_)];
}

}  // namespace lumora
