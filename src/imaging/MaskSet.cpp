#include "imaging/MaskSet.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace lumora {

namespace {

template <class T>
void Fill(ImageBuffer& image, T value) {
    for (int y = 0; y < image.Height(); ++y) {
        T* row = reinterpret_cast<T*>(image.Row(y));
        std::fill(row, row + image.Width(), value);
    }
}

template <class T>
T* PlaneRow(ImageBuffer& image, int y) {
    return reinterpret_cast<T*>(image.Row(y));
}
template <class T>
const T* PlaneRow(const ImageBuffer& image, int y) {
    return reinterpret_cast<const T*>(image.Row(y));
}

template <class T, bool kBright>
void BuildMap(const ImageBuffer& reference, ImageBuffer& map, int limit) {
    const int width = std::min(reference.Width(), map.Width());
    const int height = std::min(reference.Height(), map.Height());
    for (int y = 0; y < map.Height(); ++y)
        std::memset(map.Row(y), 0, static_cast<size_t>(map.Stride()));
    for (int y = 2; y < height - 2; ++y) {
        const T* r = PlaneRow<T>(reference, y);
        T* m = PlaneRow<T>(map, y);
        for (int x = 2; x < width - 2; ++x) {
            m[x] = static_cast<T>(kBright ? (r[x] < limit) : (r[x] > limit));
        }
    }
}

// Appends the columns of plane row y that either map marks.
template <class T>
void AppendMarked(const ImageBuffer& dark, const ImageBuffer& bright, int y, int width,
                  std::vector<uint32_t>& columns) {
    const T* d = PlaneRow<T>(dark, y);
    const T* b = PlaneRow<T>(bright, y);
    for (int x = 0; x < width; ++x) {
        if ((d[x] | b[x]) != 0) columns.push_back(static_cast<uint32_t>(x));
    }
}

}  // namespace

bool MaskSet::Create(int width, int height) {
    Reset();
    bool ok = true;
    for (int slot = 0; slot < 2; ++slot) {
        const int bits = slot == 0 ? 8 : 16;
        for (int which = 0; which < 2; ++which) {
            ok = ok && references_[slot][which].Create(width, height, bits);
            ok = ok && maps_[slot][which].Create(width, height, bits);
        }
    }
    if (!ok) {
        Reset();
        return false;
    }
    Fill<uint8_t>(references_[0][kMaskBright], 255);
    Fill<uint16_t>(references_[1][kMaskBright], 4095);
    width_ = width;
    height_ = height;
    return true;
}

void MaskSet::Reset() {
    for (auto& pair : references_) {
        for (auto& image : pair) image.Reset();
    }
    for (auto& pair : maps_) {
        for (auto& image : pair) image.Reset();
    }
    for (auto& mapped : mapped_) mapped = MappedDefects{};
    mapsStale_ = {true, true};
    width_ = height_ = 0;
}

bool MaskSet::IsComplete() const {
    for (int slot = 0; slot < 2; ++slot) {
        for (int which = 0; which < 2; ++which) {
            if (!references_[slot][which].IsValid() || !maps_[slot][which].IsValid()) return false;
        }
    }
    return true;
}

void MaskSet::BuildDefectMap(int depthBits, int which) {
    if (!IsComplete()) return;
    const int slot = Slot(depthBits);
    const ImageBuffer& reference = references_[slot][which & 1];
    ImageBuffer& map = maps_[slot][which & 1];
    const bool bright = (which & 1) == kMaskBright;
    mapsStale_[slot] = true;
    if (slot == 0) {
        if (bright) {
            BuildMap<uint8_t, true>(reference, map, 64);
        } else {
            BuildMap<uint8_t, false>(reference, map, 192);
        }
    } else {
        if (bright) {
            BuildMap<uint16_t, true>(reference, map, 1024);
        } else {
            BuildMap<uint16_t, false>(reference, map, 3072);
        }
    }
}

void MaskSet::BuildAllDefectMaps() {
    for (int bits : {8, 16}) {
        BuildDefectMap(bits, kMaskDark);
        BuildDefectMap(bits, kMaskBright);
    }
}

bool ReferenceOrigin(const ImageBuffer& frame, const MaskSet& masks, const MaskGeometry& geometry,
                     int& originX, int& originY) {
    if (frame.Width() != geometry.frameWidth || frame.Height() != geometry.frameHeight) {
        return false;
    }
    if (geometry.windowX < 0 || geometry.windowY < 0) return false;
    if (static_cast<long long>(geometry.windowX) + frame.Width() > masks.Width() ||
        static_cast<long long>(geometry.windowY) + frame.Height() > masks.Height()) {
        return false;
    }
    originX = geometry.windowX;
    originY = geometry.windowY;
    return true;
}

const MaskSet::MappedDefects& MaskSet::MappedDefectsOf(int depthBits) {
    const int slot = Slot(depthBits);
    MappedDefects& mapped = mapped_[slot];
    if (!mapsStale_[slot] || !IsComplete()) return mapped;
    mapped.rowStart.assign(static_cast<size_t>(height_) + 1, 0);
    mapped.columns.clear();
    const ImageBuffer& dark = maps_[slot][kMaskDark];
    const ImageBuffer& bright = maps_[slot][kMaskBright];
    for (int y = 0; y < height_; ++y) {
        if (slot == 0) {
            AppendMarked<uint8_t>(dark, bright, y, width_, mapped.columns);
        } else {
            AppendMarked<uint16_t>(dark, bright, y, width_, mapped.columns);
        }
        mapped.rowStart[static_cast<size_t>(y) + 1] = static_cast<uint32_t>(mapped.columns.size());
    }
    mapsStale_[slot] = false;
    return mapped;
}

MaskUpdate UpdateMaskReference(MaskSet& masks, platform::CriticalSection& maskLock,
                               const ImageBuffer& raw, int which) {
    std::lock_guard<platform::CriticalSection> lock(maskLock);
    if (!masks.IsComplete()) return MaskUpdate::kNoMasks;
    const int bits = raw.BitCount();
    if (!raw.IsValid() || (bits != 8 && bits != 16)) return MaskUpdate::kNotFullSize;
    if (raw.Width() == masks.Width() && raw.Height() == masks.Height()) {
        if (which != kMaskDark && which != kMaskBright) return MaskUpdate::kBadSelector;
        ImageBuffer& reference = masks.Reference(bits, which);
        std::memcpy(reference.Pixels(), raw.Pixels(),
                    std::min(reference.SizeBytes(), raw.SizeBytes()));
        masks.BuildDefectMap(bits, which == kMaskDark ? kMaskDark : kMaskBright);
        return MaskUpdate::kStored;
    }
    return MaskUpdate::kNotFullSize;
}

bool LoadMaskReferences(MaskSet& masks, platform::CriticalSection& maskLock,
                        const std::function<bool(MaskSet&)>& fill) {
    std::lock_guard<platform::CriticalSection> lock(maskLock);
    if (!masks.IsComplete() || !fill) return false;
    if (!fill(masks)) return false;
    masks.BuildAllDefectMaps();
    return true;
}

}  // namespace lumora
