#include "msl/mipc/mstopwatch.h"

#include "msl/mipc/mstopwatch_os.h"

#include <atomic>

namespace {

// Counter frequency, shared by all stopwatches and written by every construction. Atomic
// because stopwatches are constructed on several threads.
std::atomic<std::int64_t> g_frequency{1};

double Frequency() {
    return static_cast<double>(g_frequency.load(std::memory_order_relaxed));
}

} // namespace

MStopwatch::MStopwatch() {
    std::int64_t frequency = 0;
    if (mstopwatch_os_frequency(&frequency) && frequency > 0) {
        g_frequency.store(frequency, std::memory_order_relaxed);
        counterStart = mstopwatch_os_counter();
    } else {
        useClock = true;
        clockStart = mstopwatch_os_clock_ms();
    }
}

double MStopwatch::Elapsed() const {
    if (useClock) {
        // Unsigned difference, so that a wrap of the 32-bit clock still gives the right span.
        std::uint32_t span = std::uint32_t(mstopwatch_os_clock_ms()) - std::uint32_t(clockStart);
        return span / 1000.0;
    }
    return static_cast<double>(mstopwatch_os_counter() - counterStart) / Frequency();
}

double MStopwatch::Restart() {
    if (useClock) {
        std::int32_t now = mstopwatch_os_clock_ms();
        std::uint32_t span = std::uint32_t(now) - std::uint32_t(clockStart);
        clockStart = now;
        return span / 1000.0;
    }
    std::int64_t now = mstopwatch_os_counter();
    double elapsed = static_cast<double>(now - counterStart) / Frequency();
    counterStart = now;
    return elapsed;
}

void MStopwatch::Wait(double seconds) const {
    if (useClock) {
        std::int32_t first = mstopwatch_os_clock_ms();
        std::int32_t step = first;
        while (step == first)
            step = mstopwatch_os_clock_ms();
        double rest = seconds - (std::uint32_t(step) - std::uint32_t(first)) / 1000.0;
        while ((std::uint32_t(mstopwatch_os_clock_ms()) - std::uint32_t(step)) / 1000.0 < rest) {
        }
        return;
    }
    const double frequency = Frequency();
    std::int64_t first = mstopwatch_os_counter();
    std::int64_t step = first;
    while (step == first)
        step = mstopwatch_os_counter();
    double rest = seconds - static_cast<double>(step - first) / frequency;
    while (static_cast<double>(mstopwatch_os_counter() - step) / frequency < rest) {
    }
}

double MStopwatch::GetResolution() const {
    return useClock ? 0.018 : 1.0 / Frequency();
}
