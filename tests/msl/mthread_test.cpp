#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mthread.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace {

// The system's number of the calling thread, and whether it runs at idle priority.
#if defined(_WIN32)
int SystemThreadNumber() {
    return static_cast<int>(GetCurrentThreadId());
}
bool RunsAtIdlePriority() {
    return GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_IDLE;
}
#else
int SystemThreadNumber() {
    return static_cast<int>(gettid());
}
bool RunsAtIdlePriority() {
    return sched_getscheduler(0) == SCHED_IDLE;
}
#endif

using Lines = std::vector<std::string>;
constexpr std::uint32_t kGenerousMs = 30000;

std::uint32_t ReturnArgument(void* argument) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(argument));
}

void* AsArgument(std::uint32_t value) {
    return reinterpret_cast<void*>(std::uintptr_t{value});
}

// What a thread saw about itself, reported before it waits for `release`.
struct Probe {
    std::atomic<int> tid{0};
    std::atomic<bool> idle{false};
    MManualResetEvent started;
    MManualResetEvent release;
};

std::uint32_t RecordSelf(void* argument) {
    auto* probe = static_cast<Probe*>(argument);
    probe->tid = SystemThreadNumber();
    probe->idle = RunsAtIdlePriority();
    probe->started.Set();
    return probe->release.Wait(kGenerousMs) ? 7 : 99;
}

std::string NotInList(int thread) {
    return "MThread_Join(): thread " + std::to_string(thread) + " not in list";
}

} // namespace

TEST(ThreadConcurrency, JoinHandsOutEveryExitCodeOnce) {
    for (std::uint32_t code : {0u, 1u, 259u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        int thread = MThread_Create(ReturnArgument, AsArgument(code));
        ASSERT_GT(thread, 0);
        std::uint32_t exitCode = 12345;
        ASSERT_EQ(MThread_Join(thread, &exitCode), 1);
        EXPECT_EQ(exitCode, code);
    }
    vyx::trace::TraceCapture capture;
    int thread = MThread_Create(ReturnArgument, AsArgument(5));
    ASSERT_EQ(MThread_Join(thread), 1); // without an exit code
    std::uint32_t exitCode = 77;
    EXPECT_EQ(MThread_Join(thread, &exitCode), 0);
    EXPECT_EQ(exitCode, 77u);
    EXPECT_EQ(MThread_Join(0x7FFFFFF0), 0);
    EXPECT_EQ(capture.ErrTrace(), (Lines{NotInList(thread), NotInList(0x7FFFFFF0)}));
}

// The thread runs at idle priority under its system thread id.
TEST(ThreadConcurrency, IdentityAndPriority) {
    Probe probe;
    int thread = MThread_Create(RecordSelf, &probe);
    ASSERT_GT(thread, 0);
    ASSERT_TRUE(probe.started.Wait(kGenerousMs));
    EXPECT_EQ(probe.tid, thread);
    EXPECT_TRUE(probe.idle);
    probe.release.Set();
    std::uint32_t exitCode = 0;
    ASSERT_EQ(MThread_Join(thread, &exitCode), 1);
    EXPECT_EQ(exitCode, 7u);
}

// Many threads at once: each is registered until it is joined, and the registry ends as it
// began.
TEST(ThreadConcurrency, RegistryAfterManyThreads) {
    const int before = MThread_GetRegisteredCount();
    MManualResetEvent release;
    std::vector<int> numbers;
    for (int i = 0; i < 40; ++i)
        numbers.push_back(MThread_Create(
            [](void* r) -> std::uint32_t {
                return static_cast<MManualResetEvent*>(r)->Wait(kGenerousMs) ? 1 : 0;
            },
            &release));
    EXPECT_EQ(MThread_GetRegisteredCount(), before + 40);
    release.Set();
    for (int thread : numbers) {
        std::uint32_t exitCode = 0;
        ASSERT_EQ(MThread_Join(thread, &exitCode), 1);
        EXPECT_EQ(exitCode, 1u);
    }
    EXPECT_EQ(MThread_GetRegisteredCount(), before);
}
