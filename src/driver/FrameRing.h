#pragma once
// The driver's ring of frame buffers: one writer (the acquisition thread) stores complete frames,
// readers copy the newest one out. A slot is rewritten only after every other slot was filled, so
// the newest frame stays put for ring-size − 1 further frames.
//
// Threads: Store is for the writer only; CopyOut, the marks and the queries for any reader.
// Each slot's lock guards its bytes and its FrameRecord: a reader holds it for one copy-out, so
// the writer waits for that copy instead of tearing it. The write index and the stored count
// are one atomic word, published with release after the slot is complete, so a reader never
// sees the one moved without the other; the read mark is an atomic of its own. Allocate,
// Free and ResetWriteIndex need the writer stopped.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/Mutex.h"

namespace lumora {

// What the driver keeps per ring slot beside the pixels.
struct FrameRecord {
    static constexpr uint32_t kEmptyWord = 0xFFFF;
    int32_t frameCounter = -1;
    uint32_t wordA = kEmptyWord;
    uint32_t wordB = kEmptyWord;
    uint32_t wordC = kEmptyWord;
    uint32_t wordD = kEmptyWord;
    uint64_t auxWide = 0;  // auxiliary words, filled only by camera families with a side channel
    uint32_t auxWord = 0;
    // When the host had the whole frame: the monotonic clock and the system clock, in
    // nanoseconds (0: not stamped).
    int64_t arrivalNs = 0;
    int64_t arrivalWallNs = 0;
    // When the frame's header arrived, on the monotonic clock (0: not stamped): places the frame
    // among the settings changes the driver noted.
    int64_t headerNs = 0;
    // The ring's count of frames stored before this one: names the frame across slots, so a
    // reader taking frames in order can tell the one it meant from a later one in the same slot.
    uint64_t storeNumber = 0;
};

// How a stored frame is laid out and how it is to be delivered.
struct FrameLayout {
    size_t frameSize = 0;  // bytes of one frame
    size_t lineBytes = 0;  // bytes of one stored line
    size_t lines = 0;
    size_t sampleBytes = 1;  // the unit in which a line is reversed
    int orientation = 1;     // the sensor's orientation code
    bool topDown = true;     // the caller's wish

    // True when a stored frame is delivered byte for byte as it lies in its slot.
    bool DeliveredAsStored() const {
        const bool upsideDown = orientation == 3 || orientation == 4;
        const bool reversePixels = orientation == 2 || orientation == 4;
        return topDown != upsideDown && !reversePixels;
    }
};

// Frame buffers come from here so that tests can make the n-th allocation fail.
std::unique_ptr<uint8_t[]> AllocateFrameBuffer(size_t bytes);
// The next `afterCount` allocations succeed, the one after fails; a negative count disables it.
void FailFrameBufferAllocationForTesting(int afterCount);

class FrameRing {
public:
    static constexpr int kMaxSlots = 8;

    // Frees everything, then allocates `slots` buffers of `capacity` bytes each. All or nothing:
    // on a failed allocation every buffer is freed and false is returned.
    bool Allocate(int slots, size_t capacity);
    void Free();
    bool IsAllocated() const { return size_ > 0; }
    int Size() const { return size_; }
    size_t Capacity() const { return capacity_; }
    // The number of slots the ring will use; marks are kept within it.
    void SetSlotCount(int slots);
    int SlotCount() const { return slotCount_; }

    // Writer: copies `bytes` into the slot at the write index, stores its record and publishes it.
    // False when the ring is not allocated or the frame does not fit a slot.
    bool Store(const uint8_t* frame, size_t bytes, const FrameRecord& record);

    // Stores into `slot` without moving the write index (a frame fetched outside the stream).
    bool StoreAt(int slot, const uint8_t* frame, size_t bytes, const FrameRecord& record);

    // Writer: receives the next frame in place. BeginStore hands out the buffer of the slot at the
    // write index (null when the ring is not allocated); readers are refused that slot until
    // CommitStore publishes it as Store does, or AbandonStore leaves it empty.
    uint8_t* BeginStore();
    bool CommitStore(size_t bytes, const FrameRecord& record);
    void AbandonStore();

    // The write index and the stored count as one consistent pair: together they name the
    // newest frame exactly. Readers that take the newest frame must use this, not the two
    // accessors below one after the other.
    struct Position {
        int writeIndex;
        uint64_t storedCount;
    };
    Position Published() const { return Unpack(position_.load(std::memory_order_acquire)); }
    int WriteIndex() const { return Published().writeIndex; }
    int ReadMark() const { return readMark_.load(std::memory_order_acquire); }
    // Frames stored so far.
    uint64_t StoredCount() const { return Published().storedCount; }
    void SetReadMark(int mark);
    // The reader took the frame that was newest when the write index was `writeIndex` and
    // `storedCount` frames had been stored.
    void MarkTaken(int writeIndex, uint64_t storedCount);
    // Marks every stored frame as taken.
    void CatchUp() {
        const Position now = Published();
        MarkTaken(now.writeIndex, now.storedCount);
    }
    // Counted, not compared by index, so a reader lapped by a whole ring still sees news.
    bool HasNewFrame() const { return StoredCount() != taken_.load(std::memory_order_acquire); }
    // Writer stopped only: drops pending frames by moving the write index onto the read mark.
    void DropPending() {
        const uint64_t stored = StoredCount();
        position_.store(Pack(ReadMark(), stored), std::memory_order_release);
        taken_.store(stored, std::memory_order_release);
    }
    // Writer stopped only: both marks back to slot 0, records emptied.
    void ResetMarks();
    int NewestSlot() const;
    // The slot holding the frame stored as number `storeNumber` (its record's storeNumber), or
    // -1 when that frame is not stored yet or its slot may already be taken by a newer one.
    int SlotOfStore(uint64_t storeNumber) const;

    // Copies slot `slot` into `dst` (capacity `dstCapacity`) as `layout` says and returns its
    // record. False when the slot holds no buffer, when the frame does not fit `dstCapacity` or
    // its slot, or when the writer overwrote the slot between its choice and the copy.
    bool CopyOut(int slot, uint8_t* dst, size_t dstCapacity, const FrameLayout& layout,
                 FrameRecord* record);
    // Copies the newest frame; the same rules.
    bool CopyNewest(uint8_t* dst, size_t dstCapacity, const FrameLayout& layout,
                    FrameRecord* record) {
        return CopyOut(NewestSlot(), dst, dstCapacity, layout, record);
    }
    FrameRecord Record(int slot);

    // Hands the frame in slot `slot` to the reader without copying it: the slot's buffer and
    // `buffer` (of `bufferCapacity` bytes, at least Capacity()) change places under the slot's
    // lock, `bufferCapacity` becomes the size of the buffer received, and the slot is left
    // empty (copies from it are refused until it is written again). The same refusals as
    // CopyOut, and false for a buffer smaller than a slot.
    bool Exchange(int slot, std::unique_ptr<uint8_t[]>& buffer, size_t& bufferCapacity,
                  FrameRecord* record);

private:
    static constexpr int kIndexBits = 4;  // kMaxSlots fits
    static constexpr uint64_t Pack(int writeIndex, uint64_t stored) {
        return stored << kIndexBits | static_cast<uint64_t>(writeIndex);
    }
    static constexpr Position Unpack(uint64_t word) {
        return {static_cast<int>(word & ((1u << kIndexBits) - 1)), word >> kIndexBits};
    }
    struct Slot {
        platform::Mutex mutex;
        std::unique_ptr<uint8_t[]> data LUMORA_GUARDED_BY(mutex);
        // Of data: the capacity, or more for a buffer a reader exchanged in.
        size_t bytes LUMORA_GUARDED_BY(mutex) = 0;
        FrameRecord record LUMORA_GUARDED_BY(mutex);
        std::atomic<uint64_t> sequence{0};  // counts stores; a changed value means overwritten
        // The writer is receiving into it (BeginStore).
        bool filling LUMORA_GUARDED_BY(mutex) = false;
        // Its frame went to a reader (Exchange).
        bool vacated LUMORA_GUARDED_BY(mutex) = false;
    };
    bool CopyLocked(Slot& slot, uint8_t* dst, size_t dstCapacity, const FrameLayout& layout) const
        LUMORA_REQUIRES(slot.mutex);

    std::array<Slot, kMaxSlots> slots_;
    std::atomic<int> size_{0};  // slots holding buffers
    std::atomic<int> slotCount_{4};
    std::atomic<size_t> capacity_{0};
    std::atomic<uint64_t> position_{0};  // Pack(write index, stored count)
    std::atomic<int> readMark_{0};
    std::atomic<uint64_t> taken_{0};
};

}  // namespace lumora
