// The camera machine with its threads at work: scans on a camera that delivers frames on its
// own thread, a client process that reads and releases the images meanwhile, and autoinfo's
// wake-up thread. These suites also run under ThreadSanitizer.

#include "tests/mt_proxy/camera/machinetestutil.h"

#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/msharedmem.h"
#include "msl/mipc/mthread.h"
#include "platform/trace/tracecapture.h"
#include "tests/mt_proxy/camera/camerasensortestutil.h"
#include "tests/support/childprocess.h"

#include <algorithm>

using namespace machinetest;

namespace {

// The camera's frame, and the frames of the scan.
constexpr uint32_t kWidth = 128, kHeight = 64, kFrames = 1000;

// One line of a measurement to check, as the client reads it: block number and counter.
struct Handed {
    uint64_t block;
    uint32_t counter;
};

// Through the pipe byte by byte: the pipe carries single bytes between the processes.
bool Hand(vyx::test::Pipe& pipe, const Handed& handed) {
    const auto* bytes = reinterpret_cast<const char*>(&handed);
    return std::all_of(bytes, bytes + sizeof handed, [&](char byte) { return pipe.Send(byte); });
}

bool Take(vyx::test::Pipe& pipe, Handed* handed) {
    auto* bytes = reinterpret_cast<char*>(handed);
    for (size_t i = 0; i < sizeof *handed; ++i)
        if (!pipe.Receive(&bytes[i]))
            return false;
    return true;
}

} // namespace

// The client process: gets block number and counter of each line through the pipe, maps the
// FIFO, checks the image and releases the block, until a block 0. Its exit status counts the
// failures: 100 no FIFO, 101 lines missing.
VYX_TEST_CHILD(ReadAndReleaseImages) {
    vyx::test::Pipe handOver(args.at(1));
    void* ring = nullptr;
    int failures = 0;
    uint32_t checked = 0;
    Handed handed{};
    while (Take(handOver, &handed) && handed.block != 0) {
        if (ring == nullptr && (ring = MSharedMem_Link(args.at(0).c_str())) == nullptr)
            return 100;
        const auto* pixels = static_cast<const uint8_t*>(
            MMemBlockRingBuffer32_GetReadPointer(ring, static_cast<uint32_t>(handed.block)));
        if (pixels == nullptr || cameratest::WrongPixels(pixels, kWidth, handed.counter, kWidth, 0,
                                                         0, kWidth, kHeight) != 0)
            ++failures;
        if (!MMemBlockRingBuffer32_Release(ring, static_cast<uint32_t>(handed.block)))
            ++failures;
        ++checked;
    }
    return checked == kFrames ? std::min(failures, 99) : 101;
}

using CameraScanConcurrency = CameraMachineTest;

TEST_F(CameraScanConcurrency, ClientProcessReadsAndReleasesWhileTheCameraRunsFree) {
    const std::string fifo = vyx::test::UniqueName("vyxrealtime");
    // The client starts before any thread of the machine exists.
    vyx::test::Pipe handOver;
    vyx::test::ChildProcess client("ReadAndReleaseImages", {fifo, handOver.Token()});

    // Room for every frame: the client may lag as far behind as it likes.
    WriteCameraConfig("Width=128\nHeight=64\nMode=freerun\n");
    OpenWithCamera();
    ScanIntoNewFifo(fifo, 1100 * (kWidth * kHeight + 4) + 35);
    MOutputChannel out(11);
    std::unique_ptr<MMachScanCommand> scan(
        machine->NewMMachScanCommand(&out, TimeSpan(kFrames * 0.02)));
    size_t lines = 0, lost = 0;
    uint32_t expected = 0;
    const bool finished = RunScan(*scan, notifier, [&](const std::vector<double>& v) {
        ++lines;
        lost += v[2] != 0.0;
        const Handed handed{static_cast<uint64_t>(v[0]), static_cast<uint32_t>(v[1])};
        EXPECT_EQ(handed.counter, expected == 0 ? handed.counter : expected);
        expected = handed.counter + 1;
        if (handed.block != 0) {
            EXPECT_TRUE(Hand(handOver, handed));
        }
    });
    EXPECT_TRUE(Hand(handOver, Handed{0, 0}));
    const int status = client.Wait();
    EXPECT_TRUE(finished);
    EXPECT_EQ(Take(out), "0000\tevent \"measurement begin\"\r\n"); // no "ringbuffer overflow"
    EXPECT_EQ(lines, kFrames);
    EXPECT_EQ(lost, 0u);
    EXPECT_EQ(status, 0) << "100: no FIFO, 101: lines missing, else failed images";
}

class AutoinfoConcurrency : public CameraMachineTest {};

TEST_F(AutoinfoConcurrency, WakesTheServerAndHandsOutValuesOncePerInterval) {
    MCameraMachAbstract& m = OpenMachine();
    const int threadsBefore = MThread_GetRegisteredCount();
    MOutputChannel reply(5);
    {
        vyx::trace::TraceCapture capture(0);
        ASSERT_TRUE(m.StartAutoinfo(&reply, 5, {"init", "scanstep"}));
        EXPECT_EQ(capture.CountTrace("StartAutoinfo(): autoinfo interval too small. Adjusted to "
                                     "10 ms"),
                  1);
    }
    EXPECT_TRUE(m.IsAutoinfoRunning());
    EXPECT_EQ(MThread_GetRegisteredCount(), threadsBefore + 1);
    const int seen = notifier.wakeUps.load();
    EXPECT_TRUE(notifier.WaitBeyond(seen + 2, 10000)) << "the wake-up thread calls WakeUp";
    std::vector<double> values;
    for (int i = 0; i < 1000 && !m.GetAutoinfo(values); ++i)
        notifier.WaitBeyond(notifier.wakeUps.load(), 20);
    EXPECT_EQ(values, (std::vector<double>{1.0, 1.0}));
    m.StopAutoinfo();
    EXPECT_FALSE(m.IsAutoinfoRunning());
    EXPECT_EQ(MThread_GetRegisteredCount(), threadsBefore) << "Stop joins the thread";
    EXPECT_FALSE(m.GetAutoinfo(values));

    // Before the interval: nothing, and the caller's list stays as it was.
    ASSERT_TRUE(m.StartAutoinfo(&reply, 60000, {"init"}));
    values = {42.0};
    EXPECT_FALSE(m.GetAutoinfo(values));
    EXPECT_EQ(values, (std::vector<double>{42.0}));
    m.StopAutoinfo();

    // An unknown axis: error 4 and no thread; the known one before it stays listed until the
    // next stop.
    EXPECT_FALSE(m.StartAutoinfo(&reply, 100, {"init", "nosuch"}));
    EXPECT_EQ(Take(reply), "0005\terror \"invalid axis\"\r\n");
    EXPECT_FALSE(m.IsAutoinfoRunning());
    ASSERT_TRUE(m.StartAutoinfo(&reply, 10, {"scanstep"}));
    values.clear();
    for (int i = 0; i < 1000 && !m.GetAutoinfo(values); ++i)
        notifier.WaitBeyond(notifier.wakeUps.load(), 20);
    EXPECT_EQ(values, (std::vector<double>{1.0, 1.0})); // "init" from before, then "scanstep"
    m.StopAutoinfo();
    EXPECT_EQ(MThread_GetRegisteredCount(), threadsBefore);
}
