#include "msl/mutil/msleep.h"

#include "msl/mutil/msleep_os.h"
#include "platform/trace/merrtrace.h"

namespace {
constexpr double kMaxSeconds = 2.6784e6; // 31 days
}

int msleep_sec(double seconds) {
    // Written so that NaN fails too.
    if (!(seconds >= 0.0 && seconds <= kMaxSeconds)) {
        MERRTRACE("msleep_sec(): invalid argument");
        return -1;
    }
    msleep_os_sleep_ms(static_cast<std::uint64_t>(seconds * 1000.0));
    return 0;
}
