#include "driver/FrameRing.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace lumora {

namespace {
std::atomic<int> gAllocationsBeforeFailure{-1};
}

std::unique_ptr<uint8_t[]> AllocateFrameBuffer(size_t bytes) {
    int remaining = gAllocationsBeforeFailure.load();
    while (remaining >= 0) {
        if (gAllocationsBeforeFailure.compare_exchange_weak(remaining, remaining - 1)) {
            if (remaining == 0) return nullptr;
            break;
        }
    }
    // Frames are megabytes: a failed allocation is a result, not an exception. The pages are
    // written once here, before any frame is due: left to the first transfer into them, their
    // faults made each of the first frames of a run several times slower than the camera's
    // period, and the camera, which keeps only a couple of frames for a late host, lost frames
    // at the start of every run.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]);
    if (buffer) std::memset(buffer.get(), 0, bytes);
    return buffer;
}

void FailFrameBufferAllocationForTesting(int afterCount) {
    gAllocationsBeforeFailure.store(afterCount);
}

bool FrameRing::Allocate(int slots, size_t capacity) {
    // Buffers of the same size are kept: their pages are already there.
    std::array<std::unique_ptr<uint8_t[]>, kMaxSlots> kept;
    int keptCount = 0;
    for (Slot& slot : slots_) {
        platform::MutexLock lock(slot.mutex);
        if (slot.data && slot.bytes == capacity) kept[keptCount++] = std::move(slot.data);
    }
    Free();
    if (slots <= 0 || slots > kMaxSlots || capacity == 0) return false;
    std::array<std::unique_ptr<uint8_t[]>, kMaxSlots> buffers;
    for (int i = 0; i < slots; ++i) {
        buffers[i] = keptCount > 0 ? std::move(kept[--keptCount]) : AllocateFrameBuffer(capacity);
        if (!buffers[i]) return false;  // the ones already had go with `buffers`
    }
    for (int i = 0; i < slots; ++i) {
        platform::MutexLock lock(slots_[i].mutex);
        slots_[i].data = std::move(buffers[i]);
        slots_[i].bytes = capacity;
        slots_[i].record = FrameRecord{};
    }
    size_ = slots;
    capacity_ = capacity;
    return true;
}

void FrameRing::Free() {
    for (Slot& slot : slots_) {
        platform::MutexLock lock(slot.mutex);
        slot.data.reset();
        slot.bytes = 0;
        slot.filling = false;
        slot.vacated = false;
        slot.record = FrameRecord{};
        slot.sequence.fetch_add(1, std::memory_order_acq_rel);
    }
    size_ = 0;
    capacity_ = 0;
}

void FrameRing::SetSlotCount(int slots) {
    slotCount_.store(std::clamp(slots, 1, kMaxSlots));
    ResetMarks();
}

void FrameRing::ResetMarks() {
    const uint64_t stored = StoredCount();
    position_.store(Pack(0, stored), std::memory_order_release);
    readMark_.store(0, std::memory_order_release);
    taken_.store(stored);
    for (Slot& slot : slots_) {
        platform::MutexLock lock(slot.mutex);
        slot.record = FrameRecord{};
    }
}

void FrameRing::SetReadMark(int mark) {
    readMark_.store(std::clamp(mark, 0, slotCount_.load() - 1), std::memory_order_release);
}

void FrameRing::MarkTaken(int writeIndex, uint64_t storedCount) {
    SetReadMark(writeIndex);
    taken_.store(storedCount, std::memory_order_release);
}

int FrameRing::NewestSlot() const {
    const int write = WriteIndex();
    return write == 0 ? slotCount_.load() - 1 : write - 1;
}

int FrameRing::SlotOfStore(uint64_t storeNumber) const {
    const Position now = Published();
    const int slots = slotCount_.load();
    // The slot at the write index is the next to be overwritten (or is being received into).
    if (storeNumber >= now.storedCount || now.storedCount - storeNumber >= uint64_t(slots))
        return -1;
    const int back = static_cast<int>(now.storedCount - storeNumber);
    return (now.writeIndex - back + slots) % slots;
}

bool FrameRing::StoreAt(int index, const uint8_t* frame, size_t bytes, const FrameRecord& record) {
    if (index < 0 || index >= size_ || frame == nullptr || bytes > capacity_) return false;
    Slot& slot = slots_[index];
    platform::MutexLock lock(slot.mutex);
    if (!slot.data) return false;
    std::memcpy(slot.data.get(), frame, bytes);
    slot.vacated = false;
    slot.record = record;
    slot.sequence.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

bool FrameRing::Store(const uint8_t* frame, size_t bytes, const FrameRecord& record) {
    const Position now = Published();
    FrameRecord numbered = record;
    numbered.storeNumber = now.storedCount;
    if (!StoreAt(now.writeIndex, frame, bytes, numbered)) return false;
    const int next = now.writeIndex + 1 >= slotCount_ ? 0 : now.writeIndex + 1;
    // Index and count move together: a reader between two separate stores would take the new
    // frame with the old count and be told of it again.
    position_.store(Pack(next, now.storedCount + 1), std::memory_order_release);
    return true;
}

uint8_t* FrameRing::BeginStore() {
    const int index = Published().writeIndex;
    if (index < 0 || index >= size_) return nullptr;
    Slot& slot = slots_[index];
    platform::MutexLock lock(slot.mutex);
    if (!slot.data) return nullptr;
    slot.filling = true;
    slot.vacated = false;
    slot.record = FrameRecord{};
    slot.sequence.fetch_add(1, std::memory_order_acq_rel);
    return slot.data.get();
}

bool FrameRing::CommitStore(size_t bytes, const FrameRecord& record) {
    const Position now = Published();
    const int index = now.writeIndex;
    if (index < 0 || index >= size_ || bytes > capacity_) return false;
    {
        Slot& slot = slots_[index];
        platform::MutexLock lock(slot.mutex);
        if (!slot.filling) return false;
        slot.filling = false;
        slot.record = record;
        slot.record.storeNumber = now.storedCount;
        slot.sequence.fetch_add(1, std::memory_order_acq_rel);
    }
    const int next = index + 1 >= slotCount_ ? 0 : index + 1;
    position_.store(Pack(next, now.storedCount + 1), std::memory_order_release);
    return true;
}

void FrameRing::AbandonStore() {
    const int index = Published().writeIndex;
    if (index < 0 || index >= kMaxSlots) return;
    Slot& slot = slots_[index];
    platform::MutexLock lock(slot.mutex);
    slot.filling = false;
}

FrameRecord FrameRing::Record(int slot) {
    if (slot < 0 || slot >= kMaxSlots) return FrameRecord{};
    platform::MutexLock lock(slots_[slot].mutex);
    return slots_[slot].record;
}

bool FrameRing::CopyOut(int index, uint8_t* dst, size_t dstCapacity, const FrameLayout& layout,
                        FrameRecord* record) {
    if (index < 0 || index >= kMaxSlots) return false;
    Slot& slot = slots_[index];
    const uint64_t chosen = slot.sequence.load(std::memory_order_acquire);
    platform::MutexLock lock(slot.mutex);
    // The writer came round to this slot after it was chosen: the frame we meant is gone.
    if (slot.sequence.load(std::memory_order_acquire) != chosen || slot.filling || slot.vacated)
        return false;
    if (dst != nullptr && !CopyLocked(slot, dst, dstCapacity, layout)) return false;
    if (record != nullptr) *record = slot.record;
    return true;
}

bool FrameRing::Exchange(int index, std::unique_ptr<uint8_t[]>& buffer, size_t& bufferCapacity,
                         FrameRecord* record) {
    if (index < 0 || index >= kMaxSlots || !buffer) return false;
    Slot& slot = slots_[index];
    const uint64_t chosen = slot.sequence.load(std::memory_order_acquire);
    platform::MutexLock lock(slot.mutex);
    if (slot.sequence.load(std::memory_order_acquire) != chosen || slot.filling || slot.vacated ||
        !slot.data || bufferCapacity < capacity_) {
        return false;
    }
    std::swap(slot.data, buffer);
    std::swap(slot.bytes, bufferCapacity);
    if (record != nullptr) *record = slot.record;
    // The slot now holds the reader's old bytes: no frame a later reader could mean.
    slot.record = FrameRecord{};
    slot.vacated = true;
    slot.sequence.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

bool FrameRing::CopyLocked(Slot& slot, uint8_t* dst, size_t dstCapacity,
                           const FrameLayout& layout) const {
    if (!slot.data || layout.frameSize > dstCapacity || layout.frameSize > capacity_) return false;
    const int d = layout.orientation;
    const bool upsideDown = d == 3 || d == 4;
    const bool storedOrder = layout.topDown != upsideDown;
    const bool reversePixels = d == 2 || d == 4;
    const uint8_t* src = slot.data.get();
    if (storedOrder && !reversePixels) {
        std::memcpy(dst, src, layout.frameSize);
        return true;
    }
    const size_t lineBytes = layout.lineBytes;
    const size_t lines = layout.lines;
    if (lineBytes == 0 || lines > layout.frameSize / lineBytes) return false;
    const size_t unit = layout.sampleBytes == 2 ? 2 : 1;
    for (size_t line = 0; line < lines; ++line) {
        const uint8_t* from = src + (storedOrder ? line : lines - 1 - line) * lineBytes;
        uint8_t* to = dst + line * lineBytes;
        if (!reversePixels) {
            std::memcpy(to, from, lineBytes);
        } else {
            const size_t samples = lineBytes / unit;
            for (size_t i = 0; i < samples; ++i) {
                std::memcpy(to + i * unit, from + (samples - 1 - i) * unit, unit);
            }
        }
    }
    return true;
}

}  // namespace lumora
