#include "io/AviWriter.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "imaging/PixelAccess.h"
#include "imaging/SampleRows.h"
#include "platform/LittleEndian.h"

namespace lumora {
namespace {

constexpr uint32_t FourCc(const char (&text)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24);
}

constexpr uint32_t kChunkId = FourCc("00db");
constexpr uint32_t kInitialRate = 3000;  // hundredths of frames per second
constexpr uint32_t kSuperIndexHeaderBytes = 24;
constexpr uint32_t kSuperIndexEntryBytes = 16;
constexpr uint32_t kStdIndexHeaderBytes = 24;
constexpr uint32_t kStdIndexEntryBytes = 8;
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kMinSuperEntries = 256;
constexpr uint32_t kMaxSuperEntries = 16384;

// Little-endian bytes appended to a growing buffer.
class Bytes {
public:
    void U8(uint8_t v) { data_.push_back(v); }
    void U16(uint16_t v) {
        uint8_t b[2];
        platform::StoreLe16(b, v);
        data_.insert(data_.end(), b, b + 2);
    }
    void U32(uint32_t v) {
        uint8_t b[4];
        platform::StoreLe32(b, v);
        data_.insert(data_.end(), b, b + 4);
    }
    void U64(uint64_t v) {
        uint8_t b[8];
        platform::StoreLe64(b, v);
        data_.insert(data_.end(), b, b + 8);
    }
    void Tag(uint32_t fourCc) { U32(fourCc); }
    void Zeros(size_t n) { data_.insert(data_.end(), n, 0); }
    const uint8_t* Data() const { return data_.data(); }
    size_t Size() const { return data_.size(); }

private:
    std::vector<uint8_t> data_;
};

void Encode(Bytes& out, const AviMainHeader& h) {
    out.U32(h.microSecPerFrame);
    out.U32(h.maxBytesPerSec);
    out.U32(h.paddingGranularity);
    out.U32(h.flags);
    out.U32(h.totalFrames);
    out.U32(h.initialFrames);
    out.U32(h.streams);
    out.U32(h.suggestedBufferSize);
    out.U32(h.width);
    out.U32(h.height);
    for (uint32_t r : h.reserved) out.U32(r);
}

void Encode(Bytes& out, const AviStreamHeader& h) {
    out.U32(h.type);
    out.U32(h.handler);
    out.U32(h.flags);
    out.U16(h.priority);
    out.U16(h.language);
    out.U32(h.initialFrames);
    out.U32(h.scale);
    out.U32(h.rate);
    out.U32(h.start);
    out.U32(h.length);
    out.U32(h.suggestedBufferSize);
    out.U32(h.quality);
    out.U32(h.sampleSize);
    for (int32_t v : h.frame) out.U32(static_cast<uint32_t>(v));
}

void Encode(Bytes& out, const BitmapInfoHeader& h) {
    out.U32(h.size);
    out.U32(static_cast<uint32_t>(h.width));
    out.U32(static_cast<uint32_t>(h.height));
    out.U16(h.planes);
    out.U16(h.bitCount);
    out.U32(h.compression);
    out.U32(h.sizeImage);
    out.U32(static_cast<uint32_t>(h.xPelsPerMeter));
    out.U32(static_cast<uint32_t>(h.yPelsPerMeter));
    out.U32(h.clrUsed);
    out.U32(h.clrImportant);
}

// True when every palette entry i is gray level i, as an 8-bit image's palette normally is.
bool IsGrayRamp(const RgbQuad* palette) {
    for (int i = 0; i < kPaletteEntries; ++i) {
        const RgbQuad& c = palette[i];
        if (c.blue != i || c.green != i || c.red != i) return false;
    }
    return true;
}

uint32_t Clamp32(uint64_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

void ToAviFrame(const ImageBuffer& image, uint8_t* out) {
    const int width = image.Width();
    const int height = image.Height();
    const size_t pitch = static_cast<size_t>(StrideFor(width, 24));
    const size_t used = static_cast<size_t>(width) * 3;
    const int bits = image.SignificantBits();
    const RgbQuad* palette = image.Palette();
    const SampleRowKernels rows = SampleRows();
    const bool grayPalette = image.BitCount() == 8 && IsGrayRamp(palette);
    // A frame this large is not read again before the file write: written around the caches.
    const bool streamed = pitch * static_cast<size_t>(height) >= kStreamedOutputBytes;
    const auto grayToBgr = streamed ? rows.grayToBgrStreamed : rows.grayToBgr;
    // Otherwise 16-bit gray rows go through their top bytes, one row at a time, kept in the
    // cache.
    std::vector<uint8_t> gray(image.BitCount() == 16 && !streamed ? static_cast<size_t>(width) : 0);
    const int shift = (bits >= 8 && bits <= 16 ? bits : 12) - 8;
    // Frames written by streamed stores are filled from their last row, so the source is read top
    // down: only the reads need the prefetchers, and they follow ascending addresses far better.
    const bool sourceOrder = streamed && (grayPalette || image.BitCount() == 16);
    for (int k = 0; k < height; ++k) {
        const int r = sourceOrder ? height - 1 - k : k;
        const uint8_t* src = image.Row(height - 1 - r);
        uint8_t* dst = out + pitch * static_cast<size_t>(r);
        switch (image.BitCount()) {
            case 8:
                if (grayPalette) {
                    grayToBgr(dst, src, width);
                    break;
                }
                for (int x = 0; x < width; ++x, dst += 3) {
                    const RgbQuad& c = palette[src[x]];
                    dst[0] = c.blue;
                    dst[1] = c.green;
                    dst[2] = c.red;
                }
                break;
            case 16:
                if (streamed) {
                    rows.topBytesToBgrStreamed(dst, Words(src), width, shift);
                    break;
                }
                rows.topBytes(gray.data(), Words(src), width, shift);
                rows.grayToBgr(dst, gray.data(), width);
                break;
            case 24:
                std::memcpy(dst, src, used);
                break;
            case 32:
                for (int x = 0; x < width; ++x, dst += 3, src += 4) {
                    dst[0] = src[0];
                    dst[1] = src[1];
                    dst[2] = src[2];
                }
                break;
            case 48:
                rows.topBytes(dst, Words(src), width * 3,
                              (bits >= 8 && bits <= 16 ? bits : 16) - 8);
                break;
            default: {
                const uint16_t* words = Words(src);
                const int samples = image.BytesPerPixel() / 2;
                for (int x = 0; x < width; ++x, dst += 3, words += samples) {
                    dst[0] = TopByteOf(words[0], bits, 16);
                    dst[1] = TopByteOf(words[1], bits, 16);
                    dst[2] = TopByteOf(words[2], bits, 16);
                }
                break;
            }
        }
        std::memset(out + pitch * static_cast<size_t>(r) + used, 0, pitch - used);
    }
    if (streamed) FenceStreamedStores();
}

AviWriter::~AviWriter() {
    if (file_.IsOpen()) Finish();
}

uint64_t AviWriter::FrameBytes(int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    return static_cast<uint64_t>(StrideFor(width, 24)) * static_cast<uint64_t>(height);
}

bool AviWriter::NeedsExtendedLayout(int width, int height, uint64_t frames, uint64_t riffLimit) {
    const uint64_t perFrame = FrameBytes(width, height) + 8 + sizeof(AviIndexEntry);
    if (perFrame == 8 + sizeof(AviIndexEntry)) return false;
    const uint64_t room = riffLimit > kAviHeaderBytes + 8 ? riffLimit - kAviHeaderBytes - 8 : 0;
    return frames > room / perFrame;
}

bool AviWriter::Open(const char* path, int width, int height, uint64_t expectedFrames) {
    if (file_.IsOpen()) Finish();
    const uint64_t bytes = FrameBytes(width, height);
    // One frame chunk must fit a 32-bit size, and a RIFF must hold at least one frame.
    if (bytes == 0 || bytes + 8 > std::numeric_limits<uint32_t>::max() / 2) return false;
    width_ = width;
    height_ = height;
    frameBytes_ = bytes;
    rate_ = kInitialRate;
    frames_ = 0;
    firstRiffFrames_ = 0;
    failed_ = false;
    idx1Written_ = false;
    riff_ = Riff{};
    superEntries_.clear();
    extended_ = NeedsExtendedLayout(width, height, expectedFrames, riffLimit_);
    superIndexCapacity_ = 0;
    if (extended_) {
        const uint64_t perRiff = std::max<uint64_t>(1, riffLimit_ / (bytes + 8 + 24));
        const uint64_t riffs = expectedFrames / perRiff + 2;
        superIndexCapacity_ =
            static_cast<uint32_t>(std::clamp<uint64_t>(riffs, kMinSuperEntries, kMaxSuperEntries));
    }
    if (!file_.Open(path)) return false;
    // An existing file keeps its content until the recording can start: room for the headers
    // and a first frame is made before a byte of it changes (a full disk leaves it as it was),
    // and its old tail goes only once the headers are in place.
    if (!WriteHeaders() || !file_.Truncate(file_.End())) {
        Discard();
        return false;
    }
    return true;
}

// Builds everything up to and including the first "movi" identifier with the values known now;
// Finish writes it again over the first bytes with the final counts.
bool AviWriter::WriteHeaders() {
    const bool patching = file_.End() > 0;
    const uint32_t rate = static_cast<uint32_t>(rate_ > 0 ? rate_ : kInitialRate);
    const uint32_t chunk = Clamp32(frameBytes_ + 8);

    const uint32_t indxBytes =
        extended_ ? 8 + kSuperIndexHeaderBytes + kSuperIndexEntryBytes * superIndexCapacity_ : 0;
    const uint32_t odmlBytes = extended_ ? 8 + 4 + 8 + kDmlhBytes : 0;
    const uint32_t strlSize = 4 + (8 + 64) + (8 + 40) + indxBytes;
    const uint32_t hdrlSize = 4 + (8 + 56) + (8 + strlSize) + odmlBytes;

    AviMainHeader main{};
    main.microSecPerFrame = 100000000u / rate;
    main.maxBytesPerSec = Clamp32(static_cast<uint64_t>(chunk) * rate / 100);
    main.flags = (idx1Written_ || !patching ? kAviFlagHasIndex : 0) | kAviFlagWasCaptureFile;
    main.totalFrames = extended_ ? firstRiffFrames_ : frames_;
    main.streams = 1;
    main.suggestedBufferSize = chunk;
    main.width = static_cast<uint32_t>(width_);
    main.height = static_cast<uint32_t>(height_);

    AviStreamHeader stream{};
    stream.type = FourCc("vids");
    stream.handler = FourCc("DIB ");
    stream.scale = 1000000000u / rate;
    stream.rate = 10000000;
    stream.length = frames_;
    stream.suggestedBufferSize = chunk;

    BitmapInfoHeader bitmap{};
    bitmap.size = kBitmapInfoHeaderSize;
    bitmap.width = width_;
    bitmap.height = height_;  // positive: bottom-up rows
    bitmap.planes = 1;
    bitmap.bitCount = 24;

    Bytes out;
    out.Tag(FourCc("RIFF"));
    out.U32(patching ? firstRiffSize_ : 0);
    out.Tag(FourCc("AVI "));
    out.Tag(FourCc("LIST"));
    out.U32(hdrlSize);
    out.Tag(FourCc("hdrl"));
    out.Tag(FourCc("avih"));
    out.U32(56);
    Encode(out, main);
    out.Tag(FourCc("LIST"));
    out.U32(strlSize);
    out.Tag(FourCc("strl"));
    out.Tag(FourCc("strh"));
    out.U32(64);
    Encode(out, stream);
    out.Tag(FourCc("strf"));
    out.U32(40);
    Encode(out, bitmap);
    if (extended_) {
        out.Tag(FourCc("indx"));
        out.U32(indxBytes - 8);
        out.U16(4);  // longs per entry
        out.U8(0);   // sub type
        out.U8(0);   // an index of indexes
        out.U32(static_cast<uint32_t>(superEntries_.size()));
        out.Tag(kChunkId);
        out.Zeros(12);
        for (const SuperEntry& e : superEntries_) {
            out.U64(e.offset);
            out.U32(e.size);
            out.U32(e.duration);
        }
        out.Zeros(kSuperIndexEntryBytes * (superIndexCapacity_ - superEntries_.size()));
        out.Tag(FourCc("LIST"));
        out.U32(4 + 8 + kDmlhBytes);
        out.Tag(FourCc("odml"));
        out.Tag(FourCc("dmlh"));
        out.U32(kDmlhBytes);
        out.U32(frames_);
        out.Zeros(kDmlhBytes - 4);
    }
    out.Tag(FourCc("LIST"));
    const uint64_t moviSizeOffset = out.Size();
    out.U32(patching ? firstMoviSize_ : 4);
    out.Tag(FourCc("movi"));

    if (patching) return file_.WriteAt(0, out.Data(), out.Size());
    riff_.start = 0;
    riff_.moviSize = moviSizeOffset;
    if (!file_.Reserve(out.Size() + 8 + frameBytes_) || !file_.Append(out.Data(), out.Size())) {
        failed_ = true;
        return false;
    }
    return true;
}

uint64_t AviWriter::RiffBytesWith(uint32_t moreFrames) const {
    const uint64_t chunks = riff_.chunks.size() + moreFrames;
    uint64_t bytes = file_.End() - riff_.start + moreFrames * (frameBytes_ + 8);
    if (extended_) bytes += 8 + kStdIndexHeaderBytes + kStdIndexEntryBytes * chunks;
    if (riff_.start == 0) bytes += 8 + sizeof(AviIndexEntry) * chunks;  // idx1
    return bytes;
}

AviWriter::AddResult AviWriter::AddFrame(const uint8_t* pixels) {
    if (!file_.IsOpen() || failed_) return AddResult::kFailed;
    if (pixels == nullptr || frames_ == std::numeric_limits<uint32_t>::max()) {
        return AddResult::kFull;
    }
    if (RiffBytesWith(1) > riffLimit_ && !riff_.chunks.empty()) {
        // The closed RIFF and the new one each take a super index entry.
        if (!extended_ || superEntries_.size() + 2 > superIndexCapacity_) return AddResult::kFull;
        if (!CloseRiff() || !StartRiff()) {
            failed_ = true;
            return AddResult::kFailed;
        }
    }
    const uint64_t at = file_.End();
    uint8_t header[8];
    platform::StoreLe32(header, kChunkId);
    platform::StoreLe32(header + 4, static_cast<uint32_t>(frameBytes_));
    if (!file_.Append2(header, sizeof header, pixels, frameBytes_)) {
        failed_ = true;
        file_.Truncate(at);  // the part of the chunk that made it would corrupt the list
        return AddResult::kFailed;
    }
    riff_.chunks.push_back(at);
    ++frames_;
    if (riff_.start == 0) firstRiffFrames_ = frames_;
    return AddResult::kAdded;
}

bool AviWriter::WriteIdx1(const Riff& riff) {
    const uint64_t moviId = riff.moviSize + 4;
    Bytes out;
    out.Tag(FourCc("idx1"));
    out.U32(static_cast<uint32_t>(sizeof(AviIndexEntry) * riff.chunks.size()));
    for (uint64_t chunk : riff.chunks) {
        out.Tag(kChunkId);
        out.U32(kAviIndexKeyFrame);
        out.U32(static_cast<uint32_t>(chunk - moviId));
        out.U32(static_cast<uint32_t>(frameBytes_));
    }
    return file_.Append(out.Data(), out.Size());
}

bool AviWriter::CloseRiff() {
    const uint64_t moviId = riff_.moviSize + 4;
    const uint64_t chunksEnd = file_.End();
    bool ok = true;
    if (extended_) {
        const uint32_t count = static_cast<uint32_t>(riff_.chunks.size());
        Bytes ix;
        ix.Tag(FourCc("ix00"));
        ix.U32(kStdIndexHeaderBytes + kStdIndexEntryBytes * count);
        ix.U16(2);  // longs per entry
        ix.U8(0);   // sub type
        ix.U8(1);   // an index of chunks
        ix.U32(count);
        ix.Tag(kChunkId);
        ix.U64(moviId);  // base offset
        ix.U32(0);
        for (uint64_t chunk : riff_.chunks) {
            ix.U32(static_cast<uint32_t>(chunk + 8 - moviId));  // the chunk's data, from the base
            ix.U32(static_cast<uint32_t>(frameBytes_));         // bit 31 clear: a key frame
        }
        const uint64_t ixAt = file_.End();
        ok = file_.Append(ix.Data(), ix.Size());
        if (ok) superEntries_.push_back({ixAt, static_cast<uint32_t>(ix.Size()), count});
    }
    uint64_t moviEnd = ok ? file_.End() : chunksEnd;
    if (!ok) file_.Truncate(chunksEnd);
    if (riff_.start == 0) {
        // Without room for "idx1" the file is still readable from its chunks; the header then
        // no longer claims an index.
        idx1Written_ = ok && WriteIdx1(riff_);
        if (!idx1Written_) file_.Truncate(moviEnd);
        ok = ok && idx1Written_;
    }
    uint8_t size[4];
    platform::StoreLe32(size, static_cast<uint32_t>(moviEnd - moviId));
    bool patched = file_.WriteAt(riff_.moviSize, size, 4);
    const uint64_t riffSize = file_.End() - riff_.start - 8;
    platform::StoreLe32(size, static_cast<uint32_t>(riffSize));
    patched = file_.WriteAt(riff_.start + kAviRiffSizeOffset, size, 4) && patched;
    if (riff_.start == 0) {
        firstRiffSize_ = static_cast<uint32_t>(riffSize);
        firstMoviSize_ = static_cast<uint32_t>(moviEnd - moviId);
    }
    riff_.chunks.clear();
    return ok && patched;
}

bool AviWriter::StartRiff() {
    Bytes out;
    out.Tag(FourCc("RIFF"));
    out.U32(0);
    out.Tag(FourCc("AVIX"));
    out.Tag(FourCc("LIST"));
    out.U32(4);
    out.Tag(FourCc("movi"));
    const uint64_t at = file_.End();
    if (!file_.Append(out.Data(), out.Size())) {
        file_.Truncate(at);
        return false;
    }
    riff_.start = at;
    riff_.moviSize = at + 16;
    return true;
}

void AviWriter::SetRate(int hundredths) {
    if (hundredths > 0) rate_ = hundredths;
}

bool AviWriter::Finish() {
    if (!file_.IsOpen()) return false;
    bool ok = !failed_;
    const uint64_t lastStart = riff_.start;
    const auto lastFrames = static_cast<uint32_t>(riff_.chunks.size());
    if (!CloseRiff()) {
        ok = false;
        if (lastStart != 0) {
            // An "AVIX" whose index could not be written is cut off whole: its frames would be
            // invisible to readers that go by the indexes.
            frames_ -= lastFrames;
            file_.Truncate(lastStart);
        }
    }
    ok = WriteHeaders() && ok;
    ok = file_.Close() && ok;
    return ok;
}

void AviWriter::Discard() {
    file_.CloseAndRemoveIfCreated();
}

}  // namespace lumora
