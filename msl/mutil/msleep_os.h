#pragma once
// Operating-system side of msleep (msleep_posix.cpp).

#include <cstdint>

// Sleeps for at least `milliseconds`, resuming after interruptions by signals.
void msleep_os_sleep_ms(std::uint64_t milliseconds);
