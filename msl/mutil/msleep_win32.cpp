#include "msl/mutil/msleep_os.h"

#include <windows.h>

void msleep_os_sleep_ms(std::uint64_t milliseconds) {
    // Sleep takes 32 bits, and its all-ones value means "for ever": sleep in pieces below it.
    constexpr std::uint64_t kLongest = 0x7FFFFFFF;
    while (milliseconds > kLongest) {
        Sleep(static_cast<DWORD>(kLongest));
        milliseconds -= kLongest;
    }
    Sleep(static_cast<DWORD>(milliseconds));
}
