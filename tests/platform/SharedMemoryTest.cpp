#include "platform/SharedMemory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace lumora::platform {
namespace {

class SharedMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { shm_unlink(name_.c_str()); }
    void TearDown() override { shm_unlink(name_.c_str()); }
    const std::string name_ = "/lumora-shared-memory-test-" + std::to_string(::getpid());
};

// The first holder to attach learns that the contents are left-overs; later ones do not while
// anyone is attached, and the first after the last has gone is told again.
TEST_F(SharedMemoryTest, OnlyAHolderWithNobodyElseAttachedIsToldItIsAlone) {
    auto first = SharedMemory::Open(name_, 100);
    auto second = SharedMemory::Open(name_, 100);
    ASSERT_TRUE(first && second);
    {
        SharedMemory::Lock lock(*first);
        EXPECT_TRUE(first->Attach());
    }
    {
        SharedMemory::Lock lock(*second);
        EXPECT_FALSE(second->Attach());
    }
    first.reset();
    auto third = SharedMemory::Open(name_, 100);
    ASSERT_TRUE(third);
    EXPECT_FALSE(third->Attach());  // the second is still attached
    second.reset();
    third.reset();
    auto fourth = SharedMemory::Open(name_, 100);
    ASSERT_TRUE(fourth);
    EXPECT_TRUE(fourth->Attach());
}

TEST_F(SharedMemoryTest, HoldersSeeOneAnothersBytesAndTheBlockOutlivesThem) {
    auto writer = SharedMemory::Open(name_, 64);
    ASSERT_TRUE(writer);
    ASSERT_EQ(writer->Size(), 64u);
    for (size_t i = 0; i < 64; ++i) EXPECT_EQ(writer->Data()[i], 0) << i;  // created zero-filled
    writer->Data()[63] = 0x5A;
    // A holder asking for more grows the block; what was there stays.
    auto reader = SharedMemory::Open(name_, 4096);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Data()[63], 0x5A);
    reader->Data()[4095] = 0xA5;
    writer.reset();
    reader.reset();
    auto later = SharedMemory::Open(name_, 4096);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->Data()[63], 0x5A);
    EXPECT_EQ(later->Data()[4095], 0xA5);
}

TEST_F(SharedMemoryTest, ANameTheSystemRefusesGivesNoBlock) {
    EXPECT_EQ(SharedMemory::Open("/no/such/folder", 64), nullptr);
}

}  // namespace
}  // namespace lumora::platform
