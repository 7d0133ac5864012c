#include "platform/trace/tracesink.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace vyx::trace {

long CurrentThreadId() { return static_cast<long>(gettid()); }

std::string TimeStamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char date[24];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%s.%06d", date, static_cast<int>(now.tv_nsec / 1000));
    return stamp;
}

} // namespace vyx::trace
