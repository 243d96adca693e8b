#pragma once
// The planes of the flat-field (mask) and defective-pixel corrections: the reference frames and
// the defect maps derived from them, and how references are updated and loaded. The corrections
// themselves are FlatField.h and DefectCorrection.h.
//
// Threads: a MaskSet is guarded by the session's mask lock (taken after the capture lock):
// the corrections, reference updates, mask-file loads and saves all run inside it.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/ImageBuffer.h"
#include "platform/CriticalSection.h"

namespace lumora {

constexpr int kSensorWidth = 2560;
constexpr int kSensorHeight = 2048;

// Which reference: 0 dark, 1 bright (the selector of a mask update).
enum MaskWhich : int { kMaskDark = 0, kMaskBright = 1 };

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
    // bright references 255 / 4095, maps 0. False (and an empty set) on failure. (The dot
    // filter keeps each frame's flags itself, a bit per pixel.)
    bool Create(int width = kSensorWidth, int height = kSensorHeight);
    void Reset();
    // True when all eight planes exist; corrections are skipped otherwise.
    bool IsComplete() const;
    int Width() const { return width_; }
    int Height() const { return height_; }

    // depthBits is 8 or 16; which is kMaskDark or kMaskBright.
    ImageBuffer& Reference(int depthBits, int which) {
        return references_[Slot(depthBits)][which & 1];
    }
    const ImageBuffer& Reference(int depthBits, int which) const {
        return references_[Slot(depthBits)][which & 1];
    }
    // Handing out a writable map marks that depth's list of mapped defects stale.
    ImageBuffer& DefectMap(int depthBits, int which) {
        mapsStale_[Slot(depthBits)] = true;
        return maps_[Slot(depthBits)][which & 1];
    }
    const ImageBuffer& DefectMap(int depthBits, int which) const {
        return maps_[Slot(depthBits)][which & 1];
    }

    // Rebuilds one defect map from its reference: inside a two-pixel margin, 1 where an 8-bit
    // dark sample is > 192, an 8-bit bright one < 64, a 16-bit dark one > 3072, a 16-bit bright
    // one < 1024; 0 elsewhere.
    void BuildDefectMap(int depthBits, int which);
    // All four maps; after a mask file was loaded (inside the mask lock).
    void BuildAllDefectMaps();

    // The positions either map of a depth marks (non-zero), row by row: the columns of plane
    // row y are columns[rowStart[y]] .. columns[rowStart[y + 1] - 1], ascending. Maps mark a few
    // pixels of a sensor, so the dot filter reads this list instead of two full planes per
    // frame. Rebuilt here when a map changed since.
    struct MappedDefects {
        std::vector<uint32_t> rowStart;
        std::vector<uint32_t> columns;
    };
    const MappedDefects& MappedDefectsOf(int depthBits);

private:
    static int Slot(int depthBits) { return depthBits == 16 ? 1 : 0; }

    std::array<std::array<ImageBuffer, 2>, 2> references_;  // [8/16][dark/bright]
    std::array<std::array<ImageBuffer, 2>, 2> maps_;
    std::array<MappedDefects, 2> mapped_;
    std::array<bool, 2> mapsStale_{true, true};
    int width_ = 0;
    int height_ = 0;
};

// The reference position of a frame's pixel (0, 0), or false when the frame does not match
// the geometry it was prepared with or would reach outside the reference planes.
bool ReferenceOrigin(const ImageBuffer& frame, const MaskSet& masks, const MaskGeometry& geometry,
                     int& originX, int& originY);

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
