#include "msl/mipc/mthread_os.h"

#include <cerrno>
#include <process.h>
#include <windows.h>

namespace {

unsigned __stdcall Trampoline(void* startBlock) {
    mthread_run(startBlock);
    return 0;
}

HANDLE FromId(MThreadOsId thread) {
    return reinterpret_cast<HANDLE>(thread);
}

} // namespace

bool mthread_os_start(void* startBlock, MThreadOsId* thread, int* error) {
    // The C run-time's thread start, so that the run-time's per-thread data is set up.
    std::uintptr_t handle = _beginthreadex(nullptr, 0, Trampoline, startBlock, 0, nullptr);
    if (handle == 0) {
        DWORD code = GetLastError();
        *error = code != 0 ? static_cast<int>(code) : errno;
        return false;
    }
    *thread = static_cast<MThreadOsId>(handle);
    return true;
}

int mthread_os_join(MThreadOsId thread) {
    HANDLE handle = FromId(thread);
    if (WaitForSingleObject(handle, INFINITE) != WAIT_OBJECT_0)
        return static_cast<int>(GetLastError());
    return CloseHandle(handle) ? 0 : static_cast<int>(GetLastError());
}

void mthread_os_detach(MThreadOsId thread) {
    // The thread runs on; only our handle of it goes.
    CloseHandle(FromId(thread));
}

int mthread_os_current_number() {
    return static_cast<int>(GetCurrentThreadId());
}

int mthread_os_set_idle_priority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE)
               ? 0
               : static_cast<int>(GetLastError());
}
