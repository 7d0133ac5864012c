#include "msl/mipc/threadmutex.h"

namespace varn {

ThreadMutex::ThreadMutex() = default;
ThreadMutex::~ThreadMutex() = default;

void ThreadMutex::Lock() {
    mutex.lock();
}
void ThreadMutex::Unlock() {
    mutex.unlock();
}
bool ThreadMutex::TryLock() {
    return mutex.try_lock();
}

} // namespace varn
