#include "msl/mipc/mstopwatch_os.h"

#include <ctime>

namespace {

bool ReadMonotonic(timespec* now) {
    return clock_gettime(CLOCK_MONOTONIC, now) == 0;
}

} // namespace

bool mstopwatch_os_frequency(std::int64_t* frequency) {
    timespec now{};
    if (!ReadMonotonic(&now))
        return false;
    *frequency = 1000000000;
    return true;
}

std::int64_t mstopwatch_os_counter() {
    timespec now{};
    ReadMonotonic(&now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

std::int32_t mstopwatch_os_clock_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    std::uint64_t ms = std::uint64_t(now.tv_sec) * 1000 + std::uint64_t(now.tv_nsec) / 1000000;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}
