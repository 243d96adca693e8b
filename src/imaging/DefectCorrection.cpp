#include "imaging/DefectCorrection.h"

#include <algorithm>
#include <vector>

#include "imaging/FlatField.h"
#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"
#include "imaging/SimdTargets.h"

namespace lumora {

namespace {

// ---- the outlier test, row by row ------------------------------------------------------------

template <class T>
int DetectPortable(const T* up, const T* row, const T* down, int begin, int end, int threshold,
                   int32_t* hits) {
    int n = 0;
    for (int x = begin; x < end; ++x) {
        const int mean = (row[x - 1] + row[x + 1] + up[x] + down[x]) >> 2;
        const int diff = row[x] - mean;
        if (diff >= threshold || -diff >= threshold) hits[n++] = x;
    }
    return n;
}

#if LUMORA_X86_SIMD

// Appends x + i for every set bit i of `bits`, lowest first.
inline int AppendBits(uint32_t bits, int x, int32_t* hits, int n) {
    while (bits != 0) {
        hits[n++] = x + __builtin_ctz(bits);
        bits &= bits - 1;
    }
    return n;
}

// 16-bit samples: ⌊(a + b + c + d) / 4⌋ without leaving 16 bits, as the quarters plus the
// quarter of the remainders.
inline __m128i Mean4Sse2(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i three = _mm_set1_epi16(3);
    const __m128i quarters =
        _mm_add_epi16(_mm_add_epi16(_mm_srli_epi16(a, 2), _mm_srli_epi16(b, 2)),
                      _mm_add_epi16(_mm_srli_epi16(c, 2), _mm_srli_epi16(d, 2)));
    const __m128i rests =
        _mm_add_epi16(_mm_add_epi16(_mm_and_si128(a, three), _mm_and_si128(b, three)),
                      _mm_add_epi16(_mm_and_si128(c, three), _mm_and_si128(d, three)));
    return _mm_add_epi16(quarters, _mm_srli_epi16(rests, 2));
}

inline __m128i Load128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// ---- SSE2 -----------------------------------------------------------------------------------

int Detect8Sse2(const uint8_t* up, const uint8_t* row, const uint8_t* down, int begin, int end,
                int threshold, int32_t* hits) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i below = _mm_set1_epi16(static_cast<short>(threshold - 1));
    int n = 0;
    int x = begin;
    for (; x + 16 <= end; x += 16) {
        const __m128i c = Load128(row + x);
        const __m128i l = Load128(row + x - 1);
        const __m128i r = Load128(row + x + 1);
        const __m128i u = Load128(up + x);
        const __m128i d = Load128(down + x);
        __m128i flagged[2];
        for (int half = 0; half < 2; ++half) {
            auto widen = [&](__m128i v) {
                return half == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero);
            };
            const __m128i sum =
                _mm_add_epi16(_mm_add_epi16(widen(l), widen(r)), _mm_add_epi16(widen(u), widen(d)));
            const __m128i diff = _mm_sub_epi16(widen(c), _mm_srli_epi16(sum, 2));
            const __m128i magnitude = _mm_max_epi16(diff, _mm_sub_epi16(zero, diff));
            flagged[half] = _mm_cmpgt_epi16(magnitude, below);
        }
        const int bits = _mm_movemask_epi8(_mm_packs_epi16(flagged[0], flagged[1]));
        n = AppendBits(static_cast<uint32_t>(bits), x, hits, n);
    }
    return n + DetectPortable(up, row, down, x, end, threshold, hits + n);
}

int Detect16Sse2(const uint16_t* up, const uint16_t* row, const uint16_t* down, int begin, int end,
                 int threshold, int32_t* hits) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i limit = _mm_set1_epi16(static_cast<short>(threshold));
    int n = 0;
    int x = begin;
    for (; x + 16 <= end; x += 16) {
        __m128i flagged[2];
        for (int half = 0; half < 2; ++half) {
            const int at = x + 8 * half;
            const __m128i c = Load128(row + at);
            const __m128i mean = Mean4Sse2(Load128(row + at - 1), Load128(row + at + 1),
                                           Load128(up + at), Load128(down + at));
            const __m128i diff = _mm_or_si128(_mm_subs_epu16(c, mean), _mm_subs_epu16(mean, c));
            // diff ≥ threshold exactly where threshold − diff saturates to 0.
            flagged[half] = _mm_cmpeq_epi16(_mm_subs_epu16(limit, diff), zero);
        }
        const int bits = _mm_movemask_epi8(_mm_packs_epi16(flagged[0], flagged[1]));
        n = AppendBits(static_cast<uint32_t>(bits), x, hits, n);
    }
    return n + DetectPortable(up, row, down, x, end, threshold, hits + n);
}

// ---- AVX2 -----------------------------------------------------------------------------------

// The sign bits of sixteen 16-bit compare results, one bit per lane.
LUMORA_TARGET_AVX2 inline uint32_t LaneBits16Avx2(__m256i mask) {
    // The pack works within 128-bit lanes: lanes 0..7 land in bytes 0..7, 8..15 in 16..23.
    const uint32_t bits = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_packs_epi16(mask, _mm256_setzero_si256())));
    return (bits & 0xFFu) | ((bits >> 8) & 0xFF00u);
}

LUMORA_TARGET_AVX2 inline __m256i Widen8Avx2(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

LUMORA_TARGET_AVX2 int Detect8Avx2(const uint8_t* up, const uint8_t* row, const uint8_t* down,
                                   int begin, int end, int threshold, int32_t* hits) {
    const __m256i below = _mm256_set1_epi16(static_cast<short>(threshold - 1));
    int n = 0;
    int x = begin;
    for (; x + 16 <= end; x += 16) {
        const __m256i sum =
            _mm256_add_epi16(_mm256_add_epi16(Widen8Avx2(row + x - 1), Widen8Avx2(row + x + 1)),
                             _mm256_add_epi16(Widen8Avx2(up + x), Widen8Avx2(down + x)));
        const __m256i diff =
            _mm256_abs_epi16(_mm256_sub_epi16(Widen8Avx2(row + x), _mm256_srli_epi16(sum, 2)));
        n = AppendBits(LaneBits16Avx2(_mm256_cmpgt_epi16(diff, below)), x, hits, n);
    }
    return n + DetectPortable(up, row, down, x, end, threshold, hits + n);
}

LUMORA_TARGET_AVX2 inline __m256i Load256(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

LUMORA_TARGET_AVX2 int Detect16Avx2(const uint16_t* up, const uint16_t* row, const uint16_t* down,
                                    int begin, int end, int threshold, int32_t* hits) {
    const __m256i limit = _mm256_set1_epi16(static_cast<short>(threshold));
    const __m256i three = _mm256_set1_epi16(3);
    int n = 0;
    int x = begin;
    for (; x + 16 <= end; x += 16) {
        const __m256i l = Load256(row + x - 1);
        const __m256i r = Load256(row + x + 1);
        const __m256i u = Load256(up + x);
        const __m256i d = Load256(down + x);
        const __m256i quarters =
            _mm256_add_epi16(_mm256_add_epi16(_mm256_srli_epi16(l, 2), _mm256_srli_epi16(r, 2)),
                             _mm256_add_epi16(_mm256_srli_epi16(u, 2), _mm256_srli_epi16(d, 2)));
        const __m256i rests = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_and_si256(l, three), _mm256_and_si256(r, three)),
            _mm256_add_epi16(_mm256_and_si256(u, three), _mm256_and_si256(d, three)));
        const __m256i mean = _mm256_add_epi16(quarters, _mm256_srli_epi16(rests, 2));
        const __m256i c = Load256(row + x);
        const __m256i diff =
            _mm256_or_si256(_mm256_subs_epu16(c, mean), _mm256_subs_epu16(mean, c));
        const __m256i flagged = _mm256_cmpeq_epi16(_mm256_max_epu16(diff, limit), diff);
        n = AppendBits(LaneBits16Avx2(flagged), x, hits, n);
    }
    return n + DetectPortable(up, row, down, x, end, threshold, hits + n);
}

// ---- AVX-512 --------------------------------------------------------------------------------
// Thirty-two samples a step; the last step of a row masks its loads.

LUMORA_TARGET_AVX512 inline __mmask32 StepLanes(int left) {
    return left >= 32 ? 0xFFFFFFFFu : (1u << left) - 1;
}

LUMORA_TARGET_AVX512 inline __m512i Widen8Avx512(__mmask32 lanes, const uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(lanes, p));
}

LUMORA_TARGET_AVX512 int Detect8Avx512(const uint8_t* up, const uint8_t* row, const uint8_t* down,
                                       int begin, int end, int threshold, int32_t* hits) {
    const __m512i limit = _mm512_set1_epi16(static_cast<short>(threshold));
    int n = 0;
    for (int x = begin; x < end; x += 32) {
        const __mmask32 lanes = StepLanes(end - x);
        const __m512i sum = _mm512_add_epi16(
            _mm512_add_epi16(Widen8Avx512(lanes, row + x - 1), Widen8Avx512(lanes, row + x + 1)),
            _mm512_add_epi16(Widen8Avx512(lanes, up + x), Widen8Avx512(lanes, down + x)));
        const __m512i diff = _mm512_abs_epi16(
            _mm512_sub_epi16(Widen8Avx512(lanes, row + x), _mm512_srli_epi16(sum, 2)));
        n = AppendBits(_mm512_mask_cmpge_epu16_mask(lanes, diff, limit), x, hits, n);
    }
    return n;
}

LUMORA_TARGET_AVX512 int Detect16Avx512(const uint16_t* up, const uint16_t* row,
                                        const uint16_t* down, int begin, int end, int threshold,
                                        int32_t* hits) {
    const __m512i limit = _mm512_set1_epi16(static_cast<short>(threshold));
    const __m512i three = _mm512_set1_epi16(3);
    int n = 0;
    for (int x = begin; x < end; x += 32) {
        const __mmask32 lanes = StepLanes(end - x);
        const __m512i l = _mm512_maskz_loadu_epi16(lanes, row + x - 1);
        const __m512i r = _mm512_maskz_loadu_epi16(lanes, row + x + 1);
        const __m512i u = _mm512_maskz_loadu_epi16(lanes, up + x);
        const __m512i d = _mm512_maskz_loadu_epi16(lanes, down + x);
        const __m512i quarters =
            _mm512_add_epi16(_mm512_add_epi16(_mm512_srli_epi16(l, 2), _mm512_srli_epi16(r, 2)),
                             _mm512_add_epi16(_mm512_srli_epi16(u, 2), _mm512_srli_epi16(d, 2)));
        const __m512i rests = _mm512_add_epi16(
            _mm512_add_epi16(_mm512_and_si512(l, three), _mm512_and_si512(r, three)),
            _mm512_add_epi16(_mm512_and_si512(u, three), _mm512_and_si512(d, three)));
        const __m512i mean = _mm512_add_epi16(quarters, _mm512_srli_epi16(rests, 2));
        const __m512i c = _mm512_maskz_loadu_epi16(lanes, row + x);
        const __m512i diff =
            _mm512_or_si512(_mm512_subs_epu16(c, mean), _mm512_subs_epu16(mean, c));
        n = AppendBits(_mm512_mask_cmpge_epu16_mask(lanes, diff, limit), x, hits, n);
    }
    return n;
}

#endif  // LUMORA_X86_SIMD

// ---- detection over a frame ------------------------------------------------------------------

// What the detection of one frame works with.
struct Detection {
    const ImageBuffer* frame = nullptr;
    ImageBuffer* flags = nullptr;
    const MaskSet::MappedDefects* mapped = nullptr;  // null: the maps do not line up
    int originX = 0;
    int originY = 0;
    int threshold = 0;
    DefectKernels kernels{};
};

template <class T>
const T* FrameRow(const ImageBuffer& frame, int y) {
    return reinterpret_cast<const T*>(frame.Row(y));
}

// Flags the defective pixels of frame row y (4 ≤ y ≤ height − 5, width ≥ 9) and lists them
// in column order. `hits` holds room for twice the width.
template <class T>
void DetectRow(const Detection& d, int y, std::vector<int32_t>& hits,
               std::vector<PlanePosition>& flagged) {
    const int width = d.frame->Width();
    const int begin = 4;
    const int end = width - 4;
    int32_t* h = hits.data();
    int n = 0;
    if (d.threshold <= 0) {
        for (int x = begin; x < end; ++x) h[n++] = x;
    } else if (d.threshold <= kMaxOf<T>) {
        const T* up = FrameRow<T>(*d.frame, y - 1);
        const T* row = FrameRow<T>(*d.frame, y);
        const T* down = FrameRow<T>(*d.frame, y + 1);
        if constexpr (sizeof(T) == 1) {
            n = d.kernels.detect8(up, row, down, begin, end, d.threshold, h);
        } else {
            n = d.kernels.detect16(up, row, down, begin, end, d.threshold, h);
        }
    }
    if (d.mapped != nullptr) {
        const size_t planeRow = static_cast<size_t>(d.originY + y);
        const uint32_t* first = d.mapped->columns.data() + d.mapped->rowStart[planeRow];
        const uint32_t* last = d.mapped->columns.data() + d.mapped->rowStart[planeRow + 1];
        first = std::lower_bound(first, last, static_cast<uint32_t>(d.originX + begin));
        const int found = n;
        for (; first != last && *first < static_cast<uint32_t>(d.originX + end); ++first) {
            h[n++] = static_cast<int32_t>(*first) - d.originX;
        }
        if (n > found && found > 0) {
            std::inplace_merge(h, h + found, h + n);
            n = static_cast<int>(std::unique(h, h + n) - h);
        }
    }
    uint8_t* f = d.flags->Row(y);
    for (int i = 0; i < n; ++i) {
        f[h[i]] = 1;
        flagged.push_back(PlanePosition{h[i], y});
    }
}

bool HasDetectionRows(const ImageBuffer& frame) {
    return frame.Width() >= 9 && frame.Height() >= 9;
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
void Replace(ImageBuffer& frame, const ImageBuffer& flags,
             const std::vector<PlanePosition>& flagged, ColumnMemo& memo) {
    const int width = frame.Width();
    const int height = frame.Height();
    memo.Reset(width);
    int leftGood = -1;
    int rightGood = -1;
    int currentRow = -1;
    int previousX = -2;
    for (const PlanePosition& p : flagged) {
        const int x = p.x;
        const int y = p.y;
        const uint8_t* f = flags.Row(y);
        T* row = reinterpret_cast<T*>(frame.Row(y));
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
            sum += FrameRow<T>(frame, up)[x];
            ++count;
        }
        int& down = memo.downRow[cx];
        if (down <= y) {
            down = y + 1;
            while (down < height && flags.Row(down)[x] != 0) ++down;
        }
        if (down < height) {
            sum += FrameRow<T>(frame, down)[x];
            ++count;
        }
        if (count > 0) row[x] = static_cast<T>(sum / count);
    }
}

// The detection of a frame against its planes; false when the planes cannot serve it. Clears
// the flags the previous frame left.
bool StartDetection(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry, int threshold,
                    Detection& d) {
    if (!frame.IsValid() || !masks.IsComplete()) return false;
    const int bits = frame.BitCount();
    if (bits != 8 && bits != 16) return false;
    if (frame.Width() > masks.Width() || frame.Height() > masks.Height()) return false;
    d.frame = &frame;
    d.flags = &masks.Flags(bits);
    d.mapped = ReferenceOrigin(frame, masks, geometry, d.originX, d.originY)
                   ? &masks.MappedDefectsOf(bits)
                   : nullptr;
    d.threshold = threshold;
    d.kernels = DefectKernelsFor(ActiveSimdLevel());
    std::vector<PlanePosition>& last = masks.FlaggedLastFrame(bits);
    for (const PlanePosition& p : last) d.flags->Row(p.y)[p.x] = 0;
    last.clear();
    return true;
}

template <class T>
void ReplaceAll(ImageBuffer& frame, const ImageBuffer& flags,
                const std::vector<PlanePosition>& flagged) {
    ColumnMemo memo;
    Replace<T>(frame, flags, flagged, memo);
}

}  // namespace

DefectKernels DefectKernelsFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    switch (level) {
        case SimdLevel::kAvx512:
            return {Detect8Avx512, Detect16Avx512};
        case SimdLevel::kAvx2:
            return {Detect8Avx2, Detect16Avx2};
        case SimdLevel::kSse2:
            return {Detect8Sse2, Detect16Sse2};
        case SimdLevel::kScalar:
            break;
    }
#else
    static_cast<void>(level);
#endif
    return {DetectPortable<uint8_t>, DetectPortable<uint16_t>};
}

int DefectThresholdFor(int bitCount, int significantBits) {
    if (bitCount != 16) return kDefectThreshold8;
    const int bits = std::clamp(significantBits, 8, 16);
    return bits >= 12 ? kDefectThreshold16 << (bits - 12) : kDefectThreshold16 >> (12 - bits);
}

bool DefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry, int threshold,
                   RowBandPool* pool) {
    Detection d;
    if (!StartDetection(frame, masks, geometry, threshold, d)) return false;
    const bool wide = frame.BitCount() == 16;
    std::vector<PlanePosition>& flaggedAll = masks.FlaggedLastFrame(frame.BitCount());
    if (!HasDetectionRows(frame)) return true;
    // The detection rows 4..height − 5 in bands; both passes use the same bands, so band i's
    // list holds the flagged pixels of its rows. The pool is handed band numbers, not rows.
    const int rows = frame.Height() - 8;
    const int bands = pool != nullptr ? std::clamp(rows / 64, 1, pool->Bands()) : 1;
    const std::vector<int> starts = RowBandPool::Split(rows, bands, 1);
    std::vector<std::vector<PlanePosition>> flagged(static_cast<size_t>(bands));
    // Detection of all bands ends before any replacement starts: the replacement reads flags
    // of neighbouring rows.
    RunRowBands(
        pool, bands,
        [&](int firstBand, int lastBand) {
            std::vector<int32_t> hits(static_cast<size_t>(frame.Width()) * 2);
            for (int band = firstBand; band < lastBand; ++band) {
                std::vector<PlanePosition>& list = flagged[static_cast<size_t>(band)];
                const int a = 4 + starts[static_cast<size_t>(band)];
                const int b = 4 + starts[static_cast<size_t>(band) + 1];
                for (int y = a; y < b; ++y) {
                    if (wide) {
                        DetectRow<uint16_t>(d, y, hits, list);
                    } else {
                        DetectRow<uint8_t>(d, y, hits, list);
                    }
                }
            }
        },
        1);
    RunRowBands(
        pool, bands,
        [&](int firstBand, int lastBand) {
            for (int band = firstBand; band < lastBand; ++band) {
                const std::vector<PlanePosition>& list = flagged[static_cast<size_t>(band)];
                if (list.empty()) continue;
                if (wide) {
                    ReplaceAll<uint16_t>(frame, *d.flags, list);
                } else {
                    ReplaceAll<uint8_t>(frame, *d.flags, list);
                }
            }
        },
        1);
    for (const auto& list : flagged) flaggedAll.insert(flaggedAll.end(), list.begin(), list.end());
    return true;
}

bool FlatFieldAndDefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                               int flattenedThreshold, int rawThreshold) {
    FlatFieldRows flat;
    if (!flat.Bind(frame, masks, geometry)) {
        DefectCorrect(frame, masks, geometry, rawThreshold);
        return false;
    }
    Detection d;
    if (!StartDetection(frame, masks, geometry, flattenedThreshold, d)) {
        for (int y = 0; y < frame.Height(); ++y) flat.Run(y);
        return true;
    }
    const bool wide = frame.BitCount() == 16;
    const bool detect = HasDetectionRows(frame);
    const int height = frame.Height();
    std::vector<PlanePosition>& flagged = masks.FlaggedLastFrame(frame.BitCount());
    std::vector<int32_t> hits(static_cast<size_t>(frame.Width()) * 2);
    // Row y − 1 is tested as soon as row y, its last neighbour, is flat.
    for (int y = 0; y < height; ++y) {
        flat.Run(y);
        const int tested = y - 1;
        if (!detect || tested < 4 || tested > height - 5) continue;
        if (wide) {
            DetectRow<uint16_t>(d, tested, hits, flagged);
        } else {
            DetectRow<uint8_t>(d, tested, hits, flagged);
        }
    }
    if (!flagged.empty()) {
        if (wide) {
            ReplaceAll<uint16_t>(frame, *d.flags, flagged);
        } else {
            ReplaceAll<uint8_t>(frame, *d.flags, flagged);
        }
    }
    return true;
}

}  // namespace lumora
