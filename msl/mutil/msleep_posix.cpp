#include "msl/mutil/msleep_os.h"

#include <cerrno>
#include <ctime>

void msleep_os_sleep_ms(std::uint64_t milliseconds) {
    timespec left{};
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
