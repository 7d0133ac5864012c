#pragma once
// Time since the camera last delivered a frame to any of the machine's image callbacks. Every
// callback restarts it on the camera thread; the command thread reads it to tell a camera that
// stopped delivering (30 s without a frame while images are expected).
//
// Tests cannot wait 30 s: AdvanceForTest makes the clock run ahead until the next frame.

#include "msl/mipc/mstopwatch.h"
#include "msl/mipc/threadmutex.h"

class MCameraCallbackClock {
public:
    static constexpr double kTimeoutSeconds = 30.0;

    // A frame arrived.
    void Restart();
    double Elapsed();
    // More than kTimeoutSeconds without a frame; the error log says how long it has been.
    bool IsTimedOut();

    // Test seam: `seconds` more count as passed, until the next Restart.
    void AdvanceForTest(double seconds);

private:
    varn::ThreadMutex lock; // the camera lock
    MStopwatch sinceLastCallback;
    double advanced = 0.0;
};
