#include "msl/mipc/mthread.h"
#include "platform/trace/immortal.h"

#include "msl/mipc/mthread_os.h"
#include "msl/mipc/threadmutex.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace {

// What the thread and every handle of it share. The thread itself holds a reference until it
// has stored its exit code, so a record outlives its last handle while the thread runs.
struct ThreadRecord {
    enum class Join { No, Running, Done };

    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false; // the function has returned
    std::uint32_t exitCode = 0;
    Join join = Join::No; // whether the system thread has been joined
    MThreadOsId os = 0;
    int number = 0;

    ~ThreadRecord() {
        // Nobody waited for it: the system frees the thread when it ends.
        if (join != Join::Done)
            mthread_os_detach(os);
    }
};

} // namespace

// A handle is one reference to the record.
struct MThreadHandleT {
    std::shared_ptr<ThreadRecord> record;
};

namespace {

// Everything a new thread needs until it has handed back its number. Lives on the creator's
// stack; the thread stops touching it once `handedBack` is set.
struct StartBlock {
    MThreadFunction function = nullptr;
    void* argument = nullptr;
    std::shared_ptr<ThreadRecord> record;
    std::mutex mutex;
    std::condition_variable changed;
    bool handedBack = false;
    int number = 0;
    int priorityError = 0;
};

struct Registry {
    varn::ThreadMutex lock;
    std::map<std::uint32_t, MThreadHandle> threads;
};

// Created on first use and never destroyed, so that threads still running at process exit
// never meet a destroyed registry.
Registry& TheRegistry() {
    return Immortal<Registry>();
}

bool IsValid(MThreadHandle handle) {
    return handle != nullptr && handle != MTHREAD_INVALID_HANDLE;
}

// Waits until the record's thread has ended and the system thread is joined, so that nothing
// of the thread runs any more when this answers 1. 0 on time-out, -1 with `*error` on failure.
int WaitForRecord(ThreadRecord& record, std::uint32_t timeoutMs, int* error) {
    std::unique_lock<std::mutex> lock(record.mutex);
    if (!record.finished && record.number == mthread_os_current_number()) {
        *error = EDEADLK;
        return -1;
    }
    auto finished = [&record] { return record.finished; };
    if (timeoutMs == MTHREAD_INFINITE)
        record.changed.wait(lock, finished);
    else if (!record.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), finished))
        return 0;
    // The function has returned; the system thread is at most tidying up. The first waiter
    // joins it, the others wait for that join.
    for (;;) {
        if (record.join == ThreadRecord::Join::Done)
            return 1;
        if (record.join == ThreadRecord::Join::No) {
            record.join = ThreadRecord::Join::Running;
            lock.unlock();
            int rc = mthread_os_join(record.os);
            lock.lock();
            record.join = rc == 0 ? ThreadRecord::Join::Done : ThreadRecord::Join::No;
            record.changed.notify_all();
            if (rc != 0) {
                *error = rc;
                return -1;
            }
            return 1;
        }
        record.changed.wait(lock);
    }
}

MThreadHandle NewHandle(std::shared_ptr<ThreadRecord> record) {
    auto* handle = new (std::nothrow) MThreadHandleT;
    if (handle != nullptr)
        handle->record = std::move(record);
    return handle;
}

} // namespace

void mthread_run(void* startBlock) {
    auto* start = static_cast<StartBlock*>(startBlock);
    MThreadFunction function = start->function;
    void* argument = start->argument;
    std::shared_ptr<ThreadRecord> record = start->record;
    int number = mthread_os_current_number();
    int priorityError = mthread_os_set_idle_priority();
    {
        // Notified under the lock: the creator may destroy the block as soon as it sees the flag.
        std::lock_guard<std::mutex> lock(start->mutex);
        start->number = number;
        start->priorityError = priorityError;
        start->handedBack = true;
        start->changed.notify_one();
    }

    std::uint32_t exitCode = function(argument);

    {
        std::lock_guard<std::mutex> lock(record->mutex);
        record->exitCode = exitCode;
        record->finished = true;
    }
    record->changed.notify_all();
}

int MThread_Create(MThreadFunction function, void* argument) {
    Registry& registry = TheRegistry();
    auto record = std::make_shared<ThreadRecord>();
    // Made before the thread starts, so that a registry without memory cannot strand a thread.
    std::unique_ptr<MThreadHandleT> handle(NewHandle(record));
    if (!handle) {
        MERRTRACE("MThread_Create(): failed to create thread: %d", ENOMEM);
        return -1;
    }
    StartBlock start;
    start.function = function;
    start.argument = argument;
    start.record = record;
    int error = 0;
    MThreadOsId os = 0;
    if (!mthread_os_start(&start, &os, &error)) {
        record->join = ThreadRecord::Join::Done; // no system thread to detach
        MERRTRACE("MThread_Create(): failed to create thread: %d", error);
        return -1;
    }
    {
        std::unique_lock<std::mutex> lock(start.mutex);
        start.changed.wait(lock, [&start] { return start.handedBack; });
    }
    if (start.priorityError != 0)
        MERRLOG("MThread_Create(): failed to set thread priority: %d", start.priorityError);

    MThreadHandle replaced = nullptr;
    {
        std::lock_guard<varn::Lockable> lock(registry.lock);
        {
            std::lock_guard<std::mutex> recordLock(record->mutex);
            record->os = os;
            record->number = start.number;
        }
        MThreadHandle& slot = registry.threads[static_cast<std::uint32_t>(start.number)];
        replaced = slot;
        slot = handle.release();
    }
    // An entry of an old thread with the same number: that thread was never joined and nobody
    // can reach it through the registry any more.
    if (replaced != nullptr)
        MThread_CloseHandle(replaced);
    return start.number;
}

int MThread_Join(int thread, std::uint32_t* exitCode) {
    Registry& registry = TheRegistry();
    std::unique_ptr<MThreadHandleT> duplicate;
    {
        std::lock_guard<varn::Lockable> lock(registry.lock);
        auto it = registry.threads.find(static_cast<std::uint32_t>(thread));
        if (it == registry.threads.end()) {
            MERRTRACE("MThread_Join(): thread %d not in list", thread);
            return 0;
        }
        duplicate.reset(NewHandle(it->second->record));
        if (!duplicate) {
            MERRTRACE("MThread_Join(): DuplicateHandle() failed: %d", ENOMEM);
            return 0;
        }
    }
    int error = 0;
    if (WaitForRecord(*duplicate->record, MTHREAD_INFINITE, &error) != 1) {
        MERRTRACE("MThread_Join(): failed to join thread: %d", error);
        return 0;
    }
    if (exitCode != nullptr && !MThread_GetHandleExitCode(duplicate.get(), exitCode)) {
        MERRTRACE("MThread_Join(): failed to get exit code of joined thread: %d", EINVAL);
        return 0;
    }
    std::shared_ptr<ThreadRecord> record = duplicate->record;
    duplicate.reset();

    MThreadHandle registered = nullptr;
    {
        std::lock_guard<varn::Lockable> lock(registry.lock);
        auto it = registry.threads.find(static_cast<std::uint32_t>(thread));
        // Only this thread's entry: a new thread may have taken over the number meanwhile.
        if (it != registry.threads.end() && it->second->record == record) {
            registered = it->second;
            registry.threads.erase(it);
        }
    }
    if (registered != nullptr && !MThread_CloseHandle(registered)) {
        MERRTRACE("MThread_Join(): failed to close handle of joined thread: %d", EINVAL);
        return 0;
    }
    return 1;
}

MThreadHandle MThread_DuplicateWindowsHandle(int thread) {
    Registry& registry = TheRegistry();
    std::lock_guard<varn::Lockable> lock(registry.lock);
    auto it = registry.threads.find(static_cast<std::uint32_t>(thread));
    if (it == registry.threads.end())
        return MTHREAD_INVALID_HANDLE;
    MThreadHandle duplicate = NewHandle(it->second->record);
    if (duplicate == nullptr) {
        MERRTRACE("%s(): DuplicateHandle() failed: %d", "MThread_DuplicateWindowsHandle", ENOMEM);
        return MTHREAD_INVALID_HANDLE;
    }
    return duplicate;
}

int MThread_WaitHandle(MThreadHandle handle, std::uint32_t timeoutMs) {
    if (!IsValid(handle))
        return -1;
    int error = 0;
    return WaitForRecord(*handle->record, timeoutMs, &error);
}

bool MThread_GetHandleExitCode(MThreadHandle handle, std::uint32_t* exitCode) {
    if (!IsValid(handle))
        return false;
    ThreadRecord& record = *handle->record;
    std::lock_guard<std::mutex> lock(record.mutex);
    if (!record.finished)
        return false;
    *exitCode = record.exitCode;
    return true;
}

bool MThread_CloseHandle(MThreadHandle handle) {
    if (!IsValid(handle))
        return false;
    delete handle;
    return true;
}

int MThread_GetRegisteredCount() {
    Registry& registry = TheRegistry();
    std::lock_guard<varn::Lockable> lock(registry.lock);
    return static_cast<int>(registry.threads.size());
}
