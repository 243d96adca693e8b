#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace lumora::platform {
namespace {

TEST(Event, AutoResetIsConsumedByOneWaitAndManualResetStaysSet) {
    Event autoEvent(false, true);
    EXPECT_TRUE(autoEvent.Wait(0));
    EXPECT_FALSE(autoEvent.Wait(0));  // consumed

    Event manual(true, false);
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));  // stays set
    manual.Reset();
    EXPECT_FALSE(manual.Wait(10));
}

TEST(Event, ManualResetReleasesEveryWaiterAndAutoResetOnlyOne) {
    Event manual(true, false);
    Event autoEvent(false, false);
    std::atomic<int> manualWoken{0};
    std::atomic<int> autoWoken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (manual.Wait(5000)) ++manualWoken;
        });
        waiters.emplace_back([&] {
            if (autoEvent.Wait(300)) ++autoWoken;
        });
    }
    manual.Set();
    autoEvent.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(manualWoken.load(), 3);
    EXPECT_EQ(autoWoken.load(), 1);
}

TEST(Event, TimedWaitReturnsFalseWhenNothingArrives) {
    Event event(false, false);
    EXPECT_FALSE(event.Wait(20));
}

TEST(Event, NamedEventsAreSharedByNameWhileHeld) {
    auto first = OpenNamedEvent("thread end", true, false);
    auto second = OpenNamedEvent("thread end", false, true);  // flags of the existing one hold
    ASSERT_EQ(first.get(), second.get());
    EXPECT_TRUE(second->IsManualReset());
    first->Set();
    EXPECT_TRUE(second->Wait(0));
    auto other = OpenNamedEvent("another", false, false);
    EXPECT_NE(other.get(), first.get());
}

TEST(CriticalSection, OwnerMayEnterAgainWhileOthersWait) {
    CriticalSection lock;
    lock.Enter();
    lock.Enter();
    std::atomic<bool> entered{false};
    std::thread other([&] {
        CriticalSectionLock guard(lock);
        entered = true;
    });
    Event never(true, false);
    never.Wait(30);
    EXPECT_FALSE(entered.load());
    lock.Leave();
    never.Wait(10);
    EXPECT_FALSE(entered.load());
    lock.Leave();
    other.join();
    EXPECT_TRUE(entered.load());
}

TEST(Thread, StartsOnceJoinsAndMayEndFromItsOwnBody) {
    Thread thread;
    std::atomic<int> runs{0};
    ASSERT_TRUE(thread.Start([&] { ++runs; }));
    thread.Join();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_FALSE(thread.Joinable());

    Event started(true, false);
    Event release(true, false);
    Thread busy;
    ASSERT_TRUE(busy.Start([&] {
        started.Set();
        release.Wait(kInfinite);
    }));
    started.Wait(kInfinite);
    EXPECT_FALSE(busy.Start([] {}));                 // already running
    busy.SetPriority(ThreadPriority::TimeCritical);  // best effort, must not disturb the thread
    release.Set();
    busy.Join();

    auto selfJoining = std::make_unique<Thread>();
    Event done(true, false);
    Thread* raw = selfJoining.get();
    ASSERT_TRUE(raw->Start([raw, &done] {
        raw->Join();  // must not deadlock or throw
        done.Set();
    }));
    EXPECT_TRUE(done.Wait(5000));
    selfJoining.reset();
}

#if !defined(_WIN32)
// Above normal is a preference, never the whole machine: while as many above-normal threads as
// there are processors stay busy, an ordinary thread (this one) still wakes from its sleeps. A
// real-time policy left it nothing for up to 950 ms of every second, the kernel's throttling
// being all that let it run.
TEST(Thread, BusyThreadsAboveNormalLeaveOrdinaryThreadsTheirTurn) {
    using std::chrono::milliseconds;
    using std::chrono::steady_clock;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::atomic<bool> stop{false};
    std::vector<std::unique_ptr<Thread>> busy;
    // Stops the spinning before `busy` joins it, on every way out (a failed assertion included).
    struct StopOnExit {
        std::atomic<bool>& stop;
        ~StopOnExit() { stop = true; }
    } stopOnExit{stop};
    unsigned raised = 0;
    const auto start = steady_clock::now();
    for (unsigned i = 0; i < cores; ++i) {
        busy.push_back(std::make_unique<Thread>());
        ASSERT_TRUE(busy.back()->Start([&stop, i] {
            // One on each processor, so that nothing is left over for the ordinary thread.
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(i % CPU_SETSIZE, &one);
            pthread_setaffinity_np(pthread_self(), sizeof one, &one);
            while (!stop.load(std::memory_order_relaxed)) {
            }
        }));
        // Raised right after the start, as the driver raises its transfer loop.
        if (busy.back()->SetPriority(i % 2 == 0 ? ThreadPriority::TimeCritical
                                                : ThreadPriority::AboveNormal)) {
            ++raised;
        }
    }
    // Sleeps for longer than the throttling's pause, so that a real-time policy would show as
    // a stall somewhere from the threads' start to the end.
    while (raised == cores && steady_clock::now() - start < milliseconds(300)) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    const auto took = steady_clock::now() - start;
    stop = true;
    for (auto& thread : busy) thread->Join();
    if (raised != cores) GTEST_SKIP() << "this system refused a priority above normal";
    EXPECT_LT(took, milliseconds(450));
}
#endif

// A thread above normal drops to normal for the scope and gets its own priority back after; an
// ordinary thread is left as it is.
TEST(Thread, NormalPriorityScopeLowersOnlyForItsScope) {
    std::atomic<bool> before{false};
    std::atomic<bool> inside{true};
    std::atomic<bool> after{false};
    Event go(true, false);
    Thread raisedThread;
    ASSERT_TRUE(raisedThread.Start([&] {
        go.Wait(kInfinite);
        before = CurrentThreadAboveNormal();
        {
            const NormalPriorityScope ordinary;
            inside = CurrentThreadAboveNormal();
        }
        after = CurrentThreadAboveNormal();
    }));
    const bool raised = raisedThread.SetPriority(ThreadPriority::TimeCritical);
    go.Set();
    raisedThread.Join();
    {
        const NormalPriorityScope ordinary;  // this thread runs at normal priority already
        EXPECT_FALSE(CurrentThreadAboveNormal());
    }
    EXPECT_FALSE(CurrentThreadAboveNormal());
    if (!raised || !before) GTEST_SKIP() << "this system refused a priority above normal";
    EXPECT_FALSE(inside);
    EXPECT_TRUE(after);
}

// Names show in the system's thread lists; a name too long for Linux is shortened, not refused.
TEST(Thread, NamesItselfAndLongNamesAreShortened) {
    EXPECT_FALSE(NameCurrentThread(nullptr));
#if !defined(_WIN32)
    std::string seen;
    std::thread named([&] {
        if (!NameCurrentThread("lumora-a-rather-long-name")) return;
        char name[64] = "";
        pthread_getname_np(pthread_self(), name, sizeof name);
        seen = name;
    });
    named.join();
    EXPECT_EQ(seen, "lumora-a-rather");
#else
    std::thread named([] { NameCurrentThread("lumora-a-rather-long-name"); });  // must not fail
    named.join();
#endif
}

}  // namespace
}  // namespace lumora::platform
