#pragma once
// Elapsed time since a start, in seconds, for time-outs and intervals. Counts on the monotonic
// high-resolution counter (nanoseconds); falls back to a millisecond clock where there is none.
// Not locked: each stopwatch is used by one thread at a time.

#include <cstdint>

class MStopwatch {
public:
    // Starts counting now.
    MStopwatch();

    // Seconds since the start.
    double Elapsed() const;
    // Returns Elapsed() and makes now the new start.
    double Restart();
    // Busy-waits `seconds` without yielding the processor: waits for the next step of the
    // counter, then spins until `seconds` minus that step have passed since it. Short waits only.
    void Wait(double seconds) const;
    // Smallest measurable step in seconds.
    double GetResolution() const;

private:
    std::int32_t clockStart = 0;   // millisecond clock at the start, clock mode only
    bool useClock = false;         // true when no high-resolution counter is available
    std::int64_t counterStart = 0; // counter at the start, counter mode
};
