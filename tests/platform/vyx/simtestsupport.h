#pragma once
// Helpers of the camera library tests: a camera opened on a configuration of
// the test's own, and a receiver that records what frames it got.

#include "platform/vyx/simcontrol.h"
#include "platform/vyx/vyxbase.h"
#include "tests/support/testsupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace vyx::test {

class FrameSink;

// Initialises the camera library on a "vyxcamera.ini" of the test's own, whatever camera it
// chooses; closes it at the end of the test.
class CameraIniTest : public ::testing::Test {
protected:
    void TearDown() override;

    // The result of Initialize on a file with this text.
    int Initialize(const std::string& ini);
    // Initialised on the text; null on failure.
    Vyx::CImgSensors* OpenIni(const std::string& ini);
    std::string Error() const { return camera ? camera->GetLastErrorText(0) : "no camera"; }
    // The sink registered and the camera grabbing; false when either fails.
    bool GrabInto(FrameSink& sink);
    using Setter = bool (Vyx::CImgSensors::*)(double, int);
    using Getter = bool (Vyx::CImgSensors::*)(double*, int);
    // Sets `good`, then each refused value (with that error text when one is given), and reads
    // `good` back: a refused value leaves the setting.
    void ExpectSetting(Setter set, Getter get, double good, std::initializer_list<double> refused,
                       const char* refusal = nullptr);

    TempDir dir;
    std::string path;
    Vyx::CImgSensors* camera = nullptr;
};

// The simulated camera on "[SimCamera]\n" + section; every test-interface setting is undone
// before and after the test.
class SimCameraTest : public CameraIniTest {
protected:
    void SetUp() override;
    void TearDown() override;

    Vyx::CImgSensors* Open(const std::string& section) {
        return OpenIni("[SimCamera]\n" + section);
    }
    // The camera's own next frames in manual mode; false once one is not delivered.
    static bool Emit(size_t count) {
        for (size_t i = 0; i < count; ++i)
            if (!Vyx::SimControl::EmitFrame())
                return false;
        return true;
    }
};

// What a receiver saw of one frame: the record as it came (its pixels are only to be told from
// none: they are not the receiver's after the callback), and what came beside it.
struct SeenFrame : Vyx::CImgBuffer {
    uint32_t flags = 0;
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

// A receiver that freezes the camera from the acquisition thread on its `at`-th frame; it keeps
// that frame and every other one it gets.
struct FreezingSink : FrameSink {
    FreezingSink(Vyx::CImgSensors* camera, int at) : camera(camera), at(at) {}
    static void Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags);

    Vyx::CImgSensors* const camera;
    const int at;
    std::atomic<int> calls{0};
    std::atomic<bool> frozen{false};
};

// Counters of the frames, in order of arrival.
inline std::vector<uint32_t> Counters(const std::vector<SeenFrame>& frames) {
    std::vector<uint32_t> counters;
    for (const SeenFrame& f : frames)
        counters.push_back(f.frameCounter);
    return counters;
}

inline Vyx::CImageInfo InfoOf(Vyx::CImgSensors* camera) {
    Vyx::CImageInfo info;
    EXPECT_TRUE(camera->GetImageInfo(&info, 0));
    return info;
}

// The clipping region the camera reports: x, y, width, height.
using Clip = std::tuple<int32_t, int32_t, uint32_t, uint32_t>;
inline Clip ClipOf(Vyx::CImgSensors* camera) {
    const Vyx::CImageInfo info = InfoOf(camera);
    return {info.clipX, info.clipY, info.clipWidth, info.clipHeight};
}

// Minimum, maximum and step of the four clipping axes; a fifth axis must be refused.
std::vector<std::array<int32_t, 3>> ClippingLimits(Vyx::CImgSensors* camera);

// Value of an item of GetCameraInfo's XML; "<missing>" or "<unparsable>" otherwise.
std::string InfoItem(const std::string& xml, const wchar_t* key);

} // namespace vyx::test
