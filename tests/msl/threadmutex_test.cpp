#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mthread.h"
#include "msl/mipc/threadmutex.h"

#include <gtest/gtest.h>

#include <mutex>

namespace {

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
