#include "msl/mipc/mthread_os.h"

#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

static_assert(sizeof(pthread_t) <= sizeof(MThreadOsId), "pthread_t must fit the thread id");

namespace {

MThreadOsId ToId(pthread_t thread) {
    MThreadOsId id = 0;
    std::memcpy(&id, &thread, sizeof thread);
    return id;
}

pthread_t FromId(MThreadOsId id) {
    pthread_t thread;
    std::memcpy(&thread, &id, sizeof thread);
    return thread;
}

extern "C" void* Trampoline(void* startBlock) {
    mthread_run(startBlock);
    return nullptr;
}

} // namespace

bool mthread_os_start(void* startBlock, MThreadOsId* thread, int* error) {
    pthread_t started;
    int rc = pthread_create(&started, nullptr, Trampoline, startBlock);
    if (rc != 0) {
        *error = rc;
        return false;
    }
    *thread = ToId(started);
    return true;
}

int mthread_os_join(MThreadOsId thread) {
    return pthread_join(FromId(thread), nullptr);
}

void mthread_os_detach(MThreadOsId thread) {
    pthread_detach(FromId(thread));
}

int mthread_os_current_number() {
    return static_cast<int>(gettid());
}

int mthread_os_set_idle_priority() {
    sched_param param{};
    param.sched_priority = 0;
    return pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
}
