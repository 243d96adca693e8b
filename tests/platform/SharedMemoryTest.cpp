#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#include "platform/Win32Api.h"
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace lumora::platform {
namespace {

#if defined(_WIN32)
// A named mapping goes with its last handle; nothing is left to remove.
class SharedMemoryTest : public ::testing::Test {
protected:
    const std::string name_ =
        "/lumora-shared-memory-test-" + std::to_string(::GetCurrentProcessId());
};
#else
class SharedMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { shm_unlink(name_.c_str()); }
    void TearDown() override { shm_unlink(name_.c_str()); }
    const std::string name_ = "/lumora-shared-memory-test-" + std::to_string(::getpid());
};
#endif

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

#if defined(_WIN32)
// A page-file mapping: it cannot grow, and the system discards it with its last handle, so the
// next holder starts from zeros.
TEST_F(SharedMemoryTest, HoldersSeeOneAnothersBytesAndTheBlockGoesWithTheLast) {
    auto writer = SharedMemory::Open(name_, 4096);
    ASSERT_TRUE(writer);
    for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(writer->Data()[i], 0) << i;
    writer->Data()[63] = 0x5A;
    auto reader = SharedMemory::Open(name_, 64);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Data()[63], 0x5A);
    EXPECT_EQ(SharedMemory::Open(name_, 8192), nullptr);  // larger than the mapping
    writer.reset();
    reader.reset();
    auto later = SharedMemory::Open(name_, 4096);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->Data()[63], 0);
}

// The lock is a named mutex: a holder in another thread (standing for another process, which
// opens the same kernel object) waits until the first lets go.
TEST_F(SharedMemoryTest, TheLockKeepsASecondHolderOutUntilTheFirstLetsGo) {
    auto first = SharedMemory::Open(name_, 64);
    auto second = SharedMemory::Open(name_, 64);
    ASSERT_TRUE(first && second);
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, (name_.substr(1) + "-Lock").c_str());
    ASSERT_NE(mutex, nullptr);
    {
        SharedMemory::Lock lock(*first);
        // Held by this thread: another thread cannot take it.
        DWORD seen = 0;
        HANDLE probe = ::CreateThread(
            nullptr, 0,
            [](LPVOID argument) -> DWORD {
                const DWORD result = ::WaitForSingleObject(static_cast<HANDLE>(argument), 0);
                if (result == WAIT_OBJECT_0) ::ReleaseMutex(static_cast<HANDLE>(argument));
                return result;
            },
            mutex, 0, nullptr);
        ASSERT_NE(probe, nullptr);
        ASSERT_EQ(::WaitForSingleObject(probe, 60000), WAIT_OBJECT_0);
        ::GetExitCodeThread(probe, &seen);
        ::CloseHandle(probe);
        EXPECT_EQ(seen, static_cast<DWORD>(WAIT_TIMEOUT));
    }
    {
        SharedMemory::Lock lock(*second);  // free again
    }
    ::CloseHandle(mutex);
}
// Another process of this program, run for the case below: it attaches to the block the parent
// names, checks the parent's byte, and answers with one of its own. Skipped when run alone.
TEST(SharedMemoryChild, AnswersTheParentThroughTheBlock) {
    char name[256];
    if (::GetEnvironmentVariableA("LUMORA_TEST_SHARED_BLOCK", name, sizeof name) == 0) {
        GTEST_SKIP() << "run by SharedMemoryTest.AnotherProcessSeesTheBlockAndItsAttachment";
    }
    auto block = SharedMemory::Open(name, 64);
    ASSERT_TRUE(block);
    {
        SharedMemory::Lock lock(*block);
        EXPECT_FALSE(block->Attach());  // the parent is attached
    }
    EXPECT_EQ(block->Data()[0], 0x11);
    block->Data()[1] = 0x22;
}

TEST_F(SharedMemoryTest, AnotherProcessSeesTheBlockAndItsAttachment) {
    auto block = SharedMemory::Open(name_, 64);
    ASSERT_TRUE(block);
    {
        SharedMemory::Lock lock(*block);
        EXPECT_TRUE(block->Attach());
    }
    block->Data()[0] = 0x11;

    char program[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameA(nullptr, program, sizeof program), 0u);
    std::string command = std::string("\"") + program +
                          "\" --gtest_filter=SharedMemoryChild.AnswersTheParentThroughTheBlock";
    ASSERT_TRUE(::SetEnvironmentVariableA("LUMORA_TEST_SHARED_BLOCK", name_.c_str()));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    const BOOL started = ::CreateProcessA(program, command.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, nullptr, &startup, &child);
    ::SetEnvironmentVariableA("LUMORA_TEST_SHARED_BLOCK", nullptr);
    ASSERT_TRUE(started) << ::GetLastError();
    ASSERT_EQ(::WaitForSingleObject(child.hProcess, 120000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(child.hProcess, &exitCode);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(block->Data()[1], 0x22);
}
#else
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

#endif

TEST_F(SharedMemoryTest, ANameTheSystemRefusesGivesNoBlock) {
#if defined(_WIN32)
    // Backslashes name kernel namespaces; this one does not exist.
    EXPECT_EQ(SharedMemory::Open("NoSuchNamespace\\block", 64), nullptr);
#else
    EXPECT_EQ(SharedMemory::Open("/no/such/folder", 64), nullptr);
#endif
}

}  // namespace
}  // namespace lumora::platform
