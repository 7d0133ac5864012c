// The camera sensor on Aravis's GigE Vision test camera over loopback, with packets lost on
// purpose: lost and broken frames show as counter jumps and broken frames, never as a hang.
// (What the GenICam back end gives the sensor is the back end's own tests'.) Frames come on the
// library's threads: the suite ends in Concurrency and also runs under ThreadSanitizer.

#include "tests/mt_proxy/camera/camerasensortestutil.h"
#include "tests/support/genicamtestsupport.h"

using namespace cameratest;
using vyx::test::FakeGenicamCamera;
using Kind = FakeGenicamCamera::Kind;

namespace {

class GenicamLossConcurrency : public CameraSensorTest {
protected:
    void TearDown() override {
        CameraSensorTest::TearDown();
        fake.Stop();
    }
    FakeGenicamCamera fake;
};

} // namespace

// Incomplete frames as lost frames ("incomplete = lost") are the machine's GigE scan's: lock
// lines, and no broken frame that would end it.
TEST_F(GenicamLossConcurrency, LostPacketsGiveCounterJumpsAndBrokenFrames) {
    std::string why = FakeGenicamCamera::Unavailable(Kind::GigE);
    if (!why.empty())
        GTEST_SKIP() << why;
    // 3 % of the packets lost: a 64 x 64 frame travels in a handful of packets, so most frames
    // come through whole and a good share does not.
    ASSERT_TRUE(fake.Start(Kind::GigE, why, 30)) << why;
    ASSERT_NE(CreateFromIni(fake.Ini()), nullptr);
    ASSERT_TRUE(EnableSettings());
    ASSERT_TRUE(Set({{"framerate", 100.0}, {"imagewidth", 64.0}, {"imageheight", 64.0}}));
    FrameRecorder recorder;
    CImageReceiver receiver = recorder.Receiver();
    ASSERT_TRUE(camera->SetPropertyData(0, &receiver));
    ASSERT_TRUE(camera->SetMeasurement(true));
    EXPECT_TRUE(recorder.WaitFor(150, std::chrono::seconds(60))) << recorder.Count() << " frames";
    // Stops however the frames came: no hang on a lossy link.
    EXPECT_TRUE(camera->SetMeasurement(false));
    EXPECT_TRUE(camera->SetPropertyData(1, &receiver));
    const std::vector<RecordedFrame> f = recorder.Frames();

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
    // Not "most of them": a loaded machine drops loopback packets on top of the camera's 3 %.
    EXPECT_GT(whole, 0u);
    EXPECT_GT(jumps, 0u) << "no frame was lost: the test proves nothing";
    EXPECT_GT(broken, 0u);
}
