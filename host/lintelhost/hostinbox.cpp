#include "host/lintelhost/hostinbox.h"

void HostInbox::Post(HostEvent event) {
    {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(std::move(event));
    }
    ready.notify_one();
}

void HostInbox::WakeUp() {
    {
        std::lock_guard<std::mutex> guard(lock);
        woken = true;
    }
    ready.notify_one();
}

std::deque<HostEvent> HostInbox::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    auto pending = [this] { return woken || !events.empty(); };
    if (timeout.count() < 0)
        ready.wait(guard, pending);
    else
        ready.wait_for(guard, timeout, pending);
    woken = false;
    std::deque<HostEvent> taken;
    taken.swap(events);
    return taken;
}
