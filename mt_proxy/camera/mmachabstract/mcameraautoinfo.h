#pragma once
// Autoinfo: a wake-up thread that calls the server's client notifier at a fixed interval, so
// that the server reads the chosen axes (GetAutoinfo) without being asked by a client.

#include "mt_proxy/camera/mmachabstract/mcameraevent.h"
#include "msl/mipc/mstopwatch.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class MClientNotifier;

class MCameraAutoinfo {
public:
    static constexpr uint32_t kMinimumIntervalMs = 10;

    explicit MCameraAutoinfo(MClientNotifier* notifier) : notifier(notifier) {}
    // Stops a running wake-up thread: it must not outlive what it wakes.
    ~MCameraAutoinfo();

    // The axis indexes whose values GetAutoinfo hands out, in order; Stop empties the list.
    std::vector<size_t>& Axes() { return axes; }

    // Starts the wake-up thread with `intervalMs` (at least kMinimumIntervalMs).
    bool Start(uint32_t intervalMs);
    void Stop();
    bool IsRunning() const { return stopwatch != nullptr; }
    // True, and the interval starts again, once at least one interval passed since the last
    // time it said so (or since Start).
    bool TakeInterval();

    MCameraAutoinfo(const MCameraAutoinfo&) = delete;
    MCameraAutoinfo& operator=(const MCameraAutoinfo&) = delete;

private:
    static uint32_t WakeUpThread(void* context);

    MClientNotifier* notifier;
    std::vector<size_t> axes;
    uint32_t intervalMs = kMinimumIntervalMs;
    MCameraEvent* wakeUpEvent = nullptr;
    int thread = -1;
    std::unique_ptr<MStopwatch> stopwatch;
};
