#pragma once
// The dot filter: finds defective pixels inside a four-pixel margin (marked by a defect map, or
// a sample at least `threshold` away from the mean of its four direct neighbours) and replaces
// each by the mean of the nearest unflagged pixels along its row and column.
#include <cstdint>

#include "imaging/MaskSet.h"
#include "platform/SimdLevel.h"

namespace lumora {

class RowBandPool;

// Detection thresholds by sample depth; the 16-bit one is meant for 12-bit samples.
constexpr int kDefectThreshold8 = 30;
constexpr int kDefectThreshold16 = 480;

// The threshold for data whose samples carry `significantBits` bits: 8-bit frames keep theirs;
// 16-bit frames scale the 12-bit threshold to where their samples sit (after the flat field
// they fill all sixteen bits, so the threshold grows sixteenfold with them).
int DefectThresholdFor(int bitCount, int significantBits);

// Corrects an 8- or 16-bit frame in place. The maps are consulted at the frame's window
// position when the frame lines up with the planes; otherwise only the outlier test runs.
// Returns false (frame untouched) when the planes are missing or smaller than the frame.
// Detection and replacement are each split into row bands over `pool` when one is given.
bool DefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry, int threshold,
                   RowBandPool* pool = nullptr);

// The flat field (FlatField.h) and the dot filter in one pass over the frame: each row is
// flattened just before the outlier test needs it, while its neighbours are still in the cache.
// Same result as FlatFieldCorrect followed by DefectCorrect with the threshold for the
// flattened data (`flattenedThreshold`), or for the data as it came (`rawThreshold`) when the
// flat field does not apply. Returns whether the flat field applied. A frame that arrived in
// `from` is read from there as FlatFieldCorrect does.
bool FlatFieldAndDefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                               int flattenedThreshold, int rawThreshold,
                               const uint8_t* from = nullptr);

// The outlier test's row kernels of an instruction-set level: the columns x in [begin, end) of
// `row` whose sample is at least `threshold` (1 .. the sample maximum) away from
// ⌊(row[x − 1] + row[x + 1] + up[x] + down[x]) / 4⌋, written ascending to `hits`; returns
// their count. Columns begin − 1 and end must exist.
struct DefectKernels {
    int (*detect8)(const uint8_t* up, const uint8_t* row, const uint8_t* down, int begin, int end,
                   int threshold, int32_t* hits);
    int (*detect16)(const uint16_t* up, const uint16_t* row, const uint16_t* down, int begin,
                    int end, int threshold, int32_t* hits);
};
DefectKernels DefectKernelsFor(SimdLevel level);

}  // namespace lumora
