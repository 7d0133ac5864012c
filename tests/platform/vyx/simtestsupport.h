#pragma once
// Helpers of the camera library tests: a camera opened on a configuration of
// the test's own, and a receiver that records what frames it got.

#include "platform/vyx/simcontrol.h"
#include "platform/vyx/vyxbase.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vyx::test {

// Opens the simulated camera on "[SimCamera]\n" + section; closes it and undoes
// every test-interface setting at the end of the test.
class SimCameraTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the configuration and initialises the camera; null on failure.
    Vyx::CImgSensors* Open(const std::string& section);
    std::string WriteIni(const std::string& name, const std::string& section);

    TempDir dir;
    Vyx::CImgSensors* camera = nullptr;
};

// What a receiver saw of one frame.
struct SeenFrame {
    uint32_t counter = 0;
    bool pixels = false;
    uint64_t timeStamp = 0;
    int32_t timeStampKind = 0;
    uint32_t flags = 0;
    uint64_t rowPitch = 0, rows = 0, offsetX = 0, offsetY = 0, clipWidth = 0, clipHeight = 0;
    uint64_t bytesPerPixel = 0;
    bool hasTemperature = false;
    double temperature = 0;
    std::chrono::steady_clock::time_point arrival;
    std::vector<uint8_t> clip; // the clipped pixels, rows packed, when the sink copies
};

class FrameSink {
public:
    explicit FrameSink(bool copyPixels = false) : m_copy(copyPixels) {}

    static void Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags);

    // Waits until count frames arrived; false after the time-out.
    bool WaitFor(size_t count, std::chrono::seconds timeout = std::chrono::seconds(20));
    std::vector<SeenFrame> Frames() const;
    size_t Count() const;

private:
    bool m_copy;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<SeenFrame> m_frames;
};

// Test-pattern value of an 8-bit pixel, written out here rather than taken
// from the library so that the library's own arithmetic is checked.
inline uint8_t Pattern8(uint64_t phase, uint64_t pitch, uint64_t x, uint64_t y) {
    return static_cast<uint8_t>((y * pitch + x + phase % 251) % 251);
}

} // namespace vyx::test
