// The camera machine on a GenICam camera (Aravis's test cameras, inside the process and over
// GigE Vision on loopback): a scan of 2 s at the camera's frame rate gives one measurand line
// per frame with images of the camera's size in the image FIFO (frames lost on the network
// show as "lock" 1 lines, not as gaps). A camera that goes is the back end's tests' (it stops
// answering) and the simulated camera's (the scan's time-out). Frames come on the library's
// threads: the suite also runs under ThreadSanitizer.

#include "tests/mt_proxy/camera/machinetestutil.h"
#include "tests/support/genicamtestsupport.h"

#include "msl/mipc/mmemblockringbuffer.h"

#include <cmath>

using namespace machinetest;
using vyx::test::FakeGenicamCamera;
using Kind = FakeGenicamCamera::Kind;

class GenicamMachineConcurrency : public CameraMachineTest {
protected:
    struct ScanResult {
        size_t expected = 0; // lines: one per frame period of the camera
        size_t images = 0, lost = 0;
    };
    void TearDown() override {
        CameraMachineTest::TearDown();
        fake.Stop();
    }
    // The machine on the test camera, with an image FIFO and the scandata axes set; false when
    // the test skips (why in `skipped`).
    bool OpenOn(Kind kind, const std::string& extra = "") {
        skipped = FakeGenicamCamera::Unavailable(kind);
        if (!skipped.empty())
            return false;
        std::string why;
        EXPECT_TRUE(fake.Start(kind, why)) << why;
        vyx::test::WriteFileBytes(host.File("camera/vyxcamera.ini"), fake.Ini(extra));
        OpenWithCamera();
        ScanIntoNewFifo(fifo, 64 << 20);
        return !HasFailure();
    }
    // A scan of 2 s polled as the server polls it: a line per frame period, without a gap in
    // the counters. Every image is checked for being there and released.
    ScanResult Scan() {
        ScanResult result;
        const double period = machine->FindAxis("time")->accuracy;
        EXPECT_GT(period, 0.0);
        result.expected = static_cast<size_t>(std::floor(2.0 / period + 1e-9));
        void* ring = machine->FindImageFifo(fifo)->ringBuffer32;
        MOutputChannel out(12);
        std::unique_ptr<MMachScanCommand> scan(machine->NewMMachScanCommand(&out, TimeSpan(2.0)));
        size_t lines = 0;
        uint32_t first = 0, last = 0;
        auto onLine = [&](const std::vector<double>& values) {
            ++lines;
            last = static_cast<uint32_t>(values[1]);
            if (first == 0)
                first = last;
            if (values[2] != 0.0) {
                ++result.lost;
                return;
            }
            const auto block = static_cast<uint32_t>(values[0]);
            result.images += MMemBlockRingBuffer32_GetReadPointer(ring, block) != nullptr;
            MMemBlockRingBuffer32_Release(ring, block);
        };
        EXPECT_TRUE(RunScan(*scan, notifier, onLine, 6000));
        EXPECT_EQ(Take(out), "0000\tevent \"measurement begin\"\r\n");
        EXPECT_EQ(lines, result.expected);
        EXPECT_EQ(last - first + 1, result.expected) << "no gap in counters";
        return result;
    }

    FakeGenicamCamera fake;
    std::string skipped;
    const std::string fifo = vyx::test::UniqueName("vyxgenicam");
};

TEST_F(GenicamMachineConcurrency, TwoSecondsGiveALinePerFrameInBothTestCameras) {
    for (Kind kind : {Kind::InProcess, Kind::GigE}) {
        SCOPED_TRACE(FakeGenicamCamera::Name(kind));
        // Loopback UDP drops packets when the machine is busy; an incomplete frame then counts
        // as lost (a "lock" line), which still keeps one line per frame.
        if (!OpenOn(kind, kind == Kind::GigE ? "incomplete = lost\n" : "")) {
            if (!skipped.empty())
                GTEST_SKIP() << skipped;
            FAIL() << "the machine did not open on the test camera";
        }
        MMachImageInfo info;
        machine->GetProbesystemImageInfo(info);
        EXPECT_EQ(MMemBlockRingBuffer32_GetBlockSize(machine->FindImageFifo(fifo)->ringBuffer32),
                  size_t{info.width} * info.height * info.bytesPerPixel);

        const ScanResult result = Scan();
        EXPECT_EQ(result.images + result.lost, result.expected);
        CloseMachine();
        fake.Stop();
    }
}
