#pragma once
// Helpers of the camera sensor tests: a sensor on the simulated camera configured by the
// test's own "vyxcamera.ini", and an image receiver that records what it got.

#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "mt_proxy/camera/misc/csensorvyxcamera.h"
#include "platform/vyx/simcontrol.h"
#include "tests/support/inientries.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cameratest {

using vyx::test::Entry;
using vyx::test::ExpectEntries;

// The simulated camera as a test finds it: connected, no call failing, no configuration file
// from the environment.
void ResetSimulatedCamera();

// Each test gets a fresh configuration directory and leaves the camera closed.
class CameraSensorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes "[SimCamera]\n" + section as the machine's vyxcamera.ini and creates the sensor
    // (null when GetInstance gives none).
    CSensorVyxCamera* Create(const std::string& section) {
        return CreateFromIni("[SimCamera]\n" + section);
    }
    // Writes the whole vyxcamera.ini and creates the sensor (null when GetInstance gives none),
    // the test's sensor before it gone first.
    CSensorVyxCamera* CreateFromIni(const std::string& ini);
    // Checks [Camera] entries of the hardware data ("key=value key=value").
    void ExpectHardware(const std::string& list);
    double Value(const char* name);
    // Enables the camera settings (access RW), as a probe configuration does.
    bool EnableSettings();
    // Sets channels through the camera sensor's map operation.
    bool Set(const CSensorValueMap& values) { return camera->SetPropertyValue(values); }

    vyx::test::TempDir dir;
    std::unique_ptr<CSensor> sensor;
    CSensorVyxCamera* camera = nullptr;
};

struct RecordedFrame {
    uint32_t counter = 0;
    uint32_t flags = 0;
    bool pixels = false;
    uint64_t clipWidth = 0, clipHeight = 0;
};

class FrameRecorder {
public:
    CImageReceiver Receiver() { return {&FrameRecorder::Callback, this}; }
    static void Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags);

    // False when fewer than `count` frames arrived within the time-out.
    bool WaitFor(size_t count, std::chrono::seconds timeout = std::chrono::seconds(20));
    std::vector<RecordedFrame> Frames() const;
    size_t Count() const { return Frames().size(); }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<RecordedFrame> m_frames;
};

// The test pattern of an 8-bit frame, written out here so that the camera's arithmetic is
// checked, not repeated: pixel (x, y) of the full frame of counter c.
inline uint8_t Pattern8(uint64_t counter, uint64_t pitch, uint64_t x, uint64_t y) {
    return static_cast<uint8_t>((y * pitch + x + counter % 251) % 251);
}

// Pixels of a width x height 8-bit picture, its rows `stride` bytes apart, that differ from the
// pattern of frame `counter` at (x0, y0) of a full frame `pitch` pixels wide.
inline size_t WrongPixels(const uint8_t* first, uint64_t stride, uint64_t counter, uint64_t pitch,
                          uint64_t x0, uint64_t y0, uint64_t width, uint64_t height) {
    size_t wrong = 0;
    for (uint64_t y = 0; y < height; ++y)
        for (uint64_t x = 0; x < width; ++x)
            wrong += first[y * stride + x] != Pattern8(counter, pitch, x0 + x, y0 + y);
    return wrong;
}

} // namespace cameratest
