#include "msl/mipc/mmanualresetevent.h"

#include "platform/trace/merrlog.h"

#include <windows.h>

struct MManualResetEvent::State {
    HANDLE event = nullptr;
};

MManualResetEvent::MManualResetEvent(bool initiallySet) : state(std::make_unique<State>()) {
    state->event = CreateEventA(nullptr, TRUE, initiallySet ? TRUE : FALSE, nullptr);
    // Only a system out of handles refuses; every wait on the event then fails at once.
    if (state->event == nullptr)
        MERRLOG("MManualResetEvent: CreateEvent() failed (%lu)", GetLastError());
}

MManualResetEvent::~MManualResetEvent() {
    if (state->event != nullptr)
        CloseHandle(state->event);
}

void MManualResetEvent::Set() {
    if (state->event != nullptr)
        SetEvent(state->event);
}

void MManualResetEvent::Reset() {
    if (state->event != nullptr)
        ResetEvent(state->event);
}

bool MManualResetEvent::IsSet() const {
    return state->event != nullptr && WaitForSingleObject(state->event, 0) == WAIT_OBJECT_0;
}

bool MManualResetEvent::Wait(std::uint32_t timeoutMs) {
    static_assert(Infinite == INFINITE, "the same time-out that never expires");
    return state->event != nullptr && WaitForSingleObject(state->event, timeoutMs) == WAIT_OBJECT_0;
}
