// The camera sensor on a GenICam camera: Aravis's test camera inside the process and its GigE
// Vision test camera over loopback. Identity, settings and clipping through the sensor's
// channels; two seconds of frames through the image receivers; and, over GigE Vision with
// packets lost on purpose, lost and broken frames that show as counter jumps and broken
// frames, never as a hang. Frames come on the library's threads: the suites end in
// Concurrency and also run under ThreadSanitizer.

#include "mt_proxy/camera/misc/csensorcamera.h"
#include "platform/trace/tracecapture.h"
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

class GenicamSensorConcurrency : public GenicamSensorTest,
                                 public ::testing::WithParamInterface<Kind> {};
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

TEST_P(GenicamSensorConcurrency, IdentitySettingsAndClippingThroughTheChannels) {
    OPEN_OR_SKIP(GetParam());
    ASSERT_NE(dynamic_cast<CSensorCamera*>(camera), nullptr);
    EXPECT_STREQ(camera->GetName(), "Fake");
    EXPECT_EQ(camera->GetSerialNo(), fake.Serial());
    EXPECT_EQ(camera->GetIdentity().manufacturer, "Aravis");
    // The test cameras have a 2048 x 2048 sensor and start on a 512 x 512 region.
    ExpectHardware("manufacturer=Aravis devicename=Fake serialnumber=" + fake.Serial() +
                   " img_width=2048 img_height=2048 mem_width=2048 mem_height=2048 mem_bpp=1 "
                   "bits_per_pixel=8 px_fmt=2 clip_x=0 clip_y=0 clipsize_x=512 clipsize_y=512 "
                   "px_width_mm=0.0054999999999999997 cpldversion=<unknown>");

    ASSERT_TRUE(EnableSettings());
    ASSERT_TRUE(Set({{"gain", 4.0}, {"shutter", 5.0}, {"framerate", 25.0}}));
    EXPECT_EQ(Value("gain"), 4.0);
    EXPECT_DOUBLE_EQ(Value("shutter"), 5.0);
    EXPECT_DOUBLE_EQ(Value("framerate"), 25.0);
    ExpectHardware("gain=4 shutter=5 framerate=25");
    // Outside the camera's range: refused, the old value stays.
    EXPECT_FALSE(Set({{"gain", 12.0}}));
    EXPECT_EQ(Value("gain"), 4.0);

    // A centred 256 x 128 region, moved by the offsets.
    ASSERT_TRUE(Set({{"imagewidth", 256.0},
                     {"imageheight", 128.0},
                     {"imageoffsetx", -100.0},
                     {"imageoffsety", 30.0}}));
    ExpectHardware("clip_x=796 clip_y=990 clipsize_x=256 clipsize_y=128");
    EXPECT_EQ(Value("imagewidth"), 256.0);
    EXPECT_EQ(Value("imageoffsetx"), -100.0);
    Vyx::CImageInfo info;
    ASSERT_TRUE(Vyx::CImgSensors::GetInstance()->GetImageInfo(&info, 0));
    EXPECT_EQ(info.clipX, 796);
    EXPECT_EQ(info.clipY, 990);
    EXPECT_EQ(info.clipWidth, 256u);
    EXPECT_EQ(info.clipHeight, 128u);
}

TEST_P(GenicamSensorConcurrency, TwoSecondsOfFramesOnePerExposure) {
    OPEN_OR_SKIP(GetParam());
    ASSERT_TRUE(EnableSettings());
    const double rate = 50.0;
    ASSERT_TRUE(Set({{"framerate", rate}, {"imagewidth", 128.0}, {"imageheight", 96.0}}));
    // 2 s at the frame rate: the first frame and one per period after it.
    const size_t expected = size_t(2 * rate) + 1;
    const std::vector<RecordedFrame> f = Acquire(expected);
    ASSERT_GE(f.size(), expected);
    for (size_t i = 0; i < f.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f[i].counter, i + 1);
        EXPECT_EQ(f[i].flags, 0u);
        EXPECT_TRUE(f[i].pixels);
        EXPECT_EQ(f[i].clipWidth, 128u);
        EXPECT_EQ(f[i].clipHeight, 96u);
        EXPECT_EQ(f[i].timeStampKind, Vyx::TimeStamp_Nanoseconds);
        if (i > 0) {
            EXPECT_GT(f[i].timeStamp, f[i - 1].timeStamp);
        }
    }
    // The camera's exposures lie one period apart, on average at least (a busy test camera
    // may start an exposure late, never early).
    const double period =
        double(f[expected - 1].timeStamp - f[0].timeStamp) / double(expected - 1) / 1e9;
    EXPECT_GE(period, 0.95 / rate);
    EXPECT_LT(period, 1.5 / rate);
}

INSTANTIATE_TEST_SUITE_P(Cameras, GenicamSensorConcurrency,
                         ::testing::Values(Kind::InProcess, Kind::GigE),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return std::string(FakeGenicamCamera::Name(info.param));
                         });

using GenicamSensor = GenicamSensorTest;

TEST_F(GenicamSensor, SixteenBitPixels) {
    vyx::trace::TraceCapture capture;
    OPEN_OR_SKIP(Kind::InProcess, "pixel_format = Mono16\n");
    ExpectHardware("mem_bpp=2 bits_per_pixel=16 px_fmt=16");
    EXPECT_EQ(capture.CountErrLog("unknown format"), 0) << capture.Dump();
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
