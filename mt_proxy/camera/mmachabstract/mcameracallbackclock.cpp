#include "mt_proxy/camera/mmachabstract/mcameracallbackclock.h"

#include "platform/trace/merrlog.h"

#include <mutex>

void MCameraCallbackClock::Restart() {
    std::lock_guard<varn::ThreadMutex> guard(lock);
    sinceLastCallback.Restart();
    advanced = 0.0;
}

double MCameraCallbackClock::Elapsed() {
    std::lock_guard<varn::ThreadMutex> guard(lock);
    return sinceLastCallback.Elapsed() + advanced;
}

bool MCameraCallbackClock::IsTimedOut() {
    const double elapsed = Elapsed();
    if (elapsed <= kTimeoutSeconds)
        return false;
    MERRLOG("is_camera_timed_out(): no camera callback called for %g s (threshold is %g s)",
            elapsed, kTimeoutSeconds);
    return true;
}

void MCameraCallbackClock::AdvanceForTest(double seconds) {
    std::lock_guard<varn::ThreadMutex> guard(lock);
    advanced += seconds;
}
