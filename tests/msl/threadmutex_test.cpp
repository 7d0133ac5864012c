#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mthread.h"
#include "msl/mipc/threadmutex.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace {

struct Shared {
    varn::ThreadMutex mutex;
    long counter = 0;
};

std::uint32_t TryFromOtherThread(void* mutex) {
    return static_cast<varn::Lockable*>(mutex)->TryLock() ? 1 : 0;
}

} // namespace

TEST(ThreadMutexConcurrency, RecursiveForTheOwnerExclusiveForOthers) {
    varn::ThreadMutex mutex;
    varn::Lockable& lock = mutex;
    lock.Lock();
    EXPECT_TRUE(lock.TryLock()); // the owner enters again
    lock.Unlock();
    std::uint32_t took = 2;
    ASSERT_EQ(MThread_Join(MThread_Create(TryFromOtherThread, &mutex), &took), 1);
    EXPECT_EQ(took, 0u); // still held once
    lock.Unlock();

    // Free now: another thread takes it and keeps it until it ends.
    MManualResetEvent taken, release;
    struct Holder {
        varn::ThreadMutex* mutex;
        MManualResetEvent* taken;
        MManualResetEvent* release;
    } holder{&mutex, &taken, &release};
    int thread = MThread_Create(
        [](void* argument) -> std::uint32_t {
            auto* h = static_cast<Holder*>(argument);
            std::lock_guard<varn::Lockable> guard(*h->mutex);
            h->taken->Set();
            h->release->Wait(MManualResetEvent::Infinite);
            return 0;
        },
        &holder);
    ASSERT_TRUE(taken.Wait(30000));
    EXPECT_FALSE(lock.TryLock());
    release.Set();
    ASSERT_EQ(MThread_Join(thread), 1);
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();
}

TEST(ThreadMutexConcurrency, SerialisesIncrements) {
    Shared shared;
    std::vector<int> threads;
    for (int i = 0; i < 4; ++i)
        threads.push_back(MThread_Create(
            [](void* argument) -> std::uint32_t {
                auto* s = static_cast<Shared*>(argument);
                for (int n = 0; n < 20000; ++n) {
                    std::lock_guard<varn::Lockable> guard(s->mutex);
                    ++s->counter;
                }
                return 0;
            },
            &shared));
    for (int thread : threads)
        ASSERT_EQ(MThread_Join(thread), 1);
    EXPECT_EQ(shared.counter, 4 * 20000);
}
