// The simulated camera playing a recording: counters, time stamps, temperatures and pixels as
// recorded, the lost frames lost again, passes that go on or stall, a trigger that starts them.

#include "tests/platform/vyx/simtestsupport.h"

using namespace Vyx;
using namespace vyx::test;

namespace {

constexpr uint32_t kWidth = 16, kHeight = 8;

// Frame k of the recording: 12-bit samples 100 k + 16 y + x, big-endian as PGM stores them.
std::string Pgm(uint32_t k) {
    std::string pgm = "P5\n# a comment\n16 8\n4095\n";
    for (uint32_t i = 0; i < kWidth * kHeight; ++i) {
        const uint32_t v = 100 * k + i;
        pgm += static_cast<char>(v >> 8);
        pgm += static_cast<char>(v & 0xFF);
    }
    return pgm;
}

// Counter 8 lost (the module filled it in from frame 9), the line for counter 10 stood for a
// frame that came late, and the scan ended inside a gap (counter 12).
const char* const kLines = "1 = 0,100.000001,7,0,1,30.5,a.pgm\n"
                           "2 = 1,100.04,8,1,0,31,\n"
                           "3 = 2,100.04,9,0,2,31,b.pgm\n"
                           "4 = 3,100.06,10,1,0,31.25,\n"
                           "5 = 4,100.08,11,0,3,31.5,c.pgm\n"
                           "6 = 5,100.12,12,1,0,32,\n";

std::string Recording(const std::string& lines, uint32_t bytesPerPixel = 2, uint32_t width = 16) {
    return "[Recording]\nVersion = 1\nWidth = " + std::to_string(width) +
           "\nHeight = 8\nPixelFormat = 6\nBitsPerPixel = 12\nBytesPerPixel = " +
           std::to_string(bytesPerPixel) +
           "\nFrameRate = 50\nTemperature = 1\n"
           "Columns = clock,time,trigger_count,lock,imageindex,temp_camera,frame\n[Lines]\n" +
           lines;
}

class SimReplayTest : public SimCameraTest {
protected:
    // The recording written into the test's folder; the INI section that plays it.
    std::string Write(const std::string& ini = Recording(kLines)) {
        EXPECT_TRUE(WriteFileBytes(dir.File("recording.ini"), ini));
        for (uint32_t k = 0; k < 3; ++k) // a.pgm, b.pgm, c.pgm
            EXPECT_TRUE(WriteFileBytes(dir.File(std::string(1, char('a' + k)) + ".pgm"), Pgm(k)));
        return "Replay = .\n"; // beside vyxcamera.ini
    }
};

using SimReplayConcurrency = SimReplayTest;

// Sample i of a frame as it reached the receiver, little-endian.
uint32_t Sample(const SeenFrame& f, size_t i) {
    return f.clip[2 * i] | f.clip[2 * i + 1] << 8;
}

} // namespace

TEST_F(SimReplayTest, PlaysTheRecordedCameraFramesAndLossesAndGoesOn) {
    ASSERT_NE(Open(Write() + "Mode = manual\nWidth = 640\nPixelFormat = 2\nFrameRate = 10\n"),
              nullptr);
    const CImageInfo info = vyx::test::InfoOf(camera);
    EXPECT_EQ(
        std::tie(info.memoryWidth, info.memoryHeight, info.pixelFormat, info.memoryBytesPerPixel),
        std::make_tuple(16u, 8u, 6u, 2u));
    double rate = 0;
    ASSERT_TRUE(camera->GetFrameRate(&rate, 0));
    EXPECT_EQ(rate, 50);
    FrameSink sink(true);
    ASSERT_TRUE(GrabInto(sink)) << Error();
    ASSERT_TRUE(Emit(5));
    ASSERT_TRUE(camera->SetClippingRegion(3, 1, 5, 2, 0)); // any region of a recording
    ASSERT_TRUE(Emit(5));

    const std::vector<SeenFrame> frames = sink.Frames();
    ASSERT_EQ(frames.size(), 10u);
    // The second pass goes on after counter 12, one period after 100.12 s.
    EXPECT_EQ(Counters(frames), (std::vector<uint32_t>{7, 9, 10, 11, 12, 13, 15, 16, 17, 18}));
    const uint64_t times[] = {100000001, 100040000, 100060000, 100080000, 100120000};
    const double celsius[] = {30.5, 31, 31.25, 31.5, 32};
    const bool pixels[] = {true, true, false, true, false};
    const uint32_t flags[] = {0, ImgFlag_FramesLost, ImgFlag_NoPixels, 0, ImgFlag_NoPixels};
    for (size_t i = 0; i < frames.size(); ++i) {
        const SeenFrame& f = frames[i];
        const size_t k = i % 5;
        EXPECT_EQ(std::make_tuple(f.timeStamp, f.timeStampKind, f.temperature, f.pixels != nullptr,
                                  f.flags),
                  std::make_tuple(times[k] + (i / 5) * 139999, TimeStamp_Microseconds, celsius[k],
                                  pixels[k], flags[k]))
            << "frame " << i;
    }
    // Samples are the recorded ones, little-endian, at their place in the frame.
    ASSERT_EQ(frames[3].clip.size(), 2u * kWidth * kHeight);
    EXPECT_EQ(Sample(frames[3], 0), 200u);
    EXPECT_EQ(Sample(frames[3], 127), 327u);
    ASSERT_EQ(frames[5].clip.size(), 2u * 5 * 2);
    EXPECT_EQ(std::tie(frames[5].rowPitch, frames[5].offsetX, frames[5].offsetY),
              std::make_tuple(16u, 3u, 1u));
    EXPECT_EQ(Sample(frames[5], 0), 16u + 3);
    EXPECT_EQ(Sample(frames[5], 9), 32u + 7);
}

TEST_F(SimReplayTest, RecordingsThatCannotPlayAreRefusedWithTheReason) {
    const struct {
        std::string recording;
        const char* reason;
    } cases[] = {
        {"", "recording.ini: cannot read the file"},
        {Recording("1 = 0,1.5,1,0,1,30,nothere.pgm\n"), "nothere.pgm: cannot read the file"},
        {Recording(kLines, 1), "pixel format 6 has 2 bytes per pixel, the recording 1"},
        {Recording(kLines, 2, 12), "a.pgm: 16x8 pixels of 2 bytes, the recording has 12x8 of 2"},
        {Recording("1 = 0,1.5,1,0,1,30,\n"), "[Lines] entry 1 (1 = 0,1.5,1,0,1,30,)"},
        {Recording("1 = 0,1.1234567,1,0,1,30,a.pgm\n"), "[Lines] entry 1"},
        {Recording("2 = 0,1.5,1,0,1,30,a.pgm\n"), "[Lines] entry 1"},
        {Recording("1 = 0,1.5,1,1,0,30,\n"), "no line with an image"},
        {"[Recording]\nVersion = 2\n", "[Recording] Version: not a whole number in range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::string section = c.recording.empty() ? "Replay = nothing\n" : Write(c.recording);
        EXPECT_LT(Initialize("[SimCamera]\n" + section), 0);
        EXPECT_NE(Error().find(c.reason), std::string::npos) << Error();
    }
}

TEST_F(SimReplayConcurrency, ATriggerStartsEachPassOnTheRecordedClock) {
    const std::string trigger = dir.File("go");
    ASSERT_NE(Open(Write() + "ReplayEnd = stall\nReplayTrigger = go\n"), nullptr);
    FrameSink sink;
    ASSERT_TRUE(GrabInto(sink)) << Error();
    for (size_t pass = 1; pass <= 2; ++pass) {
        const auto pulled = std::chrono::steady_clock::now();
        ASSERT_TRUE(WriteFileBytes(trigger, ""));
        ASSERT_TRUE(sink.WaitFor(5 * pass));
        EXPECT_FALSE(PathExists(trigger)); // taken by the pass it started
        const std::vector<SeenFrame> frames = sink.Frames();
        // No earlier than one period after the trigger, then the recorded gaps.
        const int64_t dueMs[] = {20, 60, 80, 100, 140};
        for (size_t k = 0; k < 5; ++k) {
            const SeenFrame& f = frames[5 * (pass - 1) + k];
            EXPECT_GE(f.arrival - pulled, std::chrono::milliseconds(dueMs[k])) << k;
        }
    }
    EXPECT_EQ(Counters(sink.Frames()),
              (std::vector<uint32_t>{7, 9, 10, 11, 12, 13, 15, 16, 17, 18}));
}
