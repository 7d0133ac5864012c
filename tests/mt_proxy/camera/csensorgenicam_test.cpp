// The camera sensor on a GenICam camera: Aravis's test camera inside the process for identity
// and settings through the sensor's channels, and its GigE Vision test camera over loopback
// with packets lost on purpose: lost and broken frames show as counter jumps and broken
// frames, never as a hang. Frames come on the library's threads: that suite ends in
// Concurrency and also runs under ThreadSanitizer.

#include "mt_proxy/camera/misc/csensorcamera.h"
#include "tests/mt_proxy/camera/camerasensortestutil.h"
#include "tests/support/genicamtestsupport.h"

using cameratest::CameraSensorTest;
using cameratest::FrameRecorder;
using cameratest::RecordedFrame;
using vyx::test::FakeGenicamCamera;
using Kind = FakeGenicamCamera::Kind;

namespace {

class GenicamSensorTest : public CameraSensorTest {
protected:
    // The test camera of the parameter, opened through the sensor; null when the test skips
    // or fails.
    CSensorVyxCamera* Open(Kind kind, const std::string& extra = "", unsigned loss = 0) {
        std::string why = FakeGenicamCamera::Unavailable(kind);
        if (!why.empty()) {
            skipped = why;
            return nullptr;
        }
        EXPECT_TRUE(fake.Start(kind, why, loss)) << why;
        return why.empty() ? CreateFromIni(fake.Ini(extra)) : nullptr;
    }
    void TearDown() override {
        CameraSensorTest::TearDown();
        fake.Stop();
    }

    // Runs the acquisition until `frames` frames reached the receivers.
    std::vector<RecordedFrame> Acquire(size_t frames) {
        FrameRecorder recorder;
        CImageReceiver receiver = recorder.Receiver();
        EXPECT_TRUE(camera->SetPropertyData(0, &receiver));
        EXPECT_TRUE(camera->SetMeasurement(true));
        EXPECT_TRUE(recorder.WaitFor(frames, std::chrono::seconds(60)))
            << recorder.Count() << " frames";
        // Stops however the frames came: no hang on a lossy link.
        EXPECT_TRUE(camera->SetMeasurement(false));
        EXPECT_TRUE(camera->SetPropertyData(1, &receiver));
        return recorder.Frames();
    }

    FakeGenicamCamera fake;
    std::string skipped;
};

class GenicamLossConcurrency : public GenicamSensorTest,
                               public ::testing::WithParamInterface<bool> {};

#define OPEN_OR_SKIP(...)                                                                          \
    do {                                                                                           \
        if (Open(__VA_ARGS__) == nullptr) {                                                        \
            if (!skipped.empty())                                                                  \
                GTEST_SKIP() << skipped;                                                           \
            FAIL() << "the camera sensor did not open";                                            \
        }                                                                                          \
    } while (0)

} // namespace

using GenicamSensor = GenicamSensorTest;

// The region and its offsets go the same way for every camera (the simulated camera's tests);
// what the GenICam back end itself gives the sensor is checked here.
TEST_F(GenicamSensor, IdentityAndSettingsThroughTheChannels) {
    OPEN_OR_SKIP(Kind::InProcess);
    ASSERT_NE(dynamic_cast<CSensorCamera*>(camera), nullptr);
    // The test camera has a 2048 x 2048 sensor and starts on a 512 x 512 region.
    ExpectHardware("manufacturer=Aravis devicename=Fake serialnumber=" + fake.Serial() +
                   " img_width=2048 img_height=2048 mem_width=2048 mem_height=2048 mem_bpp=1 "
                   "bits_per_pixel=8 px_fmt=2 clip_x=0 clip_y=0 clipsize_x=512 clipsize_y=512 "
                   "px_width_mm=0.0054999999999999997 cpldversion=<unknown>");
    ASSERT_TRUE(EnableSettings());
    ASSERT_TRUE(Set({{"gain", 4.0}, {"shutter", 5.0}, {"framerate", 25.0}}));
    ExpectHardware("gain=4 shutter=5 framerate=25");
    // Outside the camera's range: refused, the old value stays.
    EXPECT_FALSE(Set({{"gain", 12.0}}));
    EXPECT_EQ(Value("gain"), 4.0);
}

TEST_P(GenicamLossConcurrency, LostPacketsGiveCounterJumpsAndBrokenFrames) {
    const bool incompleteAsLost = GetParam();
    // 3 % of the packets lost: a 64 x 64 frame travels in a handful of packets, so most frames
    // come through whole and a good share does not.
    OPEN_OR_SKIP(Kind::GigE, incompleteAsLost ? "incomplete = lost\n" : "", 30);
    ASSERT_TRUE(EnableSettings());
    ASSERT_TRUE(Set({{"framerate", 100.0}, {"imagewidth", 64.0}, {"imageheight", 64.0}}));
    const std::vector<RecordedFrame> f = Acquire(150);

    size_t whole = 0, broken = 0, jumps = 0;
    size_t brokenSince = 0;
    const RecordedFrame* previous = nullptr;
    for (size_t i = 0; i < f.size(); ++i) {
        SCOPED_TRACE(i);
        if (f[i].counter == 0) {
            // A frame that came incomplete: no pixels, and it says so.
            EXPECT_FALSE(f[i].pixels);
            EXPECT_EQ(f[i].flags, Vyx::ImgFlag_NoPixels);
            ++broken;
            ++brokenSince;
            continue;
        }
        ++whole;
        EXPECT_TRUE(f[i].pixels);
        EXPECT_EQ(f[i].clipWidth, 64u);
        EXPECT_EQ(f[i].clipHeight, 64u);
        if (previous != nullptr) {
            // Every exposure in a jump was delivered broken or is reported lost.
            ASSERT_GT(f[i].counter, previous->counter);
            const size_t skipped = f[i].counter - previous->counter - 1;
            EXPECT_GE(skipped, brokenSince);
            EXPECT_EQ((f[i].flags & Vyx::ImgFlag_FramesLost) != 0, skipped > brokenSince)
                << "skipped " << skipped << ", broken " << brokenSince;
            jumps += skipped > 0;
        }
        previous = &f[i];
        brokenSince = 0;
    }
    EXPECT_GT(whole, f.size() / 2);
    EXPECT_GT(jumps, 0u) << "no frame was lost: the test proves nothing";
    if (incompleteAsLost)
        EXPECT_EQ(broken, 0u);
    else
        EXPECT_GT(broken, 0u);
}

INSTANTIATE_TEST_SUITE_P(GigE, GenicamLossConcurrency, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "IncompleteAsLost"
                                                           : "IncompleteAsBroken");
                         });
