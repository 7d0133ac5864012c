#pragma once
// What reaches the command thread: client events from the network thread, and wake-ups from
// any thread (the machine's notifier). The command thread waits here; a wake-up or an event
// ends its wait at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

using ClientId = uint64_t;

struct HostEvent {
    enum class Kind { Connect, Line, Overlong, Disconnect, Shutdown };
    Kind kind = Kind::Line;
    ClientId client = 0;
    std::string line;
};

class HostInbox {
public:
    void Post(HostEvent event);
    // Callable from any thread; returns at once.
    void WakeUp();
    // Waits until an event or a wake-up arrives or `timeout` passes (negative: no limit), then
    // hands over every waiting event and clears the wake-up.
    std::deque<HostEvent> Wait(std::chrono::milliseconds timeout);

private:
    std::mutex lock;
    std::condition_variable ready;
    std::deque<HostEvent> events;
    bool woken = false;
};
