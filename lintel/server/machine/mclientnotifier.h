#pragma once
// The server's client notifier. The machine calls WakeUp, from any thread, when there is
// something new to poll (autoinfo values, measured lines, preview images, camera errors),
// and GetState to let the server breathe while it waits. The server implements it.

#include <cstdint>

class MClientNotifier {
public:
    virtual ~MClientNotifier() = default;
    virtual int32_t GetState() = 0;
    // Must return promptly and accept calls from any thread.
    virtual void WakeUp() = 0;
};
