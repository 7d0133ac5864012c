#pragma once
// Mutex between the threads of one process. Recursive: the owning thread may lock it again and
// must unlock it as often.

#include "msl/mipc/lockable.h"

#include <mutex>

namespace varn {

class ThreadMutex : public Lockable {
public:
    ThreadMutex();
    ~ThreadMutex() override;
    ThreadMutex(const ThreadMutex&) = delete;
    ThreadMutex& operator=(const ThreadMutex&) = delete;

    void Lock() override;
    void Unlock() override;
    bool TryLock() override;

private:
    std::recursive_mutex mutex;
};

} // namespace varn
