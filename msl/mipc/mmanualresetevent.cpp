#include "msl/mipc/mmanualresetevent.h"

#include <chrono>

MManualResetEvent::MManualResetEvent(bool initiallySet) : set(initiallySet) {}

void MManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        set = true;
    }
    changed.notify_all();
}

void MManualResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    set = false;
}

bool MManualResetEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex);
    return set;
}

bool MManualResetEvent::Wait(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    if (timeoutMs == Infinite) {
        changed.wait(lock, [this] { return set; });
        return true;
    }
    // wait_for measures on the steady (monotonic) clock, so a change of the wall clock does not
    // stretch or cut the time-out.
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set; });
}
