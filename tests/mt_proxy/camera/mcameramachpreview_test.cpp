// Preview memories: images into named shared memory with their event, as a client process
// sees them, the interval, the client that never resets, several previews at once, and every
// way a start or a running preview can fail.

#include "tests/mt_proxy/camera/camerasensortestutil.h"
#include "tests/mt_proxy/camera/machinetestutil.h"
#include "tests/mt_proxy/camera/previewscreen.h"
#if !defined(_WIN32)
#include "tests/support/genicamtestsupport.h" // Aravis's test camera: Linux only
#endif

#include "msl/mipc/mnamedevent.h"
#include "msl/mipc/msharedmem.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"

#include <cstring>
#include <thread>

using namespace machinetest;
using vyx::test::SegmentExists;

namespace {

constexpr uint32_t kWidth = 64, kHeight = 32;

// A picture is the camera's pattern of some frame: every pixel agrees with pixel (0, 0).
bool IsPatternPicture(const uint8_t* pixels) {
    return cameratest::WrongPixels(pixels, kWidth, pixels[0], kWidth, 0, 0, kWidth, kHeight) == 0;
}

// The bytes of the first `size` of preview memory `name` that differ from a picture of `rows`
// rows of `rowBytes` bytes each, packed, from byte `offset` on, with zeros all around it;
// `pixel` gives byte x of the picture's row y from the picture's first byte (a pattern's
// phase). SIZE_MAX when there is no such segment.
size_t WrongBytes(const std::string& name, size_t size, size_t offset, size_t rowBytes, size_t rows,
                  const std::function<uint8_t(size_t y, size_t x, uint8_t)>& pixel) {
    void* view = MSharedMem_Link(name.c_str());
    if (view == nullptr)
        return SIZE_MAX;
    const auto* segment = static_cast<const uint8_t*>(view);
    size_t wrong = 0;
    for (size_t i = 0; i < size; ++i) {
        const bool inside = i >= offset && i < offset + rowBytes * rows;
        const size_t at = i - offset;
        wrong += segment[i] != (inside ? pixel(at / rowBytes, at % rowBytes, segment[offset]) : 0);
    }
    MSharedMem_Unlink(view);
    return wrong;
}

// Counts the images a client takes within `seconds`: waits on the event, takes the image and
// resets the event (when `resets`).
int CountImages(const std::string& segment, double seconds, bool resets) {
    MNamedEvent* event = MNamedEvent_Open((segment + ".event").c_str());
    if (event == nullptr)
        return -1;
    int images = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (MNamedEvent_Wait(event, 20) != 1)
            continue;
        ++images;
        if (!resets)
            break;
        MNamedEvent_Reset(event);
    }
    MNamedEvent_Close(event);
    return images;
}

} // namespace

// A client process: waits for the event, checks the picture in the segment, resets the event,
// three times. Its exit status: 10 no segment, 2x no image, 3x a wrong picture.
VYX_TEST_CHILD(TakePreviewImages) {
    const std::string& segment = args.at(0);
    // The machine makes the event and the segment one after the other: wait for both.
    MNamedEvent* event = nullptr;
    void* view = nullptr;
    if (!vyx::test::WaitUntil([&] {
            event = event != nullptr ? event : MNamedEvent_Open((segment + ".event").c_str());
            return event != nullptr && (view = MSharedMem_Link(segment.c_str())) != nullptr;
        }))
        return 10;
    for (int image = 0; image < 3; ++image) {
        if (MNamedEvent_Wait(event, 20000) != 1)
            return 20 + image;
        if (!IsPatternPicture(static_cast<const uint8_t*>(view)))
            return 30 + image;
        MNamedEvent_Reset(event);
    }
    return 0;
}

class PreviewMemory : public CameraMachineTest {
protected:
    const std::string segment = vyx::test::UniqueName("vyxpreview");
    const std::string other = vyx::test::UniqueName("vyxpreview");
    MOutputChannel reply{21}, reply2{22};
};

class PreviewMemoryConcurrency : public PreviewMemory {};

TEST_F(PreviewMemoryConcurrency, ClientProcessTakesImagesThroughTheEvent) {
    // The client starts before the machine has threads.
    vyx::test::ChildProcess client("TakePreviewImages", {segment});
    OpenSmallCamera("realtime");
    ASSERT_TRUE(machine->StartPreviewMemory(&reply, 0, segment, "Camera:1"));
    EXPECT_EQ(Take(reply), "0000\tevent \"preview begin\"\r\n");
    EXPECT_EQ(client.Wait(), 0) << "10: no segment, 2x: no image, 3x: wrong picture";
    EXPECT_TRUE(machine->UpdatePreviewMemory("Camera:1"));
    EXPECT_TRUE(machine->StopPreviewMemory("Camera:1"));
    EXPECT_FALSE(machine->IsPreviewMemoryRunning("Camera:1"));
    EXPECT_FALSE(SegmentExists(segment)) << "the machine made it";
    EXPECT_FALSE(SegmentExists(segment + ".event"));
    EXPECT_EQ(Take(reply), "");
}

TEST_F(PreviewMemoryConcurrency, IntervalClientThatNeverResetsAndTwoPreviews) {
    OpenSmallCamera("realtime"); // 50 frames per second
    ASSERT_TRUE(machine->StartPreviewMemory(&reply, 200, segment, "Camera:1"));
    const int images = CountImages(segment, 1.0, true);
    EXPECT_GE(images, 3);
    EXPECT_LE(images, 6) << "at most one image per 200 ms (and the first)";

    // A second preview memory, on another segment, under another name ("" is the current
    // probesystem).
    ASSERT_TRUE(machine->StartPreviewMemory(&reply2, 0, other, ""));
    EXPECT_FALSE(machine->StartPreviewMemory(&reply2, 0, other, "Camera:1")); // the name is taken
    EXPECT_EQ(Take(reply2), "0000\tevent \"preview begin\"\r\n0022\terror \"command already "
                            "active\"\r\n");
    // Nobody resets the second one's event: its picture stays the first image.
    EXPECT_EQ(CountImages(other, 0.3, false), 1); // signalled, and stays so
    std::vector<uint8_t> first(kWidth * kHeight);
    void* view = MSharedMem_Link(other.c_str());
    ASSERT_NE(view, nullptr);
    std::memcpy(first.data(), view, first.size());
    EXPECT_TRUE(IsPatternPicture(first.data()));
    EXPECT_EQ(CountImages(other, 0.3, false), 1);
    EXPECT_EQ(std::memcmp(first.data(), view, first.size()), 0) << "no image after the first";
    MSharedMem_Unlink(view);

    // Stopping the second leaves the first receiving.
    EXPECT_TRUE(machine->StopPreviewMemory(""));
    EXPECT_GE(CountImages(segment, 1.0, true), 3);
    EXPECT_TRUE(machine->IsPreviewMemoryRunning("Camera:1"));
    EXPECT_FALSE(machine->StopPreviewMemory(""));
    EXPECT_TRUE(machine->StopPreviewMemory("Camera:1"));
}

TEST_F(PreviewMemory, FailedStartsLeaveNothingBehindARunningOneReportsItsErrors) {
    OpenSmallCamera("manual");
    {
        // A segment that another program has: never written over, whatever its size.
        vyx::test::RawSegment foreign("vyxpreview", kWidth * kHeight);
        ASSERT_NE(foreign.bytes, nullptr);
        foreign.bytes[0] = 0xAB;
        vyx::trace::TraceCapture capture;
        EXPECT_FALSE(machine->StartPreviewMemory(&reply, 0, foreign.name, "Camera:1"));
        EXPECT_EQ(Take(reply), "0021\terror \"shared memory failure\"\r\n");
        EXPECT_EQ(
            capture.CountErrLog("MSharedMem_Create(): \"" + foreign.name + "\" is in use by "), 1)
            << capture.Dump();
        EXPECT_EQ(foreign.bytes[0], 0xAB);
    }

    // No image within the wait (manual mode: the camera sends nothing).
    machine->SetFirstImageTimeoutForTest(0.2);
    EXPECT_FALSE(machine->StartPreviewMemory(&reply, 0, segment, "Camera:1"));
    EXPECT_EQ(Take(reply), "0021\terror \"timeout while waiting for image\"\r\n");
    // A probesystem without images.
    EXPECT_FALSE(machine->StartPreviewMemory(&reply, 0, segment, "unloaded"));
    EXPECT_EQ(Take(reply), "0021\terror \"failed to get necessary memory size\"\r\n");

    EXPECT_FALSE(machine->IsPreviewMemoryRunning("Camera:1"));
    EXPECT_FALSE(SegmentExists(segment));
    EXPECT_FALSE(SegmentExists(segment + ".event"));
    EXPECT_EQ(CImageReceivers_Count(), 1u) << "only the permanent axes callback";

    // A preview that runs reports a camera that stops and a broken frame.
    machine->SetFirstImageTimeoutForTest(20.0);
    std::thread camera(EmitFrameOnceReceivers, 2); // the first image, once the preview waits
    ASSERT_TRUE(machine->StartPreviewMemory(&reply, 0, segment, "Camera:1"));
    camera.join();
    EXPECT_TRUE(machine->UpdatePreviewMemory("Camera:1"));
    // After "set", the picture no longer shows what the camera delivers: zeroed.
    ASSERT_EQ(Set({{"init", 1}}), "");
    EXPECT_EQ(WrongBytes(segment, kWidth * kHeight, 0, kWidth, kHeight,
                         [](size_t, size_t, uint8_t) { return uint8_t{0}; }),
              0u);

    machine->GetCallbackClock().AdvanceForTest(31.0);
    EXPECT_FALSE(machine->UpdatePreviewMemory("Camera:1"));
    EXPECT_EQ(Take(reply), "0000\tevent \"preview begin\"\r\n0021\terror \"no images from "
                           "camera\"\r\n");

    // The client took the image; then the camera sends a broken frame.
    MNamedEvent* event = MNamedEvent_Open((segment + ".event").c_str());
    ASSERT_NE(event, nullptr);
    MNamedEvent_Reset(event);
    MNamedEvent_Close(event);
    ASSERT_TRUE(Vyx::SimControl::EmitFrame({0, false}));
    EXPECT_FALSE(machine->UpdatePreviewMemory("Camera:1"));
    EXPECT_EQ(Take(reply), "0021\terror \"Camera needs restart\"\r\n");
    machine->PollAsyncErrors();
    EXPECT_EQ(MachineChannel(), "0000\tevent \"resync needed\"\r\n");
    EXPECT_TRUE(machine->StopPreviewMemory("Camera:1"));
    EXPECT_FALSE(machine->UpdatePreviewMemory("Camera:1"));
}

// A picture lies at its clip's place in the full frame, the byte offset being the pixel offset
// times bytes per pixel: for a simulated 12-bit camera, which delivers the full frame with its
// clip, and for a GenICam camera, which delivers its clip alone.
TEST_F(PreviewMemory, PictureLiesAtItsClipsPlaceInTheFullFrame) {
    WriteCameraConfig("Width=64\nHeight=32\nPixelFormat=6\nClipX=8\nClipY=4\nClipWidth=16\n"
                      "ClipHeight=8\nMode=manual\n");
    OpenWithCamera();
    std::thread camera(EmitFrameOnceReceivers, 2);
    ASSERT_TRUE(machine->StartPreviewMemory(&reply, 0, segment, "Camera:1"));
    camera.join();
    const uint32_t counter = Vyx::SimControl::GetStats().lastCounter;
    EXPECT_EQ(WrongBytes(segment, 64 * 32 * 2, (4 * 64 + 8) * 2, 16 * 2, 8,
                         [&](size_t y, size_t x, uint8_t) {
                             const uint32_t v =
                                 Vyx::SimControl::PatternPixel(counter, 8 + x / 2, 4 + y);
                             return uint8_t(x % 2 == 0 ? v : v >> 8); // little-endian
                         }),
              0u);
    EXPECT_TRUE(machine->StopPreviewMemory("Camera:1"));
    EXPECT_EQ(Take(reply), "0000\tevent \"preview begin\"\r\n");
    CloseMachine();

#if !defined(_WIN32)
    using vyx::test::FakeGenicamCamera;
    FakeGenicamCamera fake; // inside this process: nothing to stop
    std::string why = FakeGenicamCamera::Unavailable(FakeGenicamCamera::Kind::InProcess);
    if (!why.empty())
        GTEST_SKIP() << why;
    ASSERT_TRUE(fake.Start(FakeGenicamCamera::Kind::InProcess, why)) << why;
    ASSERT_TRUE(vyx::test::WriteFileBytes(host.File("camera/vyxcamera.ini"), fake.Ini()));
    OpenWithCamera();
    // Its 512 x 512 region of the 2048 x 2048 sensor moved while it acquires: to 668, 798.
    ASSERT_EQ(Set({{"imagewidth", 512},
                   {"imageheight", 512},
                   {"imageoffsetx", -100},
                   {"imageoffsety", 30}}),
              kCapabilities);
    ASSERT_TRUE(machine->StartPreviewMemory(&reply, 0, segment, "Camera:1"));
    // The test camera's pattern: (x + y + frame id) mod 255 from the region's corner.
    EXPECT_EQ(WrongBytes(segment, 2048 * 2048, 798 * 2048 + 668, 512, 512,
                         [](size_t y, size_t x, uint8_t k) { return uint8_t((x + y + k) % 255); }),
              0u);
    EXPECT_TRUE(machine->StopPreviewMemory("Camera:1"));
    EXPECT_EQ(Take(reply), "0000\tevent \"preview begin\"\r\n");
    CloseMachine();
#endif
}
