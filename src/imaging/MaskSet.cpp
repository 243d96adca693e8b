#include "imaging/MaskSet.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"

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

// The flat field divides by each pixel's span between its references. The spans change only with
// the references, so their reciprocals are prepared once (MaskSet::FlatScale) and a frame costs
// a multiply per pixel. The single-precision product is within one of the exact quotient
// wherever that quotient matters (inside the output range), and the steps below make it exact.

// 8-bit: v' = ((v − lo) × 256) / (hi − lo) truncated toward zero, limited to [0, 255], where
// hi ≠ lo (scale = 256 / (hi − lo), 0 where hi = lo). Within the output range the product is off
// by less than 1e-4, while a quotient that is not whole lies at least 1/255 below the next
// whole number, so a nudge of 1e-3 before truncating lands every whole quotient on itself and
// leaves the others where they are. Negative quotients clip to 0 however they truncate.
LUMORA_ROW_KERNEL void FlatRow8(uint8_t* v, const uint8_t* dark, const float* scale, int n) {
    for (int x = 0; x < n; ++x) {
        const float s = scale[x];
        const int t = v[x] - dark[x];
        const int q = static_cast<int>(static_cast<float>(t) * s + 1e-3f);
        const int out = std::min(std::max(q, 0), 255);
        v[x] = static_cast<uint8_t>(s != 0.0f ? out : v[x]);
    }
}

// 16-bit: where hi > lo, v' = ((v − lo) × 4096) / (hi − lo) limited to [0, 4095], shifted left
// by 4 so the result fills the top twelve bits (scale = 4096 / (hi − lo), 0 where hi ≤ lo).
// Quotients here can lie as close as 1/65535 to a whole number, so the estimate is made exact
// by one multiply-back step instead of a nudge.
LUMORA_ROW_KERNEL void FlatRow16(uint16_t* v, const uint16_t* dark, const uint16_t* bright,
                                 const float* scale, int n) {
    for (int x = 0; x < n; ++x) {
        const int lo = dark[x];
        const int span = bright[x] - lo;
        const int t = v[x] - lo;
        int q = static_cast<int>(static_cast<float>(t) * scale[x]);
        q = std::min(std::max(q, -1), 4096);
        const int rest = t * 4096 - q * span;
        q -= rest < 0 ? 1 : 0;
        q += rest >= span ? 1 : 0;
        const int out = std::min(std::max(q, 0), 4095) << 4;
        v[x] = static_cast<uint16_t>(span > 0 ? out : v[x]);
    }
}

template <class T>
void BuildScale(const ImageBuffer& dark, const ImageBuffer& bright, int width, int height,
                std::vector<float>& scale) {
    constexpr float kFullScale = sizeof(T) == 1 ? 256.0f : 4096.0f;
    scale.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const T* lo = PlaneRow<T>(dark, y);
        const T* hi = PlaneRow<T>(bright, y);
        float* s = scale.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x) {
            const int span = hi[x] - lo[x];
            const bool used = sizeof(T) == 1 ? span != 0 : span > 0;
            s[x] = used ? kFullScale / static_cast<float>(span) : 0.0f;
        }
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

// A flagged pixel, in row order.
struct FlaggedPixel {
    int x;
    int y;
};

// Appends the flagged columns of one flag row, eight flags at a time since most are 0.
void CollectRow(const uint8_t* f, int width, int y, std::vector<FlaggedPixel>& out) {
    for (int x = 0; x < width; ++x) {
        if (x + 8 <= width) {
            uint64_t word;
            std::memcpy(&word, f + x, 8);
            if (word == 0) {
                x += 7;
                continue;
            }
        }
        if (f[x] != 0) out.push_back(FlaggedPixel{x, y});
    }
}

// Detection over rows [first, last). Only the frame's part of the flag plane is used; the rows
// and columns the test does not reach are cleared, the rest is written by the test itself.
// The flagged pixels of the band are listed for the replacement.
template <class T>
void Detect(const ImageBuffer& frame, ImageBuffer& flags, const ImageBuffer* darkMap,
            const ImageBuffer* brightMap, int originX, int originY, int threshold, int first,
            int last, std::vector<FlaggedPixel>& flagged) {
    const int width = frame.Width();
    const int height = frame.Height();
    flagged.clear();
    for (int y = first; y < last; ++y) {
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
        if (rowAny != 0) CollectRow(f, width, y, flagged);
    }
}

// Per-band memory of the vertical searches, one entry per column.
struct ColumnMemo {
    std::vector<int> lastRow;  // the row of the last flagged pixel replaced in the column
    std::vector<int> upRow;    // the nearest unflagged row above it (-1: none)
    std::vector<int> downRow;  // the first unflagged row below its run (height: none)
    void Reset(int width) {
        lastRow.assign(static_cast<size_t>(width), -2);
        upRow.assign(static_cast<size_t>(width), -1);
        downRow.assign(static_cast<size_t>(width), -1);
    }
};

// Replaces each listed pixel by the mean of the nearest unflagged pixel in each of the four
// directions. Unflagged pixels never change, so the bands can run at the same time (each
// writes only its own flagged pixels and reads only unflagged ones), and the nearest ones can
// be remembered along a run of flagged pixels instead of searched again: a flagged column or
// row costs one pass, not a search per pixel. Only the listed pixels are visited.
template <class T>
void Replace(ImageBuffer& frame, const ImageBuffer& flags, const std::vector<FlaggedPixel>& flagged,
             ColumnMemo& memo) {
    const int width = frame.Width();
    const int height = frame.Height();
    memo.Reset(width);
    int leftGood = -1;
    int rightGood = -1;
    int currentRow = -1;
    int previousX = -2;
    for (const FlaggedPixel& p : flagged) {
        const int x = p.x;
        const int y = p.y;
        const uint8_t* f = flags.Row(y);
        T* row = PlaneRow<T>(frame, y);
        if (y != currentRow) {
            currentRow = y;
            rightGood = -1;
            previousX = -2;
        }
        // Left: the pixel just left of this one unless it is flagged too (then the one the
        // flagged run started from).
        if (previousX != x - 1) leftGood = x - 1;
        previousX = x;
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
        const size_t cx = static_cast<size_t>(x);
        int up = y - 1;
        if (up >= 0 && flags.Row(up)[x] != 0) {
            if (memo.lastRow[cx] == y - 1) {
                up = memo.upRow[cx];
            } else {
                while (up >= 0 && flags.Row(up)[x] != 0) --up;
            }
        }
        memo.lastRow[cx] = y;
        memo.upRow[cx] = up;
        if (up >= 0) {
            sum += PlaneRow<T>(frame, up)[x];
            ++count;
        }
        int& down = memo.downRow[cx];
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
    for (auto& scale : scale_) std::vector<float>().swap(scale);
    scaleStale_ = {true, true};
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

const float* MaskSet::FlatScale(int depthBits) {
    if (!IsComplete()) return nullptr;
    const int slot = Slot(depthBits);
    if (scaleStale_[slot] || scale_[slot].empty()) {
        const ImageBuffer& dark = references_[slot][kMaskDark];
        const ImageBuffer& bright = references_[slot][kMaskBright];
        if (slot == 0) {
            BuildScale<uint8_t>(dark, bright, width_, height_, scale_[slot]);
        } else {
            BuildScale<uint16_t>(dark, bright, width_, height_, scale_[slot]);
        }
        scaleStale_[slot] = false;
    }
    return scale_[slot].data();
}

int DefectThresholdFor(int bitCount, int significantBits) {
    if (bitCount != 16) return kDefectThreshold8;
    const int bits = std::clamp(significantBits, 8, 16);
    return bits >= 12 ? kDefectThreshold16 << (bits - 12) : kDefectThreshold16 >> (12 - bits);
}

bool FlatFieldCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                      RowBandPool* pool) {
    if (!frame.IsValid() || !masks.IsComplete()) return false;
    const int bits = frame.BitCount();
    if (bits != 8 && bits != 16) return false;
    int ox = 0;
    int oy = 0;
    if (!ReferenceOrigin(frame, masks, geometry, ox, oy)) return false;
    const float* scale = masks.FlatScale(bits);
    if (scale == nullptr) return false;
    const MaskSet& planes = masks;
    const ImageBuffer& dark = planes.Reference(bits, kMaskDark);
    const ImageBuffer& bright = planes.Reference(bits, kMaskBright);
    const size_t pitch = static_cast<size_t>(masks.Width());
    RunRowBands(pool, frame.Height(), [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            const float* s = scale + static_cast<size_t>(oy + y) * pitch + static_cast<size_t>(ox);
            if (bits == 8) {
                FlatRow8(frame.Row(y), dark.Row(oy + y) + ox, s, frame.Width());
            } else {
                FlatRow16(Words(frame.Row(y)), Words(dark.Row(oy + y)) + ox,
                          Words(bright.Row(oy + y)) + ox, s, frame.Width());
            }
        }
    });
    return true;
}

bool DefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry, int threshold,
                   RowBandPool* pool) {
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
    const int height = frame.Height();
    // Both passes use the same bands, so band i's list holds the flagged pixels of its rows;
    // the pool is handed band numbers, not rows.
    const int bands = pool != nullptr ? std::clamp(height / 64, 1, pool->Bands()) : 1;
    const std::vector<int> starts = RowBandPool::Split(height, bands, 1);
    std::vector<std::vector<FlaggedPixel>> flagged(static_cast<size_t>(bands));
    // Detection of all bands ends before any replacement starts: the replacement reads flags
    // of neighbouring rows.
    RunRowBands(
        pool, bands,
        [&](int firstBand, int lastBand) {
            for (int band = firstBand; band < lastBand; ++band) {
                const int a = starts[static_cast<size_t>(band)];
                const int b = starts[static_cast<size_t>(band) + 1];
                std::vector<FlaggedPixel>& list = flagged[static_cast<size_t>(band)];
                if (bits == 8) {
                    Detect<uint8_t>(frame, flags, darkMap, brightMap, ox, oy, threshold, a, b,
                                    list);
                } else {
                    Detect<uint16_t>(frame, flags, darkMap, brightMap, ox, oy, threshold, a, b,
                                     list);
                }
            }
        },
        1);
    bool any = false;
    for (const auto& list : flagged) any |= !list.empty();
    if (!any) return true;
    RunRowBands(
        pool, bands,
        [&](int firstBand, int lastBand) {
            ColumnMemo memo;
            for (int band = firstBand; band < lastBand; ++band) {
                const std::vector<FlaggedPixel>& list = flagged[static_cast<size_t>(band)];
                if (list.empty()) continue;
                if (bits == 8) {
                    Replace<uint8_t>(frame, flags, list, memo);
                } else {
                    Replace<uint16_t>(frame, flags, list, memo);
                }
            }
        },
        1);
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
        masks.ReferencesChanged(bits);
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
    const bool filled = fill(masks);
    // Even a failed fill may have written part of the references.
    masks.ReferencesChanged(8);
    masks.ReferencesChanged(16);
    if (!filled) return false;
    masks.BuildAllDefectMaps();
    return true;
}

}  // namespace lumora
