#pragma once
// The mask file: one fixed 40-byte header and the four full-sensor mask references (dark and
// bright, 8-bit and 16-bit) that the flat-field and defect corrections rest on.
//
// The file's content passes through memory, so a caller whose lock guards the images holds it
// only to encode or apply the content, never while the disk (or a slow or stalled file system)
// is at work.
//
// Threads: the functions share nothing; the caller holds the lock that guards the images for
// EncodeMaskFile, ApplyMaskFile and the all-in-one SaveMaskFile and LoadMaskFile.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/MaskSet.h"

namespace lumora {

inline constexpr char kMaskMagic[16] = "QUENTA MASK1000";  // with its terminating NUL
inline constexpr int32_t kMaskWidth = kSensorWidth;
inline constexpr int32_t kMaskHeight = kSensorHeight;
inline constexpr int32_t kMaskBlock8Size = kMaskWidth * kMaskHeight;       // 0x500000
inline constexpr int32_t kMaskBlock16Size = kMaskWidth * kMaskHeight * 2;  // 0xA00000

// The header as it lies in the file (all integers little-endian).
struct MaskFileHeader {
    char magic[16];
    int32_t width;
    int32_t height;
    int32_t blockSize[4];
};
static_assert(sizeof(MaskFileHeader) == 40);
static_assert(offsetof(MaskFileHeader, width) == 16);
static_assert(offsetof(MaskFileHeader, height) == 20);
static_assert(offsetof(MaskFileHeader, blockSize) == 24);

inline constexpr size_t kMaskHeaderSize = sizeof(MaskFileHeader);
inline constexpr size_t kMaskFileSize =
    kMaskHeaderSize + 2 * size_t{kMaskBlock8Size} + 2 * size_t{kMaskBlock16Size};  // 31,457,320

void EncodeMaskHeader(const MaskFileHeader& header, uint8_t* out);
MaskFileHeader DecodeMaskHeader(const uint8_t* in);
// True for the one header this format has: the magic, 2560 × 2048 and the four block sizes.
bool IsValidMaskHeader(const MaskFileHeader& header);

// A whole mask file in memory: kMaskFileSize bytes, laid out as in the file.
struct MaskFileContent {
    std::unique_ptr<uint8_t[]> bytes;
};

// The header and the four references (dark 8-bit, bright 8-bit, dark 16-bit, bright 16-bit) of
// a sensor-sized set; false for a set of another shape or without memory.
bool EncodeMaskFile(const MaskSet& masks, MaskFileContent& content);
// Saves encoded content as SaveMaskFile does.
bool WriteMaskFile(const char* path, const MaskFileContent& content);
// Reads the regular file `path` names whole, only when it has exactly the format's size and
// header; a pipe or device is refused without waiting for it.
bool ReadMaskFile(const char* path, MaskFileContent& content);
// Copies read content into a sensor-sized set and rebuilds the four defect maps.
bool ApplyMaskFile(const MaskFileContent& content, MaskSet& masks);

// Writes the header and the four references (dark 8-bit, bright 8-bit, dark 16-bit, bright
// 16-bit) into the file `path` names, through a symlink, keeping its mode and owner. False when
// the file cannot be opened for writing, is not a regular file, or any write fails. The new
// content is written beside the file and renamed over it when that is possible, so an earlier
// file stays whole; otherwise it is written in place with the space reserved first.
bool SaveMaskFile(const char* path, const MaskSet& masks);

// Reads a whole mask file into temporaries and, only when the file has exactly the format's size
// and header, copies it into the four references and rebuilds the four defect maps; otherwise
// returns false and changes nothing. The set must be sensor-sized (MaskSet::Create()).
bool LoadMaskFile(const char* path, MaskSet& masks);

}  // namespace lumora
