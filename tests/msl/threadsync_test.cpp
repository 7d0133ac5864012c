// Threads, events and timing within one process. (ThreadMutex is std::recursive_mutex
// behind the Lockable interface: nothing of its own to test.)
#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mstopwatch.h"
#include "msl/mipc/mthread.h"
#include "msl/mutil/msleep.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

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

namespace {

// What a thread saw about itself: the system's number of the thread, and whether it runs at
// idle priority.
struct Seen {
    int tid = 0;
    bool idle = false;
};

std::uint32_t RecordSelf(void* argument) {
    auto* seen = static_cast<Seen*>(argument);
#if defined(_WIN32)
    seen->tid = static_cast<int>(GetCurrentThreadId());
    seen->idle = GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_IDLE;
#else
    seen->tid = static_cast<int>(gettid());
    seen->idle = sched_getscheduler(0) == SCHED_IDLE;
#endif
    return 7;
}

// Threads stay alive until this is set, so that none of their numbers is reused meanwhile.
MManualResetEvent release;

std::uint32_t ReturnArgumentWhenReleased(void* argument) {
    release.Wait(MManualResetEvent::Infinite);
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(argument));
}

} // namespace

// A thread runs at idle priority under its system thread id; with many threads registered at
// once, each exit code is handed out once.
TEST(ThreadConcurrency, IdentityPriorityAndExitCodes) {
    Seen seen;
    int self = MThread_Create(RecordSelf, &seen);
    ASSERT_GT(self, 0);
    std::uint32_t selfCode = 0;
    ASSERT_EQ(MThread_Join(self, &selfCode), 1);
    EXPECT_EQ(selfCode, 7u);
    EXPECT_EQ(seen.tid, self);
    EXPECT_TRUE(seen.idle);

    std::vector<std::uint32_t> codes = {0u, 1u, 259u, 0x7FFFFFFFu, 0xFFFFFFFFu};
    for (std::uint32_t i = 0; i < 40; ++i)
        codes.push_back(1000 + i);
    std::vector<int> threads;
    for (std::uint32_t code : codes)
        threads.push_back(MThread_Create(ReturnArgumentWhenReleased,
                                         reinterpret_cast<void*>(std::uintptr_t{code})));
    release.Set();
    for (std::size_t i = 0; i < codes.size(); ++i) {
        std::uint32_t exitCode = 12345;
        ASSERT_EQ(MThread_Join(threads[i], &exitCode), 1) << i;
        EXPECT_EQ(exitCode, codes[i]);
    }
    vyx::trace::TraceCapture capture;
    int thread = MThread_Create(ReturnArgumentWhenReleased, nullptr);
    ASSERT_EQ(MThread_Join(thread), 1); // without an exit code
    std::uint32_t exitCode = 77;
    EXPECT_EQ(MThread_Join(thread, &exitCode), 0);
    EXPECT_EQ(exitCode, 77u);
    EXPECT_EQ(MThread_Join(0x7FFFFFF0), 0);
    EXPECT_EQ(capture.ErrTrace(),
              (std::vector<std::string>{"MThread_Join(): thread " + std::to_string(thread) +
                                            " not in list",
                                        "MThread_Join(): thread 2147483632 not in list"}));
}
