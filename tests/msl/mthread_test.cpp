#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mthread.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

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

std::string NotInList(int thread) {
    return "MThread_Join(): thread " + std::to_string(thread) + " not in list";
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
              (std::vector<std::string>{NotInList(thread), NotInList(0x7FFFFFF0)}));
}
