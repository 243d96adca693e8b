#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "api/CSdkChain.h"
#include "api/CTRing.h"
#include "lumora/host.h"
#include "lumora/lumora.h"

namespace lumora {
namespace {

// A registered session without a camera: the registry's behaviour does not depend on what a
// session does, and bare sessions keep these tests fast.
int NewSession() {
    return CSdkChain::Instance().CreateSession([] { return std::make_shared<CLumora>(); });
}

struct Keyed {
    int key;
    int tag;
};

std::vector<int> TagsFromHead(CTRing<Keyed>& ring) {
    std::vector<int> tags;
    auto* node = ring.Head();
    for (int i = 0; node != nullptr && i < ring.Count(); ++i, node = node->next) {
        tags.push_back(node->value.tag);
    }
    return tags;
}

TEST(Ring, InsertPutsTheNewNodeInFrontAndKeepsTheLastNodeLast) {
    CTRing<Keyed> ring;
    ring.Insert({1, 1});
    ring.Insert({2, 2});
    ring.Insert({3, 3});
    EXPECT_EQ(ring.Count(), 3);
    EXPECT_EQ(TagsFromHead(ring), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(ring.Head()->prev->value.tag, 1);
}

TEST(Ring, FindVisitsEveryNodeOnceEvenWhenKeysRepeat) {
    CTRing<Keyed> ring;
    ring.Insert({7, 1});
    ring.Insert({5, 2});
    ring.Insert({7, 3});  // same key as the last node: must not end the search early
    ring.Insert({9, 4});
    auto byKey = [](int key) { return [key](const Keyed& k) { return k.key == key; }; };
    ASSERT_TRUE(ring.Find(byKey(5)));
    EXPECT_EQ(ring.Head()->value.tag, 2);
    ASSERT_TRUE(ring.Find(byKey(9)));
    EXPECT_EQ(ring.Head()->value.tag, 4);
    EXPECT_FALSE(ring.Find(byKey(42)));
    EXPECT_EQ(ring.Head()->value.tag, 4);  // a miss leaves the cursor where it was
}

TEST(Ring, RemoveHeadUnlinksAndEmptiesCleanly) {
    CTRing<Keyed> ring;
    EXPECT_FALSE(ring.RemoveHead());
    ring.Insert({1, 1});
    ring.Insert({2, 2});
    ASSERT_TRUE(ring.RemoveHead());
    EXPECT_EQ(ring.Count(), 1);
    EXPECT_EQ(ring.Head()->next, ring.Head());
    EXPECT_EQ(ring.Head()->prev, ring.Head());
    ASSERT_TRUE(ring.RemoveHead());
    EXPECT_EQ(ring.Head(), nullptr);
    EXPECT_EQ(ring.Count(), 0);
}

TEST(Registry, UnknownHandlesGiveFailureValuesAndTouchNothing) {
    EXPECT_EQ(Lumora_Release(0), 0);
    EXPECT_EQ(Lumora_Release(12345), 0);
    EXPECT_EQ(Lumora_GetLastError(0), 0);
    EXPECT_EQ(Lumora_GetStatus(-1), 0);
    EXPECT_EQ(CSdkChain::Instance().Lookup(0), nullptr);
}

TEST(Registry, TwoSessionsResolveAlternatelyAndSurviveEachOthersRelease) {
    const int32_t before = CSdkChain::Instance().Size();
    const int a = Lumora_Initialize(nullptr);
    const int b = Lumora_Initialize(nullptr);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    ASSERT_NE(a, b);
    auto sessionA = CSdkChain::Instance().Lookup(a);
    auto sessionB = CSdkChain::Instance().Lookup(b);
    ASSERT_NE(sessionA, nullptr);
    ASSERT_NE(sessionB, nullptr);
    EXPECT_NE(sessionA, sessionB);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(CSdkChain::Instance().Lookup(i % 2 ? a : b), i % 2 ? sessionA : sessionB);
    }
    sessionA->RecordError(ERR_DEVICE);
    EXPECT_EQ(Lumora_GetLastError(b), ERR_NONE);
    EXPECT_EQ(Lumora_GetLastError(a), ERR_DEVICE);

    EXPECT_EQ(Lumora_Release(a), 1);
    EXPECT_EQ(Lumora_Release(a), 0);  // twice
    EXPECT_EQ(CSdkChain::Instance().Lookup(a), nullptr);
    EXPECT_EQ(CSdkChain::Instance().Lookup(b), sessionB);
    EXPECT_EQ(CSdkChain::Instance().Size(), before + 1);
    EXPECT_EQ(Lumora_Release(b), 1);
    EXPECT_EQ(CSdkChain::Instance().Size(), before);
}

TEST(Registry, ManySessionsGetDistinctNonzeroHandles) {
    std::set<int> handles;
    for (int i = 0; i < 200; ++i) {
        const int handle = NewSession();
        ASSERT_NE(handle, 0);
        EXPECT_TRUE(handles.insert(handle).second);
    }
    for (int handle : handles) EXPECT_NE(CSdkChain::Instance().Lookup(handle), nullptr);
    for (int handle : handles) EXPECT_EQ(Lumora_Release(handle), 1);
    for (int handle : handles) EXPECT_EQ(CSdkChain::Instance().Lookup(handle), nullptr);
}

TEST(Registry, ConcurrentCreationLookupAndReleaseKeepTheRingConsistent) {
    const int32_t before = CSdkChain::Instance().Size();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                const int handle = NewSession();
                if (handle == 0 || CSdkChain::Instance().Lookup(handle) == nullptr) ++failures;
                Lumora_GetLastError(handle);
                if (Lumora_Release(handle) != 1) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(CSdkChain::Instance().Size(), before);
}

TEST(Registry, ReleaseWhileAnotherThreadHoldsTheSessionDefersTheTeardown) {
    const int handle = NewSession();
    auto held = CSdkChain::Instance().Lookup(handle);  // as an export running on another thread
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(Lumora_Release(handle), 1);
    held->RecordError(ERR_IO);  // still a live object
    EXPECT_EQ(held->GetLastError(), ERR_IO);
    EXPECT_EQ(CSdkChain::Instance().Lookup(handle), nullptr);
}

TEST(Exports, VersionNeedsNoHandle) {
    EXPECT_EQ(Lumora_GetDllVersion(), 36111649);
}

}  // namespace
}  // namespace lumora
