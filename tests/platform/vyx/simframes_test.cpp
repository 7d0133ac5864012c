// Frames in manual mode: exactly the frames a test asks for, no timing involved.

#include "tests/platform/vyx/simtestsupport.h"

using namespace Vyx;
using namespace vyx::test;

namespace {

// Every clipped pixel is the test pattern at its place on the sensor: (y * pitch + x + phase)
// modulo `modulus`, in one byte, two little-endian ones, or three bytes 85 apart. Written out
// here rather than taken from the library, so that the library's own arithmetic is checked.
void ExpectPattern(const SeenFrame& frame, uint64_t phase, uint64_t modulus = 251) {
    const uint64_t bytes = frame.bytesPerPixel;
    ASSERT_EQ(frame.clip.size(), frame.clipWidth * frame.clipHeight * bytes);
    size_t wrong = 0;
    for (uint64_t y = 0; y < frame.clipHeight; ++y)
        for (uint64_t x = 0; x < frame.clipWidth; ++x) {
            const uint64_t place = (frame.offsetY + y) * frame.rowPitch + frame.offsetX + x;
            const uint64_t v = (place + phase % modulus) % modulus;
            const uint8_t* p = &frame.clip[(y * frame.clipWidth + x) * bytes];
            if (bytes == 2)
                wrong += uint64_t(p[0] | p[1] << 8) != v;
            else
                for (uint64_t k = 0; k < bytes; ++k)
                    wrong += p[k] != ((v + 85 * k) & 0xFF);
        }
    EXPECT_EQ(wrong, 0u) << "frame " << frame.frameCounter;
}

constexpr uint64_t kPeriodNs = 20000000; // 50 fps

} // namespace

// The pattern, the region and the temperature of frames at a steady setting reach the camera
// sensor's and the measurement's tests; here they change while the camera grabs.
TEST_F(SimCameraTest, ManualFramesFollowChangesWhileGrabbing) {
    ASSERT_NE(Open("Mode = manual\nTemperature = 31.5\n"), nullptr);
    FrameSink sink(true), second;
    ASSERT_TRUE(camera->RegisterImgStreamInput(&sink, FrameSink::Callback, 0));
    ASSERT_TRUE(camera->RegisterImgStreamInput(&second, FrameSink::Callback, 0));
    ASSERT_TRUE(camera->SetClippingRegion(64, 32, 320, 240, 0));
    EXPECT_FALSE(SimControl::EmitFrame()); // not grabbing
    ASSERT_TRUE(camera->Grab(0));
    ASSERT_TRUE(SimControl::EmitFrame());
    SimControl::SetTemperature(40.25);
    ASSERT_TRUE(camera->SetClippingRegion(0, 2, 1280, 1022, 0));
    ASSERT_TRUE(SimControl::EmitFrame());

    std::vector<SeenFrame> frames = sink.Frames();
    ASSERT_EQ(frames.size(), 2u); // EmitFrame returns once every receiver had it
    EXPECT_EQ(second.Count(), 2u);
    EXPECT_EQ(frames[1].timeStamp - frames[0].timeStamp, kPeriodNs);
    EXPECT_EQ(
        std::tie(frames[0].offsetX, frames[0].offsetY, frames[0].clipWidth, frames[0].clipHeight),
        std::make_tuple(64u, 32u, 320u, 240u));
    EXPECT_EQ(std::tie(frames[1].offsetY, frames[1].clipHeight), std::make_tuple(2u, 1022u));
    ExpectPattern(frames[1], 2);
    EXPECT_EQ(frames[0].temperature, 31.5);
    EXPECT_EQ(frames[1].temperature, 40.25);

    // After Freeze no frame comes, and the counter starts again with the next Grab.
    ASSERT_TRUE(camera->Freeze(0));
    EXPECT_FALSE(SimControl::EmitFrame());
    ASSERT_TRUE(camera->UnregisterImgStreamInput(&second, FrameSink::Callback, 0));
    EXPECT_FALSE(camera->UnregisterImgStreamInput(&second, FrameSink::Callback, 0));
    ASSERT_TRUE(camera->Grab(0));
    ASSERT_TRUE(SimControl::EmitFrame());
    EXPECT_EQ(sink.Frames().back().frameCounter, 1u);
    EXPECT_EQ(second.Count(), 2u);
}

// Frames as the measurement's tests ask for them (counter, pixels or none) reach those tests;
// here the counter's wrap and a time stamp in microseconds.
TEST_F(SimCameraTest, ManualCounterWrapsPastZeroAndStampsInMicroseconds) {
    ASSERT_NE(Open("Mode = manual\nTemperatureSensor = 0\nTimeStampUnit = us\n"), nullptr);
    FrameSink sink(true);
    ASSERT_TRUE(GrabInto(sink)) << Error();
    SimFrame frame;
    frame.counter = 0xFFFFFFFF;
    frame.timeStamp = 123;
    ASSERT_TRUE(SimControl::EmitFrame(frame));
    ASSERT_TRUE(Emit(2));

    std::vector<SeenFrame> f = sink.Frames();
    ASSERT_EQ(Counters(f), (std::vector<uint32_t>{0xFFFFFFFF, 1, 2}));
    EXPECT_EQ(f[0].timeStamp, 123u);
    EXPECT_EQ(f[0].timeStampKind, TimeStamp_Microseconds);
    EXPECT_FALSE(f[0].hasTemperature);
    ExpectPattern(f[0], 0xFFFFFFFFu);
    EXPECT_EQ(f[2].timeStamp - f[1].timeStamp, kPeriodNs / 1000);
}

// What each configured fault does to a frame the camera sensor's tests check; here: ranges,
// the dropped one's time slot, faults again with every Grab, injected ones on top, and every
// n-th exposure dropped.
TEST_F(SimCameraTest, ConfiguredFaultsComeWithEveryGrab) {
    ASSERT_NE(Open("Mode = manual\nDropFrames = 3, 5-6\nBrokenFrames = 8\n"), nullptr);
    FrameSink sink;
    ASSERT_TRUE(GrabInto(sink)) << Error();
    ASSERT_TRUE(Emit(5));
    std::vector<SeenFrame> f = sink.Frames();
    ASSERT_EQ(Counters(f), (std::vector<uint32_t>{1, 2, 4, 7, 0}));
    EXPECT_EQ(f[2].timeStamp - f[1].timeStamp, 2 * kPeriodNs); // the dropped one's slot
    SimStats stats = SimControl::GetStats();
    EXPECT_EQ(std::tie(stats.exposures, stats.dropped, stats.broken), std::make_tuple(8u, 3u, 1u));

    ASSERT_TRUE(camera->Freeze(0));
    ASSERT_TRUE(camera->Grab(0));
    ASSERT_TRUE(SimControl::InjectFault(SimFault::Drop, 0, 1));
    ASSERT_TRUE(SimControl::EmitFrame());
    SimControl::ClearFaults();
    ASSERT_TRUE(SimControl::InjectFault(SimFault::Broken, 0, 2));
    ASSERT_TRUE(Emit(3));
    // Exposure 3 was not dropped any more once the faults were cleared.
    EXPECT_EQ(Counters(sink.Frames()), (std::vector<uint32_t>{1, 2, 4, 7, 0, 2, 0, 0, 5}));

    // Every n-th exposure dropped.
    camera->Uninitialize(0);
    ASSERT_NE(Open("Mode = manual\nDropEvery = 4\n"), nullptr);
    FrameSink every;
    ASSERT_TRUE(GrabInto(every)) << Error();
    ASSERT_TRUE(Emit(7));
    EXPECT_EQ(Counters(every.Frames()), (std::vector<uint32_t>{1, 2, 3, 5, 6, 7, 9}));
}

TEST_F(SimCameraTest, WiderPixelsFollowTheirPattern) {
    const struct {
        const char* config;
        uint64_t bytes, modulus;
    } formats[] = {{"PixelFormat = 4\n", 2, 1021},
                   {"PixelFormat = 200\n", 2, 4093},
                   {"PixelFormat = 21\n", 3, 251}};
    for (const auto& format : formats) {
        ASSERT_NE(Open(std::string("Mode = manual\nWidth = 64\nHeight = 32\n") + format.config),
                  nullptr);
        FrameSink sink(true);
        ASSERT_TRUE(camera->RegisterImgStreamInput(&sink, FrameSink::Callback, 0));
        ASSERT_TRUE(camera->SetClippingRegion(8, 4, 32, 16, 0));
        ASSERT_TRUE(camera->Grab(0));
        ASSERT_TRUE(SimControl::EmitFrame(SimFrame{1000, true, 0}));
        SeenFrame f = sink.Frames().at(0);
        ASSERT_EQ(f.bytesPerPixel, format.bytes);
        EXPECT_EQ(std::tie(f.rowPitch, f.offsetX, f.offsetY, f.clipWidth, f.clipHeight),
                  std::make_tuple(64u, 8u, 4u, 32u, 16u));
        ExpectPattern(f, 1000, format.modulus);
        camera->Uninitialize(0);
    }
}
