#include "msl/mipc/mstopwatch_os.h"

#include <windows.h>

bool mstopwatch_os_frequency(std::int64_t* frequency) {
    LARGE_INTEGER ticks;
    if (!QueryPerformanceFrequency(&ticks) || ticks.QuadPart <= 0)
        return false;
    *frequency = ticks.QuadPart;
    return true;
}

std::int64_t mstopwatch_os_counter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::int32_t mstopwatch_os_clock_ms() {
    return static_cast<std::int32_t>(GetTickCount());
}
