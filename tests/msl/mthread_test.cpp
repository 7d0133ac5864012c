#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mthread.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sched.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

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
    std::atomic<int> policy{-1};
    MManualResetEvent started;
    MManualResetEvent release;
};

std::uint32_t RecordSelf(void* argument) {
    auto* probe = static_cast<Probe*>(argument);
    probe->tid = static_cast<int>(gettid());
    probe->policy = sched_getscheduler(0);
    probe->started.Set();
    return probe->release.Wait(kGenerousMs) ? 7 : 99;
}

std::string NotInList(int thread) {
    return "MThread_Join(): thread " + std::to_string(thread) + " not in list";
}

} // namespace

TEST(ThreadConcurrency, JoinHandsOutEveryExitCode) {
    for (std::uint32_t code : {0u, 1u, 259u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        int thread = MThread_Create(ReturnArgument, AsArgument(code));
        ASSERT_GT(thread, 0);
        std::uint32_t exitCode = 12345;
        ASSERT_EQ(MThread_Join(thread, &exitCode), 1);
        EXPECT_EQ(exitCode, code);
    }
    int thread = MThread_Create(ReturnArgument, AsArgument(3));
    EXPECT_EQ(MThread_Join(thread), 1); // without an exit code
}

TEST(ThreadConcurrency, RunsAtIdlePriorityUnderItsSystemThreadId) {
    Probe probe;
    int thread = MThread_Create(RecordSelf, &probe);
    ASSERT_GT(thread, 0);
    ASSERT_TRUE(probe.started.Wait(kGenerousMs));
    EXPECT_EQ(probe.tid, thread);
    EXPECT_EQ(probe.policy, SCHED_IDLE);
    EXPECT_NE(thread, static_cast<int>(gettid()));
    probe.release.Set();
    std::uint32_t exitCode = 0;
    ASSERT_EQ(MThread_Join(thread, &exitCode), 1);
    EXPECT_EQ(exitCode, 7u);
}

TEST(ThreadConcurrency, JoiningTwiceOrAnUnknownNumberFails) {
    vyx::trace::TraceCapture capture;
    int thread = MThread_Create(ReturnArgument, AsArgument(5));
    ASSERT_EQ(MThread_Join(thread), 1);
    std::uint32_t exitCode = 77;
    EXPECT_EQ(MThread_Join(thread, &exitCode), 0);
    EXPECT_EQ(exitCode, 77u);
    EXPECT_EQ(MThread_Join(0x7FFFFFF0), 0);
    EXPECT_EQ(capture.ErrTrace(),
              (std::vector<std::string>{NotInList(thread), NotInList(0x7FFFFFF0)}));
    EXPECT_EQ(MThread_DuplicateWindowsHandle(thread), MTHREAD_INVALID_HANDLE);
    EXPECT_EQ(capture.ErrTrace().size(), 2u); // an unknown thread is no failure to duplicate
}

TEST(ThreadConcurrency, ThreadCannotJoinItself) {
    struct Self {
        MManualResetEvent numberKnown;
        int number = 0;
        int result = -1;
        std::vector<std::string> messages;
    } self;
    int thread = MThread_Create(
        [](void* argument) -> std::uint32_t {
            auto* s = static_cast<Self*>(argument);
            s->numberKnown.Wait(MManualResetEvent::Infinite);
            vyx::trace::TraceCapture capture;
            s->result = MThread_Join(s->number);
            s->messages = capture.ErrTrace();
            return 0;
        },
        &self);
    self.number = thread;
    self.numberKnown.Set();
    ASSERT_EQ(MThread_Join(thread), 1);
    EXPECT_EQ(self.result, 0);
    EXPECT_EQ(self.messages, std::vector<std::string>{"MThread_Join(): failed to join thread: " +
                                                      std::to_string(EDEADLK)});
}

// A handle stays usable after the registry entry is gone, and a time-out does not end the wait
// for good.
TEST(ThreadConcurrency, DuplicatedHandleOutlivesTheJoin) {
    Probe probe;
    int thread = MThread_Create(RecordSelf, &probe);
    MThreadHandle handle = MThread_DuplicateWindowsHandle(thread);
    ASSERT_NE(handle, MTHREAD_INVALID_HANDLE);
    std::uint32_t exitCode = 0;
    EXPECT_EQ(MThread_WaitHandle(handle, 0), 0);
    EXPECT_EQ(MThread_WaitHandle(handle, 20), 0);
    EXPECT_FALSE(MThread_GetHandleExitCode(handle, &exitCode));
    probe.release.Set();
    EXPECT_EQ(MThread_WaitHandle(handle, MTHREAD_INFINITE), 1);
    ASSERT_TRUE(MThread_GetHandleExitCode(handle, &exitCode));
    EXPECT_EQ(exitCode, 7u);
    ASSERT_EQ(MThread_Join(thread, &exitCode), 1);
    EXPECT_EQ(MThread_WaitHandle(handle, 0), 1);
    EXPECT_TRUE(MThread_CloseHandle(handle));
    EXPECT_FALSE(MThread_CloseHandle(MTHREAD_INVALID_HANDLE));
    EXPECT_EQ(MThread_WaitHandle(MTHREAD_INVALID_HANDLE, 0), -1);
}

// Many threads at once, created and joined from several threads: every number is distinct and
// the registry ends as it began.
TEST(ThreadConcurrency, RegistryAfterManyThreads) {
    const int before = MThread_GetRegisteredCount();
    constexpr int kCreators = 4, kPerCreator = 40;
    MManualResetEvent release;
    std::vector<int> numbers(kCreators * kPerCreator, -1);
    struct Creator {
        MManualResetEvent* release;
        int* numbers;
    };
    std::vector<Creator> creators;
    for (int c = 0; c < kCreators; ++c)
        creators.push_back({&release, numbers.data() + c * kPerCreator});
    std::vector<int> creatorThreads;
    for (Creator& creator : creators)
        creatorThreads.push_back(MThread_Create(
            [](void* argument) -> std::uint32_t {
                auto* c = static_cast<Creator*>(argument);
                for (int i = 0; i < kPerCreator; ++i)
                    c->numbers[i] = MThread_Create(
                        [](void* r) -> std::uint32_t {
                            return static_cast<MManualResetEvent*>(r)->Wait(kGenerousMs) ? 1 : 0;
                        },
                        c->release);
                return 0;
            },
            &creator));
    for (int thread : creatorThreads)
        ASSERT_EQ(MThread_Join(thread), 1);
    EXPECT_EQ(MThread_GetRegisteredCount(), before + kCreators * kPerCreator);
    std::vector<int> sorted = numbers;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_GT(sorted.front(), 0);
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());

    release.Set();
    for (int thread : numbers) {
        std::uint32_t exitCode = 0;
        ASSERT_EQ(MThread_Join(thread, &exitCode), 1);
        EXPECT_EQ(exitCode, 1u);
    }
    EXPECT_EQ(MThread_GetRegisteredCount(), before);
}

// Two joiners of one thread: the one that finds it gets the exit code; the other either finds
// it too or reports it as gone, never waits forever.
TEST(ThreadConcurrency, ConcurrentJoinersOfOneThread) {
    Probe probe;
    int thread = MThread_Create(RecordSelf, &probe);
    struct Joiner {
        int thread;
        std::uint32_t exitCode = 0;
    } joiner{thread};
    int other = MThread_Create(
        [](void* argument) -> std::uint32_t {
            auto* j = static_cast<Joiner*>(argument);
            return static_cast<std::uint32_t>(MThread_Join(j->thread, &j->exitCode));
        },
        &joiner);
    probe.release.Set();
    std::uint32_t mine = 0, theirs = 0;
    int result = MThread_Join(thread, &mine);
    ASSERT_EQ(MThread_Join(other, &theirs), 1);
    EXPECT_GE(result + static_cast<int>(theirs), 1);
    if (result == 1) {
        EXPECT_EQ(mine, 7u);
    }
    if (theirs == 1) {
        EXPECT_EQ(joiner.exitCode, 7u);
    }
    EXPECT_EQ(MThread_DuplicateWindowsHandle(thread), MTHREAD_INVALID_HANDLE);
}
