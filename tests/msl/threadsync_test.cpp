// Events and timing between the threads of one process. (ThreadMutex is std::recursive_mutex
// behind the Lockable interface: nothing of its own to test.)
#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mstopwatch.h"
#include "msl/mutil/msleep.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

TEST(ManualResetEventConcurrency, StaysSetUntilResetAndReleasesEveryWaiter) {
    MManualResetEvent event;
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
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(MManualResetEvent(true).Wait(0));
}

// Only lower bounds: a loaded machine may take longer, never shorter.
TEST(MStopwatch, MeasuresSleepsAndRestarts) {
    MStopwatch watch;
    ASSERT_EQ(msleep_sec(0.05), 0);
    double first = watch.Elapsed();
    EXPECT_GE(first, 0.05);
    double restarted = watch.Restart();
    EXPECT_GE(restarted, first);
    EXPECT_LT(watch.Elapsed(), restarted) << "counts from the new start";
    ASSERT_EQ(msleep_sec(0.0015), 0); // truncated to 1 ms, not to nothing
    EXPECT_GE(watch.Elapsed(), 0.001);

    vyx::trace::TraceCapture capture;
    EXPECT_EQ(msleep_sec(0), 0);
    for (double bad : {-0.001, 2678400.5, std::nan(""), double(INFINITY)})
        EXPECT_EQ(msleep_sec(bad), -1) << bad;
    EXPECT_EQ(capture.ErrTrace(), std::vector<std::string>(4, "msleep_sec(): invalid argument"));
}
