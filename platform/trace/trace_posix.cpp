#include "platform/trace/tracesink.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace vyx::trace {

long CurrentThreadId() {
    return static_cast<long>(gettid());
}

std::string TimeStamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char date[24];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%s.%06d", date, static_cast<int>(now.tv_nsec / 1000));
    return stamp;
}

void* ThreadState(void* (*make)(), void (*destroy)(void*)) {
    static pthread_key_t key;
    static const bool created = pthread_key_create(&key, destroy) == 0;
    if (!created)
        return nullptr;
    void* state = pthread_getspecific(key);
    if (state == nullptr) {
        // The error being traced is often errno: making the state must not change it.
        const int error = errno;
        state = make();
        pthread_setspecific(key, state);
        errno = error;
    }
    return state;
}

} // namespace vyx::trace
