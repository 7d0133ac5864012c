#pragma once
// What reaches the command thread: client events from the network thread, and wake-ups from
// any thread (the machine's notifier). The command thread waits here; a wake-up or an event
// ends its wait at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

class ClientBudget;
using ClientId = uint64_t;

struct HostEvent {
    enum class Kind { Connect, Line, Overlong, Disconnect, Shutdown };
    HostEvent(Kind kind, ClientId client, std::string line = {},
              std::shared_ptr<ClientBudget> budget = {})
        : kind(kind), client(client), line(std::move(line)), budget(std::move(budget)) {}
    Kind kind = Kind::Line;
    ClientId client = 0;
    std::string line;
    std::shared_ptr<ClientBudget> budget; // with Connect
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
