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

} // namespace vyx::trace
