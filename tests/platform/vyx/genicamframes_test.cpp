// Frame counters and time stamps of the GenICam back end: GigE Vision's 16-bit frame ids
// unwrapped, jumps kept, late and incomplete frames, and camera time moved onto the host's
// clock. Pixel formats the back end takes and refuses.

#include "platform/vyx/cimgbuffer.h"
#include "platform/vyx/genicam/genicamframes.h"
#include "platform/vyx/genicam/genicampixelformat.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using Vyx::genicam::CFrameClock;
using Vyx::genicam::CFrameNumbering;
using Vyx::genicam::FindPixelFormat;
using Vyx::genicam::FrameCounterOf;
using Vyx::genicam::FrameIdDistance;

TEST(GenicamFrameIds, DistanceUnwrapsBlockIdsKeepsLargeIdsAndCounterSkipsZero) {
    const struct {
        uint64_t from, to;
        int64_t distance;
    } cases[] = {
        {65534, 65535, 1},
        {65535, 1, 1}, // wraps to 1, never 0
        {65534, 2, 3},
        {10, 5, -5},
        {2, 65535, -2}, // behind, across the wrap
        {100, 100, 0},
        {1, 32768, 32767},
        {1, 32769, -32767}, // half the range decides
        {0, 1, 1},
        {70000, 69990, -10}, // 64-bit ids count on
        {1ull << 40, (1ull << 40) + 9, 9},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FrameIdDistance(c.from, c.to), c.distance) << c.from << " -> " << c.to;
    // The counter made of an id skips zero.
    EXPECT_EQ(FrameCounterOf(1), 1u);
    EXPECT_EQ(FrameCounterOf(0xFFFFFFFFull), 0xFFFFFFFFu);
    EXPECT_EQ(FrameCounterOf(0x100000000ull), 1u);
    EXPECT_EQ(FrameCounterOf(0x100000002ull), 3u);
}

namespace {

// One buffer: a complete frame with its camera id, or an incomplete one ('I').
struct Step {
    char kind; // 'C' complete, 'I' incomplete
    uint64_t id;
    bool deliver;
    uint32_t counter;
    uint32_t flags;
};

void Expect(const char* name, bool lostMode, const std::vector<Step>& steps, uint64_t lost,
            uint64_t late) {
    SCOPED_TRACE(name);
    CFrameNumbering numbering(lostMode);
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        const CFrameNumbering::Frame f =
            s.kind == 'C' ? numbering.Complete(s.id) : numbering.Incomplete();
        // The counter and flags of a frame not delivered are nobody's.
        EXPECT_EQ(std::make_tuple(f.deliver, f.deliver ? f.counter : 0u, f.deliver ? f.flags : 0u),
                  std::make_tuple(s.deliver, s.counter, s.flags))
            << "buffer " << i;
    }
    EXPECT_EQ(numbering.LostFrames(), lost);
    EXPECT_EQ(numbering.LateFrames(), late);
}

constexpr uint32_t kLost = Vyx::ImgFlag_FramesLost;
constexpr uint32_t kNoPixels = Vyx::ImgFlag_NoPixels;

} // namespace

TEST(GenicamFrameNumbering, CountersFollowTheCameraIds) {
    // Counting starts at 1 wherever the camera's ids start, and goes on across the wrap.
    Expect("wrap", false,
           {{'C', 65534, true, 1, 0},
            {'C', 65535, true, 2, 0},
            {'C', 1, true, 3, 0},
            {'C', 2, true, 4, 0}},
           0, 0);
    // Ids that jump leave the exposures in between to the machine as lost.
    Expect("jump", false, {{'C', 7, true, 1, 0}, {'C', 10, true, 4, kLost}, {'C', 11, true, 5, 0}},
           2, 0);
    Expect("jump across the wrap", false, {{'C', 65533, true, 1, 0}, {'C', 2, true, 5, kLost}}, 3,
           0);
    // An incomplete buffer is one exposure: broken, and the next counter passes it without
    // calling it lost; a second exposure in that gap was lost.
    Expect("broken", false,
           {{'C', 40, true, 1, 0},
            {'I', 0, true, 0, kNoPixels},
            {'C', 42, true, 3, 0},
            {'I', 0, true, 0, kNoPixels},
            {'C', 45, true, 6, kLost}},
           1, 0);
    // Broken frames before the first whole one still count as exposures.
    Expect("broken first", false,
           {{'I', 0, true, 0, kNoPixels}, {'I', 0, true, 0, kNoPixels}, {'C', 900, true, 3, 0}}, 0,
           0);
    // A whole frame that arrives after a later one was counted is not delivered twice.
    Expect("late", false,
           {{'C', 5, true, 1, 0},
            {'C', 8, true, 4, kLost},
            {'C', 6, false, 0, 0},
            {'C', 8, false, 0, 0},
            {'C', 9, true, 5, 0}},
           2, 2);
    // Told to, incomplete frames are lost frames: not delivered, and the next one says so.
    Expect("incomplete as lost", true,
           {{'C', 3, true, 1, 0}, {'I', 0, false, 0, 0}, {'C', 5, true, 3, kLost}}, 1, 0);
}

TEST(GenicamFrameClock, CameraSpacingOnTheHostClock) {
    CFrameClock clock;
    // The first stamped frame fixes the offset; later ones keep the camera's spacing whatever
    // their arrival.
    EXPECT_EQ(clock.Stamp(5000000000ull, 900000), 900000u);
    EXPECT_EQ(clock.Stamp(5020000000ull, 20950000), 20900000u);
    EXPECT_EQ(clock.Stamp(5040000000ull, 40910000), 40900000u);
    // No camera stamp: the arrival time.
    EXPECT_EQ(clock.Stamp(0, 61000000), 61000000u);
    EXPECT_EQ(clock.Stamp(5080000000ull, 81500000), 80900000u);
    // A camera clock that went back (a reset) is anchored anew.
    EXPECT_EQ(clock.Stamp(1000, 100000000), 100000000u);
    EXPECT_EQ(clock.Stamp(20001000, 120300000), 120000000u);
}

TEST(GenicamPixelFormats, UnpackedMonochromeOnly) {
    const struct {
        const char* name;
        uint32_t pfnc, code, bytes, bits;
    } taken[] = {{"Mono8", 0x01080001, 2, 1, 8},
                 {"Mono10", 0x01100003, 4, 2, 10},
                 {"Mono12", 0x01100005, 6, 2, 12},
                 {"Mono16", 0x01100007, 16, 2, 16}};
    for (const auto& t : taken) {
        const Vyx::genicam::PixelFormatInfo* byCode = FindPixelFormat(t.pfnc);
        ASSERT_NE(byCode, nullptr) << t.name;
        EXPECT_EQ(byCode, FindPixelFormat(std::string(t.name)));
        EXPECT_EQ(byCode->code, t.code) << t.name;
        EXPECT_EQ(byCode->bytesPerPixel, t.bytes) << t.name;
        EXPECT_EQ(byCode->bitsPerPixel, t.bits) << t.name;
    }
    // Packed, Bayer and colour formats cannot be copied row by row as they are.
    for (uint32_t refused :
         {0x010C0006u /* Mono12Packed */, 0x01080009u /* BayerRG8 */, 0x02180014u /* RGB8 */})
        EXPECT_EQ(FindPixelFormat(refused), nullptr) << std::hex << refused;
    EXPECT_EQ(FindPixelFormat(std::string("RGB8")), nullptr);
}
