#pragma once
// Operating-system side of MStopwatch (mstopwatch_posix.cpp).

#include <cstdint>

// Ticks per second of the high-resolution counter; false when there is no such counter.
bool mstopwatch_os_frequency(std::int64_t* frequency);
// Current reading of the high-resolution counter.
std::int64_t mstopwatch_os_counter();
// Current reading of the millisecond clock (the fallback), wrapping at 32 bits.
std::int32_t mstopwatch_os_clock_ms();
