#pragma once
// Flat-field (mask) and defective-pixel correction: the reference frames, the defect maps
// derived from them, the per-frame defect flags, and the two corrections.
//
// Threads: a MaskSet is guarded by the session's mask lock (taken after the capture lock):
// the corrections, reference updates, mask-file loads and saves all run inside it.
#include <array>
#include <functional>
#include <vector>

#include "imaging/ImageBuffer.h"
#include "platform/CriticalSection.h"

namespace lumora {

constexpr int kSensorWidth = 2560;
constexpr int kSensorHeight = 2048;

// Which reference: 0 dark, 1 bright (the selector of a mask update).
enum MaskWhich : int { kMaskDark = 0, kMaskBright = 1 };

// Detection thresholds of the dot filter by sample depth; the 16-bit one is meant for 12-bit
// samples.
constexpr int kDefectThreshold8 = 30;
constexpr int kDefectThreshold16 = 480;

// The dot filter's threshold for data whose samples carry `significantBits` bits: 8-bit frames
// keep theirs; 16-bit frames scale the 12-bit threshold to where their samples sit (after the
// flat field they fill all sixteen bits, so the threshold grows sixteenfold with them).
int DefectThresholdFor(int bitCount, int significantBits);

class RowBandPool;

// Where a frame sits in the references: the capture window origin and the frame size the run
// was prepared with (window size divided by the sub-sampling factor).
struct MaskGeometry {
    int windowX = 0;
    int windowY = 0;
    int frameWidth = kSensorWidth;
    int frameHeight = kSensorHeight;
};

class MaskSet {
public:
    // Creates every plane at width × height with its initial content: dark references 0,
    // bright references 255 / 4095, maps and flags 0. False (and an empty set) on failure.
    bool Create(int width = kSensorWidth, int height = kSensorHeight);
    void Reset();
    // True when all ten planes exist; corrections are skipped otherwise.
    bool IsComplete() const;
    int Width() const { return width_; }
    int Height() const { return height_; }

    // depthBits is 8 or 16; which is kMaskDark or kMaskBright. Handing out a writable
    // reference marks that depth's prepared divisors stale; code that keeps the reference and
    // writes through it after a correction calls ReferencesChanged.
    ImageBuffer& Reference(int depthBits, int which) {
        ReferencesChanged(depthBits);
        return references_[Slot(depthBits)][which & 1];
    }
    void ReferencesChanged(int depthBits) { scaleStale_[Slot(depthBits)] = true; }
    // The flat field's per-pixel factor of a depth (256 / (bright − dark) for 8 bit, 4096 /
    // (bright − dark) for 16 bit; 0 where the sample stays as it is), one float per reference
    // pixel, rows of Width() entries. Rebuilt here when the references changed since.
    const float* FlatScale(int depthBits);
    const ImageBuffer& Reference(int depthBits, int which) const {
        return references_[Slot(depthBits)][which & 1];
    }
    ImageBuffer& DefectMap(int depthBits, int which) { return maps_[Slot(depthBits)][which & 1]; }
    const ImageBuffer& DefectMap(int depthBits, int which) const {
        return maps_[Slot(depthBits)][which & 1];
    }
    ImageBuffer& Flags(int depthBits) { return flags_[Slot(depthBits)]; }

    // Rebuilds one defect map from its reference: inside a two-pixel margin, 1 where an 8-bit
    // dark sample is > 192, an 8-bit bright one < 64, a 16-bit dark one > 3072, a 16-bit bright
    // one < 1024; 0 elsewhere.
    void BuildDefectMap(int depthBits, int which);
    // All four maps; after a mask file was loaded (inside the mask lock).
    void BuildAllDefectMaps();

private:
    static int Slot(int depthBits) { return depthBits == 16 ? 1 : 0; }

    std::array<std::array<ImageBuffer, 2>, 2> references_;  // [8/16][dark/bright]
    std::array<std::array<ImageBuffer, 2>, 2> maps_;
    std::array<ImageBuffer, 2> flags_;
    std::array<std::vector<float>, 2> scale_;
    std::array<bool, 2> scaleStale_{true, true};
    int width_ = 0;
    int height_ = 0;
};

// The reference position of a frame's pixel (0, 0), or false when the frame does not match
// the geometry it was prepared with or would reach outside the reference planes.
bool ReferenceOrigin(const ImageBuffer& frame, const MaskSet& masks, const MaskGeometry& geometry,
                     int& originX, int& originY);

// Two-point correction of an 8- or 16-bit frame between the dark and bright references read
// at the frame's window position. Returns false (frame untouched) when the planes are missing
// or the frame does not line up with them.
// The rows are split into bands over `pool` when one is given (same result).
bool FlatFieldCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                      RowBandPool* pool = nullptr);

// Finds defective pixels (defect maps, or a sample at least `threshold` away from the mean of
// its four direct neighbours) inside a four-pixel margin and replaces each by the mean of the
// nearest unflagged pixels along its row and column. The maps are consulted at the frame's
// window position when the frame lines up with the planes; otherwise only the outlier test
// runs. Returns false (frame untouched) when the planes are missing or smaller than the frame.
// Detection and replacement are each split into row bands over `pool` when one is given.
bool DefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry, int threshold,
                   RowBandPool* pool = nullptr);

enum class MaskUpdate {
    kStored,       // the raw frame became the reference
    kNotFullSize,  // the frame is not sensor-sized: nothing stored, not a failure
    kBadSelector,  // which was neither dark nor bright
    kNoMasks,      // the planes do not exist
};

// Stores a full-size raw frame (8 or 16 bit) as the dark (0) or bright (1) reference of its
// depth and rebuilds that depth's map, all under `maskLock`, so a frame being corrected never
// sees half a reference.
MaskUpdate UpdateMaskReference(MaskSet& masks, platform::CriticalSection& maskLock,
                               const ImageBuffer& raw, int which);

// Replaces the references through `fill` (the mask-file reader) and rebuilds all four defect
// maps, both inside `maskLock`, so no frame is corrected with new references and old maps.
// Returns fill's result; the maps are rebuilt only when it succeeded, and false without planes.
bool LoadMaskReferences(MaskSet& masks, platform::CriticalSection& maskLock,
                        const std::function<bool(MaskSet&)>& fill);

}  // namespace lumora
