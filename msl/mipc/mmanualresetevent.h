#pragma once
// Unnamed manual-reset event between the threads of one process: once set it stays set, and
// releases every waiter, until it is reset. The autoinfo wake-up thread waits on one with its
// interval as time-out and ends when the event is set.

#include <cstdint>
#include <memory>

class MManualResetEvent {
public:
    static constexpr std::uint32_t Infinite = 0xFFFFFFFFu; // a time-out that never expires

    explicit MManualResetEvent(bool initiallySet = false);
    ~MManualResetEvent();
    MManualResetEvent(const MManualResetEvent&) = delete;
    MManualResetEvent& operator=(const MManualResetEvent&) = delete;

    // Sets the event and wakes every waiter.
    void Set();
    // Clears the event; later waits block again.
    void Reset();
    bool IsSet() const;

    // Waits until the event is set, at most `timeoutMs` milliseconds (Infinite: no limit).
    // True when it is set, false when the time ran out first. A set event returns at once.
    bool Wait(std::uint32_t timeoutMs);

private:
    // An event of the system on Windows (mmanualresetevent_win32.cpp); a mutex, a condition
    // variable and a flag elsewhere (mmanualresetevent_posix.cpp).
    struct State;
    std::unique_ptr<State> state;
};
