#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "driver/FrameRing.h"

namespace lumora {
namespace {

std::vector<uint8_t> Frame(size_t bytes, uint8_t seed) {
    std::vector<uint8_t> f(bytes);
    for (size_t i = 0; i < bytes; ++i) f[i] = static_cast<uint8_t>(seed + i);
    return f;
}

FrameLayout Layout(size_t width, size_t height, size_t sampleBytes, int orientation,
                   bool topDown = true) {
    FrameLayout l;
    l.lineBytes = width * sampleBytes;
    l.lines = height;
    l.frameSize = l.lineBytes * height;
    l.sampleBytes = sampleBytes;
    l.orientation = orientation;
    l.topDown = topDown;
    return l;
}

TEST(FrameRing, NewestFrameAndMarks) {
    FrameRing ring;
    ring.SetSlotCount(4);
    ASSERT_TRUE(ring.Allocate(4, 64));
    EXPECT_FALSE(ring.HasNewFrame());  // the read mark starts on the write index
    const auto a = Frame(16, 1);
    const auto b = Frame(16, 2);
    ASSERT_TRUE(ring.Store(a.data(), a.size(), {.frameCounter = 7}));
    ASSERT_TRUE(ring.Store(b.data(), b.size(), {.frameCounter = 8}));
    EXPECT_TRUE(ring.HasNewFrame());
    std::vector<uint8_t> out(16);
    FrameRecord record;
    ASSERT_TRUE(ring.CopyNewest(out.data(), out.size(), Layout(4, 4, 1, 1), &record));
    EXPECT_EQ(out, b);
    EXPECT_EQ(record.frameCounter, 8);
    ring.CatchUp();
    EXPECT_FALSE(ring.HasNewFrame());
    // The write index wraps at the slot count.
    for (int i = 0; i < 3; ++i) ring.Store(a.data(), a.size(), {});
    EXPECT_EQ(ring.WriteIndex(), 1);
    EXPECT_EQ(ring.NewestSlot(), 0);
}

TEST(FrameRing, ExchangeHandsTheFrameOverAndLeavesTheSlotEmpty) {
    FrameRing ring;
    ring.SetSlotCount(3);
    ASSERT_TRUE(ring.Allocate(3, 64));
    const auto a = Frame(64, 1);
    ASSERT_TRUE(ring.Store(a.data(), a.size(), {.frameCounter = 5}));
    const int slot = ring.NewestSlot();

    // Too small a buffer is refused and stays the caller's.
    auto small = std::make_unique<uint8_t[]>(32);
    uint8_t* const smallBytes = small.get();
    size_t smallCapacity = 32;
    EXPECT_FALSE(ring.Exchange(slot, small, smallCapacity, nullptr));
    EXPECT_EQ(small.get(), smallBytes);
    EXPECT_EQ(smallCapacity, 32u);

    // A larger buffer goes in; the frame comes out with its record and the slot's size.
    auto mine = std::make_unique<uint8_t[]>(100);
    uint8_t* const mineBytes = mine.get();
    size_t capacity = 100;
    FrameRecord record;
    ASSERT_TRUE(ring.Exchange(slot, mine, capacity, &record));
    EXPECT_NE(mine.get(), mineBytes);
    EXPECT_EQ(capacity, 64u);
    EXPECT_EQ(record.frameCounter, 5);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), mine.get()));

    // The slot holds no frame now: neither a copy nor a second exchange gets the old bytes.
    std::vector<uint8_t> out(64);
    EXPECT_FALSE(ring.CopyOut(slot, out.data(), out.size(), Layout(8, 8, 1, 1), nullptr));
    EXPECT_FALSE(ring.Exchange(slot, mine, capacity, nullptr));

    // The exchanged-in buffer takes frames again once the writer comes round to it.
    const auto b = Frame(64, 9);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(ring.Store(b.data(), b.size(), {}));
    ASSERT_TRUE(ring.CopyOut(slot, out.data(), out.size(), Layout(8, 8, 1, 1), nullptr));
    EXPECT_EQ(out, b);
    auto received = std::make_unique<uint8_t[]>(64);
    size_t receivedCapacity = 64;
    ASSERT_TRUE(ring.Exchange(slot, received, receivedCapacity, nullptr));
    EXPECT_EQ(received.get(), mineBytes);
    EXPECT_EQ(receivedCapacity, 100u);
}

TEST(FrameRing, CopiesAreBoundedByBothSides) {
    FrameRing ring;
    ASSERT_TRUE(ring.Allocate(4, 64));
    const auto big = Frame(65, 0);
    EXPECT_FALSE(ring.Store(big.data(), big.size(), {}));  // larger than a slot
    const auto f = Frame(16, 3);
    ASSERT_TRUE(ring.Store(f.data(), f.size(), {}));
    std::vector<uint8_t> out(15, 0xEE);
    EXPECT_FALSE(ring.CopyNewest(out.data(), out.size(), Layout(4, 4, 1, 1), nullptr));
    EXPECT_EQ(out, std::vector<uint8_t>(15, 0xEE));
    std::vector<uint8_t> huge(128);
    EXPECT_FALSE(
        ring.CopyNewest(huge.data(), huge.size(), Layout(8, 16, 1, 1), nullptr));  // > slot
    FrameRing empty;
    EXPECT_FALSE(empty.CopyNewest(huge.data(), huge.size(), Layout(4, 4, 1, 1), nullptr));
}

TEST(FrameRing, OrientationFourTurnsTheFrameHalfAround) {
    FrameRing ring;
    ASSERT_TRUE(ring.Allocate(4, 64));
    // 3 x 2 frame of 16-bit samples: rows [1 2 3] [4 5 6].
    const std::vector<uint8_t> f = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0};
    ASSERT_TRUE(ring.Store(f.data(), f.size(), {}));
    std::vector<uint8_t> out(12);
    ASSERT_TRUE(ring.CopyNewest(out.data(), out.size(), Layout(3, 2, 2, 4), nullptr));
    EXPECT_EQ(out, (std::vector<uint8_t>{6, 0, 5, 0, 4, 0, 3, 0, 2, 0, 1, 0}));
    ASSERT_TRUE(ring.CopyNewest(out.data(), out.size(), Layout(3, 2, 2, 1, false), nullptr));
    EXPECT_EQ(out, (std::vector<uint8_t>{4, 0, 5, 0, 6, 0, 1, 0, 2, 0, 3, 0}));  // bottom-up
    ASSERT_TRUE(ring.CopyNewest(out.data(), out.size(), Layout(3, 2, 2, 1), nullptr));
    EXPECT_EQ(out, f);
}

TEST(FrameRing, FailedAllocationLeavesNothing) {
    FrameRing ring;
    ASSERT_TRUE(ring.Allocate(4, 64));
    FailFrameBufferAllocationForTesting(2);  // the third new buffer fails
    EXPECT_FALSE(ring.Allocate(4, 128));
    FailFrameBufferAllocationForTesting(-1);
    EXPECT_FALSE(ring.IsAllocated());
    EXPECT_EQ(ring.Capacity(), 0u);
    const auto f = Frame(16, 0);
    EXPECT_FALSE(ring.Store(f.data(), f.size(), {}));
}

// A new run after a settings change reallocates the ring: buffers of the size it already has are
// kept (their pages are in place), each goes to one slot only, and a new size gets new buffers.
TEST(FrameRing, ReallocatingKeepsBuffersOfTheSameSizeOncePerSlot) {
    FrameRing ring;
    ring.SetSlotCount(3);
    ASSERT_TRUE(ring.Allocate(3, 64));
    auto slotBuffers = [&ring] {
        std::vector<uint8_t*> buffers;
        for (int i = 0; i < ring.SlotCount(); ++i) {
            buffers.push_back(ring.BeginStore());
            EXPECT_NE(buffers.back(), nullptr);
            EXPECT_TRUE(ring.CommitStore(16, {}));
        }
        return buffers;
    };
    auto before = slotBuffers();
    ring.SetSlotCount(4);
    ASSERT_TRUE(ring.Allocate(4, 64));
    auto after = slotBuffers();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(std::count_if(after.begin(), after.end(),
                            [&](uint8_t* p) {
                                return std::find(before.begin(), before.end(), p) != before.end();
                            }),
              3);
    std::sort(after.begin(), after.end());
    EXPECT_EQ(std::adjacent_find(after.begin(), after.end()), after.end()) << "a buffer in two slots";

    // A fresh buffer is handed out written through (all zero), not as the allocator left it.
    ASSERT_TRUE(ring.Allocate(4, 4096));
    const uint8_t* fresh = ring.BeginStore();
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(std::all_of(fresh, fresh + 4096, [](uint8_t b) { return b == 0; }));
    ring.AbandonStore();
}

TEST(FrameRing, DroppingPendingFramesMovesTheWriteIndexToTheReadMark) {
    FrameRing ring;
    ASSERT_TRUE(ring.Allocate(4, 16));
    const auto f = Frame(16, 0);
    ring.Store(f.data(), f.size(), {});
    ring.Store(f.data(), f.size(), {});
    ring.DropPending();
    EXPECT_FALSE(ring.HasNewFrame());
    EXPECT_EQ(ring.WriteIndex(), 0);
}

// A reader never sees a frame mixed from two stores: every copy that succeeds is one whole frame.
TEST(FrameRing, ConcurrentCopiesAreNeverTorn) {
    FrameRing ring;
    constexpr size_t kBytes = 64 * 1024;
    ASSERT_TRUE(ring.Allocate(4, kBytes));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<uint8_t> f(kBytes);
        for (int n = 1; !stop.load(); ++n) {
            std::fill(f.begin(), f.end(), static_cast<uint8_t>(n));
            ring.Store(f.data(), f.size(), {.frameCounter = n});
        }
    });
    std::vector<uint8_t> out(kBytes);
    int good = 0;
    for (int i = 0; i < 1000000 && good < 200; ++i) {
        FrameRecord record;
        if (!ring.CopyNewest(out.data(), out.size(), Layout(1024, 64, 1, 1), &record)) continue;
        if (record.frameCounter < 0) continue;
        ++good;
        ASSERT_EQ(std::count(out.begin(), out.end(), out[0]), static_cast<long>(kBytes));
        ASSERT_EQ(out[0], static_cast<uint8_t>(record.frameCounter));
    }
    stop.store(true);
    writer.join();
    EXPECT_GT(good, 0);
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// A frame received in place is invisible until it is published, and a failed one never shows.
TEST(FrameRing, FrameReceivedInPlaceIsPublishedOnlyWhenCommitted) {
    FrameRing ring;
    ring.SetSlotCount(4);
    ASSERT_TRUE(ring.Allocate(4, 64));
    const FrameLayout layout = Layout(4, 4, 1, 1);
    std::vector<uint8_t> out(16);
    uint8_t* slot = ring.BeginStore();
    ASSERT_NE(slot, nullptr);
    const auto a = Frame(16, 3);
    std::copy(a.begin(), a.end(), slot);
    EXPECT_FALSE(ring.HasNewFrame());
    EXPECT_FALSE(ring.CopyOut(0, out.data(), out.size(), layout, nullptr));  // still filling
    ASSERT_TRUE(ring.CommitStore(16, {.frameCounter = 5}));
    EXPECT_TRUE(ring.HasNewFrame());
    FrameRecord record;
    ASSERT_TRUE(ring.CopyNewest(out.data(), out.size(), layout, &record));
    EXPECT_EQ(out, a);
    EXPECT_EQ(record.frameCounter, 5);

    slot = ring.BeginStore();
    ASSERT_NE(slot, nullptr);
    std::fill(slot, slot + 16, uint8_t{0xEE});
    ring.AbandonStore();
    EXPECT_FALSE(ring.CommitStore(16, {}));  // nothing is being received any more
    EXPECT_EQ(ring.StoredCount(), 1u);
    EXPECT_EQ(ring.NewestSlot(), 0);
    ASSERT_TRUE(ring.CopyNewest(out.data(), out.size(), layout, nullptr));
    EXPECT_EQ(out, a);
    EXPECT_EQ(ring.Record(1).frameCounter, -1);  // the abandoned slot holds no frame
}

TEST(FrameRing, NothingToReceiveIntoWithoutBuffers) {
    FrameRing ring;
    EXPECT_EQ(ring.BeginStore(), nullptr);
    EXPECT_FALSE(ring.CommitStore(16, {}));
}

// One writer stores numbered frames as fast as it can while one reader takes the newest frame
// the way the driver does (position, copy, mark). The writer stays within a few frames of the
// reader, so no slot is overwritten under a copy: every frame taken must be newer than the last.
TEST(FrameRingStress, ReaderNeverTakesTheSameFrameTwice) {
    FrameRing ring;
    ring.SetSlotCount(8);
    ASSERT_TRUE(ring.Allocate(8, 16));
    constexpr int kFrames = 50000;
    std::atomic<int> delivered{0};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        uint8_t frame[16] = {};
        for (int i = 1; i <= kFrames && !done.load(); ++i) {
            while (i - delivered.load() > 3 && !done.load()) std::this_thread::yield();
            std::memcpy(frame, &i, sizeof i);
            ring.Store(frame, sizeof frame, {.frameCounter = i});
        }
    });
    int last = 0;
    int duplicates = 0;
    const FrameLayout layout = Layout(16, 1, 1, 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (last < kFrames && std::chrono::steady_clock::now() < deadline) {
        if (!ring.HasNewFrame()) {
            std::this_thread::yield();  // leave the cores to suites running beside this one
            continue;
        }
        const FrameRing::Position at = ring.Published();
        uint8_t out[16];
        FrameRecord record;
        const int newest = at.writeIndex == 0 ? ring.SlotCount() - 1 : at.writeIndex - 1;
        const bool copied = ring.CopyOut(newest, out, sizeof out, layout, &record);
        ring.MarkTaken(at.writeIndex, at.storedCount);
        if (!copied) continue;
        if (record.frameCounter <= last) ++duplicates;
        last = std::max(last, record.frameCounter);
        delivered.store(last);
    }
    done = true;
    writer.join();
    EXPECT_EQ(duplicates, 0);
    EXPECT_GT(last, 0);
}

}  // namespace
}  // namespace lumora
