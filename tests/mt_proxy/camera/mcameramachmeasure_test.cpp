// Camera measurements through the scan commands: exact frame sequences from the simulated
// camera in manual mode give exact measurand lines and image blocks; errors end the scan with
// their text; aborting frees what the client can no longer reach.

#include "tests/mt_proxy/camera/machinetestutil.h"

#include "tests/mt_proxy/camera/camerasensortestutil.h"

#include "msl/mipc/mmemblockringbuffer.h"
#include "platform/trace/tracecapture.h"

#include <cstring>

using namespace machinetest;

namespace {

// The measured columns of a line, and their indexes.
const std::vector<std::string> kScandata = {"clock",      "time",          "lock",
                                            "imageindex", "trigger_count", "temp_camera"};
enum Column { kLock = 2, kImageindex = 3, kTriggerCount = 4 };

Vyx::SimFrame Frame(uint32_t counter, bool pixels = true, uint64_t seconds = 0) {
    return {counter, pixels, seconds * 1000000000ull};
}

} // namespace

class CameraMeasurement : public CameraMachineTest {
protected:
    void SetUp() override {
        CameraMachineTest::SetUp();
        OpenSmallCamera("manual");
        Run(&Machine::NewMMachScandataCommand, kScandata);
    }
    void TearDown() override {
        scan.reset();
        Text();
        CameraMachineTest::TearDown();
    }

    // A FIFO of `blocks` blocks of the image's size, selected; 32-bit ones of `blockSize`
    // bytes when given, as a client with another idea of the image lays them out.
    void CreateFifo(uint32_t blocks, bool is64 = false, uint32_t blockSize = kImage) {
        if (machine->FindImageFifo(fifoName) != nullptr) {
            ASSERT_EQ(FifoDelete(fifoName), "");
        }
        const uint64_t size = (is64 ? 71 + 8 : 35 + 4) + blocks * (kImage + (is64 ? 8 : 4));
        MOutputChannel created(7);
        auto* create =
            new MMachImagefifoCreateCommand(&created, machine.get(), fifoName, size, is64);
        ASSERT_EQ(Finish(create, created), "");
        MMachImagefifo* fifo = machine->FindImageFifo(fifoName);
        ASSERT_NE(fifo, nullptr);
        if (blockSize != kImage) {
            ASSERT_TRUE(MMemBlockRingBuffer32_Create(fifo->ringBuffer32, blocks, blockSize));
        }
        ASSERT_EQ(FifoSelect(fifoName), "");
        ring64 = fifo->ringBuffer64;
        ring32 = fifo->ringBuffer32;
    }
    // A scan whose measurement runs (the first poll starts it), or that failed at its start;
    // the lines of the scan before are gone.
    void StartScan(const MMachScanRequest& request, bool runs = true) {
        lines.clear();
        scan.reset(machine->NewMMachScanCommand(&out, request));
        ASSERT_NE(scan, nullptr);
        EXPECT_EQ(scan->IsDone(), !runs);
    }
    // Polls once, as the server does, and takes every line the scan has.
    bool Poll() {
        const bool done = scan->IsDone();
        while (scan->ReadNextLine(line)) {
            EXPECT_EQ(line.size(), kScandata.size());
            lines.push_back(line);
        }
        return done;
    }
    // Polls until the scan is done, as the server does after the last image.
    bool PollToEnd() {
        for (int i = 0; i < 100; ++i)
            if (Poll())
                return true;
        return false;
    }
    std::string Text() { return Take(out); }
    // Frames with these counters, with pixels.
    void Emit(std::initializer_list<uint32_t> counters) {
        for (uint32_t counter : counters)
            ASSERT_TRUE(Vyx::SimControl::EmitFrame(Frame(counter)));
    }
    // A scan over `periods` frame periods, fed frames with these counters, polled to its end.
    void Measure(int periods, std::initializer_list<uint32_t> counters) {
        StartScan(TimeSpan(periods * 0.02));
        Emit(counters);
        EXPECT_TRUE(PollToEnd());
    }
    // A scanpoint (of one frame period) polled once: its measurement runs, or it failed.
    std::unique_ptr<MMachScanpointCommand>
    StartScanpoint(const MMachScanRequest& request = TimeSpan(0.02), bool runs = true) {
        std::unique_ptr<MMachScanpointCommand> point(
            machine->NewMMachScanpointCommand(&out, request));
        EXPECT_EQ(point->IsDone(), !runs);
        return point;
    }
    // One column of every line read.
    std::vector<double> Values(Column column) const {
        std::vector<double> values;
        for (const std::vector<double>& line : lines)
            values.push_back(line[column]);
        return values;
    }
    size_t UsedBlocks() {
        return ring64 != nullptr ? MMemBlockRingBuffer_GetNumUsed(ring64)
                                 : MMemBlockRingBuffer32_GetNumUsed(ring32);
    }
    // Pixels of block `number` that differ from the camera's pattern for `counter`, over the
    // clip rectangle at (x0, y0) of size width x height.
    size_t WrongPixels(uint64_t number, uint32_t counter, uint32_t x0 = 0, uint32_t y0 = 0,
                       uint32_t width = 64, uint32_t height = 32) {
        const auto* block = static_cast<const uint8_t*>(
            ring64 != nullptr
                ? MMemBlockRingBuffer_GetReadPointer(ring64, number)
                : MMemBlockRingBuffer32_GetReadPointer(ring32, static_cast<uint32_t>(number)));
        return block == nullptr
                   ? SIZE_MAX
                   : cameratest::WrongPixels(block, width, counter, 64, x0, y0, width, height);
    }

    static constexpr uint64_t kImage = 64 * 32;
    const std::string fifoName = vyx::test::UniqueName("vyxmeasure");
    MOutputChannel out{9};
    std::unique_ptr<MMachScanCommand> scan;
    std::vector<std::vector<double>> lines;
    std::vector<double> line; // one read by the test itself
    void* ring64 = nullptr;
    void* ring32 = nullptr;
};

TEST_F(CameraMeasurement, LostFramesAreFilledInAndImagesStoredInBothVariants) {
    for (bool is64 : {false, true}) {
        SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
        CreateFifo(8, is64);
        StartScan(TimeSpan(5 * 0.02));
        EXPECT_EQ(Text(), ""); // no line yet, no "measurement begin"
        // The first frame and the one that completes the measurement always wake the server.
        for (uint32_t counter : {1u, 2u, 5u}) {
            const int wakeUps = notifier.wakeUps.load();
            ASSERT_TRUE(Vyx::SimControl::EmitFrame(Frame(counter, true, 100 + counter)));
            EXPECT_TRUE(counter == 2 || notifier.wakeUps.load() == wakeUps + 1) << counter;
        }
        // The server may take lines before a poll saw one: the event still comes first, once.
        lines.emplace_back();
        ASSERT_TRUE(scan->ReadNextLine(lines.back()));
        EXPECT_EQ(Text(), "0000\tevent \"measurement begin\"\r\n");
        EXPECT_TRUE(PollToEnd());
        EXPECT_EQ(Text(), "");
        EXPECT_EQ(lines, (std::vector<std::vector<double>>{{0, 101, 0, 1, 1, 35},
                                                           {1, 102, 0, 2, 2, 35},
                                                           {2, 105, 1, 0, 3, 35},
                                                           {3, 105, 1, 0, 4, 35},
                                                           {4, 105, 0, 3, 5, 35}}));
        for (const auto& [block, counter] : {std::pair{1u, 1u}, {2u, 2u}, {3u, 5u}})
            EXPECT_EQ(WrongPixels(block, counter), 0u) << block;
        EXPECT_EQ(UsedBlocks(), 3u); // the client releases them
        // The lines' values are the axes' values now.
        EXPECT_EQ(machine->GetAxisValue("clock"), 4.0);
        scan.reset();
    }
}

TEST_F(CameraMeasurement, CounterBehindAndCounterWrap) {
    CreateFifo(8);
    // 4 lies behind the expected 9: one line for 9 without an image.
    Measure(4, {7, 8, 4, 10});
    EXPECT_EQ(Values(kTriggerCount), (std::vector<double>{7, 8, 9, 10})) << Text();
    EXPECT_EQ(Values(kLock), (std::vector<double>{0, 0, 1, 0}));
    // The counter wraps from 2^32 - 1 to 1, skipping 0, with 2^32 - 1 and 1 lost.
    Measure(4, {0xFFFFFFFEu, 2u, 3u});
    ASSERT_EQ(Values(kTriggerCount), (std::vector<double>{0xFFFFFFFE, 0xFFFFFFFF, 1, 2})) << Text();
    EXPECT_EQ(Values(kLock), (std::vector<double>{0, 1, 1, 0}));
    EXPECT_EQ(WrongPixels(static_cast<uint64_t>(lines[3][kImageindex]), 2), 0u);
}

TEST_F(CameraMeasurement, ErrorsEndTheScanWithTheirTextAndBrokenFramesAfterItAskForAResync) {
    struct Case {
        const char* what;
        std::vector<Vyx::SimFrame> frames;
        const char* error;
        bool overwritten = false; // another process wrote over the FIFO's header
    };
    const Case cases[] = {
        {"broken frame", {Frame(1), Frame(0, false)}, "camera error"},
        {"pixels without a counter", {Frame(1), Frame(0, true)}, "invalid image received"},
        // Four blocks nobody releases: the fifth image has nowhere to go.
        {"full image FIFO",
         {Frame(1), Frame(2), Frame(3), Frame(4), Frame(5)},
         "ringbuffer overflow"},
        // 1000 blocks, the next at the end: far beyond the segment.
        {"header beyond the segment", {Frame(1), Frame(2)}, "ringbuffer damaged", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CreateFifo(4);
        StartScan(TimeSpan(10 * 0.02));
        auto overwrite = [&](uint32_t entries, uint32_t writeIndex) {
            const uint32_t header[] = {entries, writeIndex};
            std::memcpy(static_cast<uint8_t*>(ring32) + 8, header, sizeof header);
        };
        for (const Vyx::SimFrame& frame : c.frames) {
            ASSERT_TRUE(Vyx::SimControl::EmitFrame(frame));
            if (c.overwritten)
                overwrite(1000, 999);
        }
        machine->PollAsyncErrors(); // the server's round ended before the scan saw the frame
        if (c.overwritten)
            overwrite(4, 0);         // for the checks below
        EXPECT_TRUE(scan->IsDone()); // the server has not fetched a line yet
        EXPECT_EQ(Text(), "0000\tevent \"measurement begin\"\r\n0009\terror \"" +
                              std::string(c.error) + "\"\r\n");
        EXPECT_EQ(UsedBlocks(), 0u) << "the lines' images must be freed";
        EXPECT_FALSE(scan->ReadNextLine(line)) << "lines must be dropped";
        // One "resync needed" for a broken frame, whoever polls first.
        EXPECT_EQ(MachineChannel(), c.frames[1].pixels ? "" : "0000\tevent \"resync needed\"\r\n");
        scan.reset();
    }
    // Broken frames between measurements: one wake-up, one "resync needed".
    const int wakeUps = notifier.wakeUps.load();
    Emit({1});
    EXPECT_EQ(machine->GetAxisValue("trigger_count"), 1.0);
    EXPECT_EQ(machine->GetAxisValue("temp_camera"), 35.0);
    ASSERT_TRUE(Vyx::SimControl::EmitFrame(Frame(0, false)));
    ASSERT_TRUE(Vyx::SimControl::EmitFrame(Frame(0, false)));
    EXPECT_EQ(notifier.wakeUps.load(), wakeUps + 1);
    machine->PollAsyncErrors();
    machine->PollAsyncErrors();
    EXPECT_EQ(MachineChannel(), "0000\tevent \"resync needed\"\r\n");
}

TEST_F(CameraMeasurement, BlockSizeCameraTimeoutArgumentsAndClips) {
    vyx::trace::TraceCapture capture;
    // Blocks one byte smaller than the image are refused at the start, with no error line of
    // their own: the error log, which the server passes on, says why.
    CreateFifo(2, false, kImage - 1);
    StartScan(TimeSpan(0.02), false);
    EXPECT_EQ(Text(), "");
    EXPECT_EQ(capture.CountErrLog("IsDone() [scan]: ringbuffer blocks too small"), 1);

    // The clip grows during a scan beyond the blocks laid out for it, by one byte: the block
    // taken for the frame goes back, and the scan ends.
    ASSERT_EQ(Send("probe.config", "[General]\nChannels=imageheight\n"), "");
    ASSERT_EQ(Set({{"imageheight", 16}}).find("error"), std::string::npos);
    StartScan(TimeSpan(2 * 0.02));
    Text();
    ASSERT_EQ(Set({{"imageheight", 32}}).find("error"), std::string::npos);
    Emit({1});
    EXPECT_TRUE(PollToEnd());
    EXPECT_EQ(Text(), "0009\terror \"ringbuffer blocks too small\"\r\n");
    EXPECT_EQ(UsedBlocks(), 0u);
    CreateFifo(2);

    // A camera that stops delivering while images are expected.
    StartScan(TimeSpan(3 * 0.02));
    Emit({2});
    EXPECT_FALSE(Poll());
    machine->GetCallbackClock().AdvanceForTest(29.0);
    EXPECT_FALSE(Poll());
    machine->GetCallbackClock().AdvanceForTest(2.0);
    EXPECT_TRUE(scan->IsDone());
    EXPECT_EQ(Text(), "0000\tevent \"measurement begin\"\r\n"
                      "0009\terror \"no images from camera\"\r\n");
    EXPECT_EQ(capture.CountErrLog("is_camera_timed_out(): no camera callback called for 31"), 1)
        << capture.Dump();

    // Only "time" can be scanned, over at least one frame period.
    MMachScanRequest xOnly, timeAndX = TimeSpan(1.0);
    xOnly.axes["x"] = timeAndX.axes["x"] = {1.0, 1};
    const std::pair<MMachScanRequest, const char*> wrong[] = {
        {xOnly, "0009\terror \"invalid axis\"\r\n"},
        {timeAndX, "0009\terror \"invalid axis\"\r\n"},
        {TimeSpan(0.5 * 0.02), "0009\terror \"invalid argument\"\r\n"},
    };
    for (const auto& [request, reply] : wrong) {
        StartScan(request, false);
        EXPECT_EQ(Text(), reply);
    }

    // Clipped images land in the blocks row after row.
    ASSERT_EQ(Send("probe.config",
                   "[General]\nChannels=imagewidth,imageheight,imageoffsetx,imageoffsety\n"
                   "[Default]\nAccess=RW\n"),
              "");
    ASSERT_EQ(Set({{"imagewidth", 24}, {"imageheight", 10}}).find("error"), std::string::npos);
    ASSERT_EQ(Set({{"imageoffsetx", 16}, {"imageoffsety", 4}}).find("error"), std::string::npos);
    MCameraImageInfo info;
    ASSERT_TRUE(machine->get_image_info("Camera:1", info));
    CreateFifo(4, false, 24 * 10);
    Measure(2, {1, 2});
    ASSERT_EQ(lines.size(), 2u);
    for (uint32_t i = 0; i < 2; ++i)
        EXPECT_EQ(WrongPixels(static_cast<uint64_t>(lines[i][kImageindex]), i + 1, info.clipX,
                              info.clipY, 24, 10),
                  0u);
    EXPECT_TRUE(info.clipX > 0 && info.clipY > 0) << "the offsets moved it from the corner";
}

TEST_F(CameraMeasurement, ProbesystemChangesScansWithoutProbesystemAndFifoCommands) {
    CreateFifo(8);
    StartScan(TimeSpan(5 * 0.02));
    Emit({1});
    EXPECT_FALSE(Poll());
    // Unloading makes the placeholder the current sensor: the scan ends with what it has, and
    // its FIFO is its own until then.
    ASSERT_EQ(Run(&Machine::NewMMachProbesystemUnloadCommand), kCapabilities);
    EXPECT_EQ(FifoDelete(fifoName), "0007\terror \"command already active\"\r\n");
    EXPECT_TRUE(PollToEnd());
    EXPECT_EQ(Text(), "0000\tevent \"measurement begin\"\r\n");
    EXPECT_EQ(Values(kTriggerCount), (std::vector<double>{1}));
    scan.reset();
    EXPECT_EQ(CImageReceivers_Count(), 1u) << "only the permanent axes callback";

    // Without a probesystem nothing starts, and nothing is left half-started for the next one.
    StartScan(TimeSpan(0.02), false);
    scan->Abort();
    std::unique_ptr<MMachScanpointCommand> point = StartScanpoint(TimeSpan(0.02), false);
    const std::string notLoaded = "0009\terror \"probesystem not loaded\"\r\n";
    EXPECT_EQ(Text(), notLoaded + notLoaded);
    ASSERT_EQ(Run(&Machine::NewMMachProbesystemLoadCommand, "Camera:1", 1), kCapabilities);
    Measure(3, {1, 2, 3});
    EXPECT_EQ(Values(kLock), (std::vector<double>{0, 0, 0}))
        << "a frame handled twice would leave lock lines";

    // FIFO commands during a measurement leave its FIFO alone.
    CreateFifo(8);
    const std::string other = vyx::test::UniqueName("vyxmeasure_other");
    auto create = [&](const std::string& name) { return FifoCreate(name, uint64_t{1} << 20); };
    using Replies = std::vector<std::string>; // in the order of the commands
    const std::string active = "0007\terror \"command already active\"\r\n";
    ASSERT_EQ(create(other), "");
    StartScan(TimeSpan(4 * 0.02));
    Emit({1});
    // Selecting is for the next measurement: this one keeps its FIFO.
    EXPECT_EQ((Replies{FifoReset(), create(fifoName), FifoSelect(other), FifoDelete(fifoName),
                       FifoDelete(other)}),
              (Replies{active, active, "", active, ""}));
    EXPECT_FALSE(Poll());
    Emit({2});
    scan->Abort(); // frees the unread line's block in the measurement's FIFO
    // The one block read is the client's: not laid out anew under it.
    const std::string held = "0007\terror \"wrong state\"\r\n";
    EXPECT_EQ((Replies{FifoSelect(fifoName), FifoReset(), create(fifoName)}),
              (Replies{"", held, held}));
    for (const std::vector<double>& line : lines)
        MMemBlockRingBuffer32_Release(ring32, static_cast<uint32_t>(line[kImageindex]));
    EXPECT_EQ((Replies{FifoReset(), FifoDelete(fifoName)}), (Replies{"", ""}));
}

TEST_F(CameraMeasurement, AbortFreesTheImagesOfTheLinesNotRead) {
    for (bool withImageindex : {true, false}) {
        SCOPED_TRACE(withImageindex ? "imageindex reported" : "imageindex not reported");
        Run(&Machine::NewMMachScandataCommand,
            std::vector<std::string>{"time", withImageindex ? "imageindex" : "clock"});
        CreateFifo(8);
        StartScan(TimeSpan(10 * 0.02));
        Emit({1, 2, 3});
        EXPECT_FALSE(scan->IsDone());
        EXPECT_EQ(UsedBlocks(), withImageindex ? 3u : 0u);
        scan->Abort();
        EXPECT_EQ(UsedBlocks(), 0u);
        EXPECT_FALSE(scan->ReadNextLine(line));
        EXPECT_TRUE(scan->IsDone());
        EXPECT_EQ(Text(), "0000\tevent \"measurement begin\"\r\n");
        // The camera goes on, but nothing is measured any more.
        Emit({4});
        EXPECT_FALSE(scan->ReadNextLine(line));
        scan.reset();
    }
}

TEST_F(CameraMeasurement, ScanpointsTakeOneImageAndLinesOfOneMeasurementNeverReachTheNext) {
    CreateFifo(4);
    // A scanpoint takes one image, or times out.
    std::unique_ptr<MMachScanpointCommand> point = StartScanpoint();
    EXPECT_EQ(Text(), "0000\tevent \"measurement begin\"\r\n");
    Emit({1});
    EXPECT_TRUE(point->IsDone());
    ASSERT_TRUE(point->ReadNextLine(line));
    EXPECT_EQ(line[3], 1.0); // imageindex
    EXPECT_EQ(Text(), "");

    // An end time that has passed before the image came.
    point = StartScanpoint(TimeSpan(0.0, false), false);
    EXPECT_EQ(Text(), "0000\tevent \"measurement begin\"\r\n0009\terror \"probe: no contact\"\r\n");
    point = StartScanpoint(TimeSpan(0.01), false);
    EXPECT_EQ(Text(), "0009\terror \"invalid argument\"\r\n");

    // In a new FIFO: a scanpoint aborted between its image and the next poll, and one done
    // whose line nobody took (its command still there).
    CreateFifo(4);
    std::unique_ptr<MMachScanpointCommand> aborted = StartScanpoint();
    Emit({1});
    aborted->Abort();
    std::unique_ptr<MMachScanpointCommand> unread = StartScanpoint();
    ASSERT_TRUE(Vyx::SimControl::EmitFrame(Frame(2, true, 5)));
    EXPECT_TRUE(unread->IsDone());
    // An absolute end, one and a half frame periods after the camera's time now (5 s): one
    // image.
    StartScan(TimeSpan(machine->GetAxisValue("time") + 1.5 * 0.02, false));
    ASSERT_TRUE(Vyx::SimControl::EmitFrame(Frame(3, true, 7)));
    EXPECT_TRUE(PollToEnd());
    EXPECT_EQ(lines, (std::vector<std::vector<double>>{{0, 7, 0, 1, 3, 35}}));
    unread.reset();
    EXPECT_EQ(UsedBlocks(), 1u) << "only the scan's image, which its client holds";
}
