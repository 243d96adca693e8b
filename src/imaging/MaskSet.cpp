#include "imaging/MaskSet.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "imaging/PixelAccess.h"

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

// trunc(num / den) limited to [0, limit] for den ≥ 1, |num| < 2^28, limit ≤ 4095, without an
// integer division per pixel: a single-precision quotient is within one of the truncated one
// whenever that lies near the range, and one multiply-back step makes it exact. Negative
// numerators truncate to at most 0, so they clip to 0 whatever the estimate.
inline int DivideClamped(int num, int den, int limit) {
    int q = static_cast<int>(static_cast<float>(num) / static_cast<float>(den));
    q = std::min(std::max(q, -1), limit + 1);
    const int rest = num - q * den;
    q -= rest < 0 ? 1 : 0;
    q += rest >= den ? 1 : 0;
    return std::min(std::max(q, 0), limit);
}

// 8-bit: v' = ((v − lo) × 256) / (hi − lo) truncated toward zero, limited to [0, 255], where
// hi ≠ lo; an inverted pair (hi < lo) divides by a negative span.
LUMORA_ROW_KERNEL void FlatRow8(uint8_t* v, const uint8_t* dark, const uint8_t* bright, int n) {
    for (int x = 0; x < n; ++x) {
        const int lo = dark[x];
        const int span = bright[x] - lo;
        // Signed truncating division: num / span = (−num) / (−span) keeps the divisor positive.
        const int sign = span < 0 ? -1 : 1;
        const int num = sign * (v[x] - lo) * 256;
        const int den = span != 0 ? sign * span : 1;
        const int out = DivideClamped(num, den, 255);
        v[x] = static_cast<uint8_t>(span != 0 ? out : v[x]);
    }
}

// 16-bit: where hi > lo, v' = ((v − lo) × 4096) / (hi − lo) limited to [0, 4095], shifted left
// by 4 so the result fills the top twelve bits.
LUMORA_ROW_KERNEL void FlatRow16(uint16_t* v, const uint16_t* dark, const uint16_t* bright, int n) {
    for (int x = 0; x < n; ++x) {
        const int lo = dark[x];
        const int span = bright[x] - lo;
        const int num = (v[x] - lo) * 4096;
        const int out = DivideClamped(num, span > 0 ? span : 1, 4095) << 4;
        v[x] = static_cast<uint16_t>(span > 0 ? out : v[x]);
    }
}

// One row of the outlier test: flag where |v − ⌊(left + right + up + down) / 4⌋| ≥ threshold or
// a defect map (when given) marks the pixel, for columns 4..width − 5. Returns non-zero when
// anything was flagged.
template <class T>
inline int DetectRowImpl(const T* up, const T* row, const T* down, const T* md, const T* mb,
                         uint8_t* f, int width, int threshold) {
    int rowAny = 0;
    if (md != nullptr) {
        for (int x = 4; x <= width - 5; ++x) {
            const int mean = (row[x - 1] + row[x + 1] + up[x] + down[x]) >> 2;
            const int diff = row[x] - mean;
            const int outlier = (diff >= threshold) | (-diff >= threshold);
            const int flag = outlier | md[x] | mb[x];
            f[x] = static_cast<uint8_t>(flag != 0);
            rowAny |= flag;
        }
    } else {
        for (int x = 4; x <= width - 5; ++x) {
            const int mean = (row[x - 1] + row[x + 1] + up[x] + down[x]) >> 2;
            const int diff = row[x] - mean;
            const int outlier = (diff >= threshold) | (-diff >= threshold);
            f[x] = static_cast<uint8_t>(outlier);
            rowAny |= outlier;
        }
    }
    return rowAny;
}
LUMORA_ROW_KERNEL int DetectRow(const uint8_t* up, const uint8_t* row, const uint8_t* down,
                                const uint8_t* md, const uint8_t* mb, uint8_t* f, int width,
                                int threshold) {
    return DetectRowImpl(up, row, down, md, mb, f, width, threshold);
}
LUMORA_ROW_KERNEL int DetectRow(const uint16_t* up, const uint16_t* row, const uint16_t* down,
                                const uint16_t* md, const uint16_t* mb, uint8_t* f, int width,
                                int threshold) {
    return DetectRowImpl(up, row, down, md, mb, f, width, threshold);
}

// Detection pass. Only the frame's part of the flag plane is used; the rows and columns the
// test does not reach are cleared, the rest is written by the test itself.
template <class T>
bool Detect(const ImageBuffer& frame, ImageBuffer& flags, const ImageBuffer* darkMap,
            const ImageBuffer* brightMap, int originX, int originY, int threshold,
            std::vector<uint8_t>& rowHasFlag) {
    const int width = frame.Width();
    const int height = frame.Height();
    rowHasFlag.assign(static_cast<size_t>(height), 0);
    bool any = false;
    for (int y = 0; y < height; ++y) {
        uint8_t* f = flags.Row(y);
        if (y < 4 || y > height - 5 || width < 9) {
            std::memset(f, 0, static_cast<size_t>(width));
            continue;
        }
        std::memset(f, 0, 4);
        std::memset(f + width - 4, 0, 4);
        const T* md = darkMap != nullptr ? PlaneRow<T>(*darkMap, originY + y) + originX : nullptr;
        const T* mb =
            brightMap != nullptr ? PlaneRow<T>(*brightMap, originY + y) + originX : nullptr;
        const int rowAny = DetectRow(PlaneRow<T>(frame, y - 1), PlaneRow<T>(frame, y),
                                     PlaneRow<T>(frame, y + 1), md, mb, f, width, threshold);
        rowHasFlag[static_cast<size_t>(y)] = static_cast<uint8_t>(rowAny != 0);
        any |= rowAny != 0;
    }
    return any;
}

// Replaces each flagged pixel by the mean of the nearest unflagged pixel in each of the four
// directions. Unflagged pixels never change, so the nearest ones can be remembered along a run
// of flagged pixels instead of searched again: a flagged column or row costs one pass, not a
// search per pixel. Flags are scanned eight at a time, since most are 0.
template <class T>
void Replace(ImageBuffer& frame, const ImageBuffer& flags, const std::vector<uint8_t>& rowHasFlag) {
    const int width = frame.Width();
    const int height = frame.Height();
    // Per column: the nearest unflagged row above the last flagged pixel processed, and the
    // first unflagged row below the current vertical run (-1 or stale when none is known).
    std::vector<int> upRow(static_cast<size_t>(width), -1);
    std::vector<int> downRow(static_cast<size_t>(width), -1);
    for (int y = 0; y < height; ++y) {
        if (rowHasFlag[static_cast<size_t>(y)] == 0) continue;
        const uint8_t* f = flags.Row(y);
        const uint8_t* above = y > 0 ? flags.Row(y - 1) : nullptr;
        T* row = PlaneRow<T>(frame, y);
        int leftGood = -1;
        int rightGood = -1;
        for (int x = 0; x < width; ++x) {
            if (x + 8 <= width) {
                uint64_t word;
                std::memcpy(&word, f + x, 8);
                if (word == 0) {
                    leftGood = x + 7;
                    x += 7;
                    continue;
                }
            }
            if (f[x] == 0) {
                leftGood = x;
                continue;
            }
            int sum = 0;
            int count = 0;
            if (leftGood >= 0) {
                sum += row[leftGood];
                ++count;
            }
            if (rightGood <= x) {
                rightGood = x + 1;
                while (rightGood < width && f[rightGood] != 0) ++rightGood;
            }
            if (rightGood < width) {
                sum += row[rightGood];
                ++count;
            }
            // Above: the pixel right above, or, when that one is flagged too, the row it used.
            int up = y - 1;
            if (up >= 0 && above[x] != 0) up = upRow[static_cast<size_t>(x)];
            upRow[static_cast<size_t>(x)] = up;
            if (up >= 0) {
                sum += PlaneRow<T>(frame, up)[x];
                ++count;
            }
            int& down = downRow[static_cast<size_t>(x)];
            if (down <= y) {
                down = y + 1;
                while (down < height && flags.Row(down)[x] != 0) ++down;
            }
            if (down < height) {
                sum += PlaneRow<T>(frame, down)[x];
                ++count;
            }
            if (count > 0) row[x] = static_cast<T>(sum / count);
        }
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
        // Flags are 0/1 whatever the depth; bytes halve the traffic of 16-bit frames.
        ok = ok && flags_[slot].Create(width, height, 8);
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
    for (auto& image : flags_) image.Reset();
    width_ = height_ = 0;
}

bool MaskSet::IsComplete() const {
    for (int slot = 0; slot < 2; ++slot) {
        for (int which = 0; which < 2; ++which) {
            if (!references_[slot][which].IsValid() || !maps_[slot][which].IsValid()) return false;
        }
        if (!flags_[slot].IsValid()) return false;
    }
    return true;
}

void MaskSet::BuildDefectMap(int depthBits, int which) {
    if (!IsComplete()) return;
    const int slot = Slot(depthBits);
    const ImageBuffer& reference = references_[slot][which & 1];
    ImageBuffer& map = maps_[slot][which & 1];
    const bool bright = (which & 1) == kMaskBright;
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

bool FlatFieldCorrect(ImageBuffer& frame, const MaskSet& masks, const MaskGeometry& geometry) {
    if (!frame.IsValid() || !masks.IsComplete()) return false;
    const int bits = frame.BitCount();
    if (bits != 8 && bits != 16) return false;
    int ox = 0;
    int oy = 0;
    if (!ReferenceOrigin(frame, masks, geometry, ox, oy)) return false;
    const ImageBuffer& dark = masks.Reference(bits, kMaskDark);
    const ImageBuffer& bright = masks.Reference(bits, kMaskBright);
    for (int y = 0; y < frame.Height(); ++y) {
        if (bits == 8) {
            FlatRow8(frame.Row(y), dark.Row(oy + y) + ox, bright.Row(oy + y) + ox, frame.Width());
        } else {
            FlatRow16(Words(frame.Row(y)), Words(dark.Row(oy + y)) + ox,
                      Words(bright.Row(oy + y)) + ox, frame.Width());
        }
    }
    return true;
}

bool DefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                   int threshold) {
    if (!frame.IsValid() || !masks.IsComplete()) return false;
    const int bits = frame.BitCount();
    if (bits != 8 && bits != 16) return false;
    if (frame.Width() > masks.Width() || frame.Height() > masks.Height()) return false;
    int ox = 0;
    int oy = 0;
    const bool aligned = ReferenceOrigin(frame, masks, geometry, ox, oy);
    const ImageBuffer* darkMap = aligned ? &masks.DefectMap(bits, kMaskDark) : nullptr;
    const ImageBuffer* brightMap = aligned ? &masks.DefectMap(bits, kMaskBright) : nullptr;
    ImageBuffer& flags = masks.Flags(bits);
    std::vector<uint8_t> rowHasFlag;
    if (bits == 8) {
        if (Detect<uint8_t>(frame, flags, darkMap, brightMap, ox, oy, threshold, rowHasFlag)) {
            Replace<uint8_t>(frame, flags, rowHasFlag);
        }
    } else {
        if (Detect<uint16_t>(frame, flags, darkMap, brightMap, ox, oy, threshold, rowHasFlag)) {
            Replace<uint16_t>(frame, flags, rowHasFlag);
        }
    }
    return true;
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
    if (!masks.IsComplete() || !fill || !fill(masks)) return false;
    masks.BuildAllDefectMaps();
    return true;
}

}  // namespace lumora
