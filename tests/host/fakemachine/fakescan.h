#pragma once
// The fake machine's measurement: a thread that makes one measurand line per frame at the
// frame rate, copies a frame into the active image FIFO when "imageindex" is reported, and
// wakes the host up from its own thread (at most every 50 ms, and after the last line), as a
// camera's callback does. Lines wait in a bounded queue, as in a line FIFO.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MClientNotifier;

struct FakeScanSetup {
    uint64_t frames = 0;
    double frameRate = 1000.0;
    double startTime = 0.0;
    std::vector<std::string> reported; // the scandata axes
    void* ring64 = nullptr;            // the active image FIFO, when images are kept
    void* ring32 = nullptr;
    uint64_t frameBytes = 0;
    MClientNotifier* notifier = nullptr;
};

class FakeScan {
public:
    explicit FakeScan(FakeScanSetup setup);
    ~FakeScan();
    FakeScan(const FakeScan&) = delete;
    FakeScan& operator=(const FakeScan&) = delete;

    // The next line's reported values; false when none waits.
    bool ReadLine(std::vector<double>& values);
    bool HasLines();
    // All lines written (or an error); lines may still wait.
    bool Finished() const { return finished.load(); }
    // The error text that ended the measurement, empty when none.
    std::string Error();
    // Stops the thread and releases the image of every line left; the number released.
    size_t StopAndDrain();

    // What a frame's pixels are: byte k of frame n is (n + k) mod 251.
    static uint8_t PatternByte(uint64_t frame, uint64_t k) { return uint8_t((frame + k) % 251); }
    static constexpr size_t kMaxLines = 10000;

private:
    void Produce();
    void Fail(const char* text);
    void Release(double block);

    FakeScanSetup setup;
    std::mutex lock;
    std::condition_variable wake; // ends the producer's wait when stopping
    std::deque<std::vector<double>> lines;
    std::string error;
    bool stopping = false;
    std::atomic<bool> finished{false};
    size_t imageIndexColumn = SIZE_MAX;
    std::thread producer;
};
