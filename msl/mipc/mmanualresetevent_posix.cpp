#include "msl/mipc/mmanualresetevent.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

struct MManualResetEvent::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool set = false;
};

MManualResetEvent::MManualResetEvent(bool initiallySet) : state(std::make_unique<State>()) {
    state->set = initiallySet;
}

MManualResetEvent::~MManualResetEvent() = default;

void MManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->set = true;
    }
    state->changed.notify_all();
}

void MManualResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->set = false;
}

bool MManualResetEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->set;
}

bool MManualResetEvent::Wait(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(state->mutex);
    auto isSet = [this] { return state->set; };
    if (timeoutMs == Infinite) {
        state->changed.wait(lock, isSet);
        return true;
    }
    // wait_for measures on the steady (monotonic) clock, so a change of the wall clock does not
    // stretch or cut the time-out.
    return state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet);
}
