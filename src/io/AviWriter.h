#pragma once
// AviWriter: an uncompressed AVI file of one video stream of 24-bit bottom-up DIB frames ("00db"
// chunks). A file that stays under the RIFF limit (1 GiB) has the classic layout: one "RIFF AVI "
// with the headers, one "movi" list and an "idx1" index. A longer recording uses the extended
// (OpenDML) layout: a super index ("indx") in the stream list, an "odml" list with the total frame
// count, and a chain of RIFF chunks ("AVI " then "AVIX"), each at most the limit, each "movi"
// list closed by a standard index ("ix00"); the first RIFF keeps its "idx1" for old readers.
// Which layout is used is decided at Open, so no size field ever wraps.
//
// A failed write (a full disk, a failing device) never leaves a broken file: the incomplete chunk
// is cut off and Finish writes the indexes for the frames that were written completely.
//
// Threads: owned by one writer (the session's record thread).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/ImageBuffer.h"
#include "platform/RandomAccessFile.h"

namespace lumora {

// The wire records of the headers, as they lie in the file (little-endian, no padding).
struct AviMainHeader {
    uint32_t microSecPerFrame;
    uint32_t maxBytesPerSec;
    uint32_t paddingGranularity;
    uint32_t flags;
    uint32_t totalFrames;
    uint32_t initialFrames;
    uint32_t streams;
    uint32_t suggestedBufferSize;
    uint32_t width;
    uint32_t height;
    uint32_t reserved[4];
};
static_assert(sizeof(AviMainHeader) == 56);
static_assert(offsetof(AviMainHeader, totalFrames) == 16);
static_assert(offsetof(AviMainHeader, width) == 32);

struct AviStreamHeader {
    uint32_t type;
    uint32_t handler;
    uint32_t flags;
    uint16_t priority;
    uint16_t language;
    uint32_t initialFrames;
    uint32_t scale;
    uint32_t rate;
    uint32_t start;
    uint32_t length;
    uint32_t suggestedBufferSize;
    uint32_t quality;
    uint32_t sampleSize;
    int32_t frame[4];  // left, top, right, bottom
};
static_assert(sizeof(AviStreamHeader) == 64);
static_assert(offsetof(AviStreamHeader, scale) == 20);
static_assert(offsetof(AviStreamHeader, length) == 32);

struct AviIndexEntry {
    uint32_t chunkId;
    uint32_t flags;
    uint32_t offset;  // from the "movi" identifier
    uint32_t size;
};
static_assert(sizeof(AviIndexEntry) == 16);

inline constexpr uint32_t kAviFlagHasIndex = 0x10;
inline constexpr uint32_t kAviFlagWasCaptureFile = 0x10000;
inline constexpr uint32_t kAviIndexKeyFrame = 0x10;
inline constexpr uint64_t kAviRiffLimit = 1ull << 30;
// Fixed part of the classic layout: everything before the first frame chunk.
inline constexpr uint32_t kAviHeaderBytes = 232;
// Offsets the writer patches at the end.
inline constexpr uint32_t kAviRiffSizeOffset = 4;
inline constexpr uint32_t kAviMainHeaderOffset = 32;
inline constexpr uint32_t kAviStreamHeaderOffset = 108;

// Converts an image of any supported depth into one AVI frame at `out` (AviWriter::FrameBytes of
// its size): 24-bit B, G, R rows, bottom row first, padded to 4 bytes. 8-bit pixels go through
// the palette; 16-, 48- and 64-bit samples give the top 8 of their significant bits.
void ToAviFrame(const ImageBuffer& image, uint8_t* out);

class AviWriter {
public:
    enum class AddResult {
        kAdded,   // the frame is in the file
        kFull,    // the file cannot take another frame; nothing was written
        kFailed,  // the write failed; the file keeps the frames before it (Finish it)
    };

    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // The largest RIFF chunk (and the largest classic file); lowered by tests so a short
    // recording crosses it. Applies from the next Open.
    void SetRiffLimit(uint64_t bytes) {
        riffLimit_ = bytes < 4096 ? 4096 : (bytes > kAviRiffLimit ? kAviRiffLimit : bytes);
    }
    uint64_t RiffLimit() const { return riffLimit_; }

    // Frame bytes of a width × height recording: rows of 3 × width bytes padded to 4.
    static uint64_t FrameBytes(int width, int height);
    // Whether `frames` frames of this size exceed the classic layout under `riffLimit`.
    static bool NeedsExtendedLayout(int width, int height, uint64_t frames, uint64_t riffLimit);

    // Writes the headers for width × height frames, rate 30 and no frames into `path`: a new
    // file, or the regular file there, whose old content is cut off once there is room for the
    // headers and a first frame and the headers are in place. `expectedFrames` picks the layout
    // (and sizes the super index). False, with nothing left open, when the size is unusable or the
    // file cannot be written; an existing file is then left as it was, unless the device failed
    // while the headers were written over it.
    bool Open(const char* path, int width, int height, uint64_t expectedFrames);
    // Appends one frame of FrameBytes() bytes: rows bottom first, each padded to 4 bytes.
    AddResult AddFrame(const uint8_t* pixels);
    // The measured rate in hundredths of frames per second; 0 keeps the rate set before.
    void SetRate(int hundredths);
    // Writes the indexes and patches the headers with the frame count and the rate, then closes
    // the file. False when the file could not be completed (it is still as valid as it could be
    // made).
    bool Finish();
    // Closes the file, and deletes it when Open created it (a recording that never started).
    void Discard();

    bool IsOpen() const { return file_.IsOpen(); }
    bool Extended() const { return extended_; }
    int Rate() const { return rate_; }
    uint32_t FrameCount() const { return frames_; }
    uint64_t FrameBytes() const { return frameBytes_; }
    // Bytes in the file so far.
    uint64_t BytesWritten() const { return file_.End(); }
    // True once a write has failed.
    bool WriteFailed() const { return failed_; }

private:
    struct Riff {
        uint64_t start = 0;            // offset of "RIFF"
        uint64_t moviSize = 0;         // offset of the "movi" LIST size field
        std::vector<uint64_t> chunks;  // offsets of this RIFF's frame chunks
    };
    bool WriteHeaders();
    bool StartRiff();  // an "AVIX" RIFF with its "movi" list
    // Writes the standard index (extended) and, for the first RIFF, "idx1"; patches the sizes.
    bool CloseRiff();
    bool WriteIdx1(const Riff& riff);
    uint64_t RiffBytesWith(uint32_t moreFrames) const;

    platform::RandomAccessFile file_;
    uint64_t riffLimit_ = kAviRiffLimit;
    bool extended_ = false;
    bool failed_ = false;
    int width_ = 0;
    int height_ = 0;
    uint64_t frameBytes_ = 0;
    int rate_ = 3000;
    uint32_t frames_ = 0;
    uint32_t firstRiffFrames_ = 0;
    bool idx1Written_ = false;
    Riff riff_;
    uint32_t firstRiffSize_ = 0;  // the sizes of the first RIFF once it is closed
    uint32_t firstMoviSize_ = 0;
    // The extended layout: how many RIFFs the super index can hold, and its entries.
    uint32_t superIndexCapacity_ = 0;
    struct SuperEntry {
        uint64_t offset;
        uint32_t size;
        uint32_t duration;
    };
    std::vector<SuperEntry> superEntries_;
};

}  // namespace lumora
