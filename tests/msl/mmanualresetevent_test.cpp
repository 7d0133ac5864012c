#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mstopwatch.h"
#include "msl/mipc/mthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {
constexpr std::uint32_t kGenerousMs = 30000;
}

TEST(ManualResetEventConcurrency, StaysSetUntilReset) {
    MManualResetEvent event;
    EXPECT_FALSE(event.IsSet());
    MStopwatch watch;
    EXPECT_FALSE(event.Wait(30));
    EXPECT_GE(watch.Elapsed(), 0.030); // the time-out is not cut short
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(MManualResetEvent::Infinite)); // still set: manual reset
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(MManualResetEvent(true).Wait(0));
}

TEST(ManualResetEventConcurrency, OneSetReleasesEveryWaiter) {
    MManualResetEvent event;
    std::vector<int> threads;
    for (int i = 0; i < 8; ++i)
        threads.push_back(MThread_Create(
            [](void* e) -> std::uint32_t {
                return static_cast<MManualResetEvent*>(e)->Wait(MManualResetEvent::Infinite);
            },
            &event));
    event.Set();
    for (int thread : threads) {
        std::uint32_t released = 0;
        ASSERT_EQ(MThread_Join(thread, &released), 1);
        EXPECT_EQ(released, 1u);
    }
}

// The autoinfo wake-up loop: wait with the interval as time-out, count each time-out as one
// wake-up, and end when the event is set.
TEST(ManualResetEventConcurrency, WakeUpLoopEndsWhenSet) {
    struct Context {
        MManualResetEvent stop;
        std::atomic<int> wakeUps{0};
        MManualResetEvent thirdWakeUp;
    } context;
    int thread = MThread_Create(
        [](void* argument) -> std::uint32_t {
            auto* c = static_cast<Context*>(argument);
            while (!c->stop.Wait(10))
                if (++c->wakeUps == 3)
                    c->thirdWakeUp.Set();
            return 0;
        },
        &context);
    ASSERT_TRUE(context.thirdWakeUp.Wait(kGenerousMs));
    context.stop.Set();
    ASSERT_EQ(MThread_Join(thread), 1);
    int counted = context.wakeUps;
    EXPECT_GE(counted, 3);
}
