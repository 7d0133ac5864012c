#include "platform/trace/tracesink.h"

#include <cstdio>
#include <windows.h>

namespace vyx::trace {

long CurrentThreadId() {
    return static_cast<long>(GetCurrentThreadId());
}

std::string TimeStamp() {
    // The precise clock has 100 ns steps; GetLocalTime alone has only milliseconds.
    FILETIME utc, local;
    GetSystemTimePreciseAsFileTime(&utc);
    SYSTEMTIME parts{};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &parts))
        GetLocalTime(&parts);
    ULARGE_INTEGER ticks;
    ticks.LowPart = local.dwLowDateTime;
    ticks.HighPart = local.dwHighDateTime;
    int micro = static_cast<int>((ticks.QuadPart / 10) % 1000000);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%06d", parts.wYear,
                  parts.wMonth, parts.wDay, parts.wHour, parts.wMinute, parts.wSecond, micro);
    return stamp;
}

void* ThreadState(void* (*make)(), void (*destroy)(void*)) {
    // Fiber-local storage: its callback runs when the thread ends. The slot goes with this
    // module (freeing it hands every thread's state to the callback), so that no thread ends
    // into a callback of a module that was unloaded.
    static const struct Slot {
        explicit Slot(PFLS_CALLBACK_FUNCTION callback) : index(FlsAlloc(callback)) {}
        ~Slot() {
            if (index != FLS_OUT_OF_INDEXES)
                FlsFree(index);
        }
        DWORD index;
    } slot(reinterpret_cast<PFLS_CALLBACK_FUNCTION>(destroy));
    if (slot.index == FLS_OUT_OF_INDEXES)
        return nullptr;
    // The error being traced is often the thread's last system error: FlsGetValue clears it.
    const DWORD lastError = GetLastError();
    void* state = FlsGetValue(slot.index);
    if (state == nullptr) {
        state = make();
        FlsSetValue(slot.index, state);
    }
    SetLastError(lastError);
    return state;
}

} // namespace vyx::trace
