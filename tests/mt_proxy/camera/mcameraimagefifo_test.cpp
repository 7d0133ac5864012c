// Image FIFOs of the camera machine: "imagefifo create", "select", "reset" and "delete" with
// their replies, the ring-buffer variant, the records, and what another process sees.

#include "tests/mt_proxy/camera/machinetestutil.h"

#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/msharedmem.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"
#include "tests/support/testsupport.h"

#include <map>
#include <sstream>

using namespace machinetest;

namespace {

constexpr uint64_t kSlot = 1280 * 1024; // the simulated camera's image, 8 bits per pixel

using vyx::test::SegmentExists;

// "key: value" lines of `vyxshm info NAME`, run as a separate process.
std::map<std::string, std::string> VyxshmInfo(const std::string& name) {
    vyx::test::TempDir dir;
    const int status =
        vyx::test::RunProgram(VYX_VYXSHM_PATH, {"info", name}, dir.File("out"), dir.File("err"));
    std::map<std::string, std::string> info;
    std::istringstream lines(vyx::test::ReadFileBytes(dir.File("out")));
    for (std::string text; std::getline(lines, text);) {
        const size_t colon = text.find(": ");
        if (colon != std::string::npos)
            info[text.substr(0, colon)] = text.substr(colon + 2);
    }
    info["exit"] = std::to_string(status);
    return info;
}

} // namespace

class CameraMachineImagefifo : public CameraMachineTest {
protected:
    std::string Create(const std::string& name, uint64_t size) {
        return Run(&Machine::NewMMachImagefifoCreateCommand, name, size);
    }
    std::string Select(const std::string& name) {
        return Run(&Machine::NewMMachImagefifoSelectCommand, name);
    }
    std::string Reset() { return Run(&Machine::NewMMachImagefifoResetCommand); }
    std::string Delete(const std::string& name) {
        return Run(&Machine::NewMMachImagefifoDeleteCommand, name);
    }
    size_t Slots(const std::string& name) {
        const MMachImagefifo* fifo = machine->FindImageFifo(name);
        if (fifo == nullptr)
            return 0;
        return fifo->ringBuffer64 != nullptr
                   ? MMemBlockRingBuffer_GetNumEntries(fifo->ringBuffer64)
                   : MMemBlockRingBuffer32_GetNumEntries(fifo->ringBuffer32);
    }
    const std::string a = vyx::test::UniqueName("vyxfifo_a");
    const std::string b = vyx::test::UniqueName("vyxfifo_b");
    const std::string c = vyx::test::UniqueName("vyxfifo_c");
    const std::string d = vyx::test::UniqueName("vyxfifo_d");
};

TEST_F(CameraMachineImagefifo, CommandsRepliesRecordsAndSegments) {
    MCameraMachAbstract& m = OpenMachine();
    EXPECT_EQ(Create(a, 4 << 20), "0007\terror \"probesystem not loaded\"\r\n");
    EXPECT_FALSE(SegmentExists(a));
    LoadCamera();

    // Variants: the 64-bit layout above 2^31 - 1 bytes, the 32-bit one up to it.
    EXPECT_EQ(Create(a, 4 << 20), "");
    EXPECT_EQ(Create(b, 2147483648ull), "");
    EXPECT_EQ(Create(c, 2147483647ull), "");
    const MMachImagefifo* fifo = m.FindImageFifo(a);
    ASSERT_NE(fifo, nullptr);
    EXPECT_TRUE(fifo->ringBuffer32 != nullptr && fifo->ringBuffer64 == nullptr);
    EXPECT_EQ(fifo->imageInfo.width, 1280u);
    EXPECT_EQ(fifo->imageInfo.height, 1024u);
    EXPECT_EQ(fifo->imageInfo.bytesPerPixel, 1u);
    EXPECT_EQ(Slots(a), 3u);
    EXPECT_TRUE(m.FindImageFifo(b)->ringBuffer64 != nullptr);
    EXPECT_EQ(Slots(b), (2147483648ull - 71 - 8) / (kSlot + 8));
    EXPECT_TRUE(m.FindImageFifo(c)->ringBuffer32 != nullptr);

    // Too small by one byte for a single block: error 49, no record, no segment left.
    EXPECT_EQ(Create(d, 35 + kSlot + 4 - 1), "0007\terror \"shared memory too small\"\r\n");
    EXPECT_EQ(m.FindImageFifo(d), nullptr);
    EXPECT_FALSE(SegmentExists(d));
    EXPECT_EQ(Create(d, 35 + kSlot + 4), "");
    EXPECT_EQ(Slots(d), 1u);
    EXPECT_EQ(Create("bad/name", 4 << 20), "0007\terror \"can't access shared memory\"\r\n");

    // Select names without checking; reset needs a FIFO of that name.
    EXPECT_EQ(Reset(), "0007\terror \"no imagefifo active\"\r\n");
    EXPECT_EQ(Select("never-created"), "");
    EXPECT_EQ(Reset(), "0007\terror \"no imagefifo active\"\r\n");
    EXPECT_EQ(Select(a), "");
    EXPECT_EQ(m.GetActiveImageFifo(), m.FindImageFifo(a));
    EXPECT_EQ(m.GetAxisValue("imageindex"), 0.0);
    EXPECT_EQ(Reset(), "");
    EXPECT_EQ(Slots(a), 3u);
    // A smaller image: reset lays out more blocks in the same segment.
    ASSERT_EQ(
        Run(&Machine::NewMMachSendCommand, "probe.config", "[General]\nChannels=imageheight\n"),
        "");
    ASSERT_EQ(Run(&Machine::NewMMachSetCommand, {{"imageheight", 512}}),
              "0000\tevent \"capabilities changed\"\r\n");
    EXPECT_EQ(Reset(), "");
    EXPECT_EQ(Slots(a), 6u);
    EXPECT_EQ(m.FindImageFifo(a)->imageInfo.height, 512u);

    std::vector<std::string> names;
    for (MMachImagefifo* f = m.FirstImageFifo(); f != nullptr; f = m.NextImageFifo())
        names.push_back(f->name);
    EXPECT_EQ(names, (std::vector<std::string>{a, b, c, d}));

    EXPECT_EQ(Delete("nosuch"), "0007\terror \"invalid argument\"\r\n");
    EXPECT_EQ(Delete(a), "");
    EXPECT_EQ(m.GetActiveImageFifoName(), ""); // deleting the active FIFO deselects it
    EXPECT_EQ(m.FindImageFifo(a), nullptr);
    EXPECT_FALSE(SegmentExists(a));
    EXPECT_TRUE(SegmentExists(b));
    // Closing releases every FIFO and its segment.
    CloseMachine();
    for (const std::string& name : {b, c, d})
        EXPECT_FALSE(SegmentExists(name)) << name;
}

TEST_F(CameraMachineImagefifo, AnotherProcessSeesTheFifo) {
    OpenMachine();
    LoadCamera();
    ASSERT_EQ(Create(a, 16 << 20), "");
    const auto info = VyxshmInfo(a);
    EXPECT_EQ(info.at("exit"), "0");
    EXPECT_EQ(info.at("blocks"), "12");
    EXPECT_EQ(info.at("block_size"), std::to_string(kSlot));
    EXPECT_EQ(info.at("variant"), "32");
}

TEST_F(CameraMachineImagefifo, SegmentMadeLargerElsewhereGivesMoreBlocks) {
    // Another process made the segment, larger than the client asks for.
    vyx::test::RawSegment made("vyxfifo", 8 << 20);
    ASSERT_NE(made.bytes, nullptr);
    const std::string& a = made.name;
    OpenMachine();
    LoadCamera();
    vyx::trace::TraceCapture capture;
    EXPECT_EQ(Create(a, 2 << 20), "");
    EXPECT_EQ(Slots(a), 6u);
    EXPECT_EQ(capture.CountTrace("initialised with 8388608 total size, 6 slots, 1310720 slot size"),
              1)
        << capture.Dump();
    // The same name again replaces the record and keeps one link.
    EXPECT_EQ(Create(a, 2 << 20), "");
    void* view = machine->FindImageFifo(a)->ringBuffer32;
    EXPECT_EQ(Delete(a), "");
    EXPECT_EQ(MSharedMem_GetSize(view), static_cast<size_t>(-1)) << "the machine kept a link";
    EXPECT_TRUE(SegmentExists(a)); // the name belongs to the process that made it
}
