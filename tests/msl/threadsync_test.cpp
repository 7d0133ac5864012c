// Locks and events between the threads of one process.
#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mstopwatch.h"
#include "msl/mipc/threadmutex.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

TEST(ThreadMutexConcurrency, RecursiveForTheOwnerExclusiveForOthers) {
    varn::ThreadMutex mutex;
    varn::Lockable& lock = mutex;
    auto tryFromOtherThread = [&] {
        bool took = false;
        std::thread([&] {
            took = lock.TryLock();
            if (took)
                lock.Unlock();
        }).join();
        return took;
    };
    lock.Lock();
    EXPECT_TRUE(lock.TryLock()); // the owner enters again
    lock.Unlock();
    EXPECT_FALSE(tryFromOtherThread()); // still held once
    lock.Unlock();
    EXPECT_TRUE(tryFromOtherThread());

    // Another thread takes it through the standard names and keeps it until it ends.
    MManualResetEvent taken, release;
    std::thread holder([&] {
        std::lock_guard<varn::Lockable> guard(mutex);
        taken.Set();
        release.Wait(MManualResetEvent::Infinite);
    });
    ASSERT_TRUE(taken.Wait(30000));
    EXPECT_FALSE(lock.TryLock());
    release.Set();
    holder.join();
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();
}

TEST(ManualResetEventConcurrency, StaysSetUntilResetAndReleasesEveryWaiter) {
    MManualResetEvent event;
    EXPECT_FALSE(event.IsSet());
    MStopwatch watch;
    EXPECT_FALSE(event.Wait(30));
    EXPECT_GE(watch.Elapsed(), 0.030); // the time-out is not cut short
    std::vector<std::thread> waiters;
    int released[8] = {};
    for (int& slot : released)
        waiters.emplace_back([&] { slot = event.Wait(MManualResetEvent::Infinite); });
    event.Set();
    for (std::thread& waiter : waiters)
        waiter.join();
    for (int r : released)
        EXPECT_EQ(r, 1);
    EXPECT_TRUE(event.Wait(0)); // still set: manual reset
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(MManualResetEvent(true).Wait(0));
}

// The autoinfo wake-up loop: wait with the interval as time-out, count each time-out as one
// wake-up, and end when the event is set.
TEST(ManualResetEventConcurrency, WakeUpLoopEndsWhenSet) {
    MManualResetEvent stop, thirdWakeUp;
    int wakeUps = 0;
    std::thread loop([&] {
        while (!stop.Wait(10))
            if (++wakeUps == 3)
                thirdWakeUp.Set();
    });
    ASSERT_TRUE(thirdWakeUp.Wait(30000));
    stop.Set();
    loop.join();
    EXPECT_GE(wakeUps, 3);
}
