// Image FIFOs of the camera machine: "imagefifo create", "select", "reset" and "delete" with
// their replies, the ring-buffer variant, the records, and what another process sees.

#include "tests/mt_proxy/camera/machinetestutil.h"

#include "msl/mipc/mmemblockringbuffer.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"

#include <sstream>

#if !defined(_WIN32)
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

using namespace machinetest;

namespace {

constexpr uint64_t kSlot = 1280 * 1024; // the simulated camera's image, 8 bits per pixel

using vyx::test::SegmentExists;

// "key: value" lines of `vyxshm info NAME`, run as a separate process.
std::map<std::string, std::string> VyxshmInfo(const std::string& name) {
    vyx::test::TempDir dir;
    std::map<std::string, std::string> info{
        {"exit", std::to_string(vyx::test::RunProgram(VYX_VYXSHM_PATH, {"info", name},
                                                      dir.File("out"), dir.File("err")))}};
    std::istringstream lines(vyx::test::ReadFileBytes(dir.File("out")));
    for (std::string text; std::getline(lines, text);) {
        const size_t colon = text.find(": ");
        if (colon != std::string::npos)
            info[text.substr(0, colon)] = text.substr(colon + 2);
    }
    return info;
}

} // namespace

class CameraMachineImagefifo : public CameraMachineTest {
protected:
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
    const std::string d = vyx::test::UniqueName("vyxfifo_d");
};

TEST_F(CameraMachineImagefifo, CommandsRepliesRecordsAndSegments) {
    MCameraMachAbstract& m = OpenMachine();
    EXPECT_EQ(FifoCreate(a, 4 << 20), "0007\terror \"probesystem not loaded\"\r\n");
    EXPECT_FALSE(SegmentExists(a));
    LoadCamera();

    // Variants: the 64-bit layout above 2^31 - 1 bytes (or when asked for: below, and by the
    // settings file in the open tests), the 32-bit one up to it. (A FIFO's pages are reserved:
    // the sizes are not tried out.)
    EXPECT_TRUE(MMachImagefifo::Is64Bit(2147483648ull, false));
    EXPECT_FALSE(MMachImagefifo::Is64Bit(2147483647ull, false));
    EXPECT_EQ(FifoCreate(a, 4 << 20), "");
    MOutputChannel out(7);
    EXPECT_EQ(Finish(new MMachImagefifoCreateCommand(&out, &m, b, 8 << 20, true), out), "");
    EXPECT_EQ(Slots(b), ((8 << 20) - 71) / (kSlot + 8));
    const MMachImagefifo* fifo = m.FindImageFifo(a);
    ASSERT_NE(fifo, nullptr);
    EXPECT_EQ(fifo->imageInfo.height, 1024u);
    EXPECT_EQ(Slots(a), 3u);

    // Too small by one byte for a single block: error 49, no record, no segment left.
    EXPECT_EQ(FifoCreate(d, 35 + kSlot + 4 - 1), "0007\terror \"shared memory too small\"\r\n");
    EXPECT_EQ(m.FindImageFifo(d), nullptr);
    EXPECT_FALSE(SegmentExists(d));
    EXPECT_EQ(FifoCreate(d, 35 + kSlot + 4), "");
    EXPECT_EQ(Slots(d), 1u);
    EXPECT_EQ(FifoCreate("bad/name", 4 << 20), "0007\terror \"can't access shared memory\"\r\n");

    // Select names without checking; reset needs a FIFO of that name.
    EXPECT_EQ(FifoReset(), "0007\terror \"no imagefifo active\"\r\n");
    EXPECT_EQ(FifoSelect("never-created"), "");
    EXPECT_EQ(FifoReset(), "0007\terror \"no imagefifo active\"\r\n");
    EXPECT_EQ(FifoSelect(a), "");
    EXPECT_EQ(m.GetAxisValue("imageindex"), 0.0);
    // A smaller image: reset lays out more blocks in the same segment.
    ASSERT_EQ(Send("probe.config", "[General]\nChannels=imageheight\n"), "");
    ASSERT_EQ(Set({{"imageheight", 512}}), kCapabilities);
    EXPECT_EQ(FifoReset(), "");
    EXPECT_EQ(Slots(a), 6u);
    EXPECT_EQ(m.FindImageFifo(a)->imageInfo.height, 512u);
    // Created again: refused before anything is touched (the FIFO stays, listed and active), or
    // replaced, still the active one.
    EXPECT_EQ(FifoCreate(a, 100), "0007\terror \"shared memory too small\"\r\n");
    EXPECT_EQ(VyxshmInfo(a).at("active"), "1");
    EXPECT_EQ(FifoCreate(a, 8 << 20), "");
    EXPECT_EQ(Slots(a), 12u);
    EXPECT_EQ(m.GetActiveImageFifo(), m.FindImageFifo(a));

    std::vector<std::string> names;
    for (MMachImagefifo* f = m.FirstImageFifo(); f != nullptr; f = m.NextImageFifo())
        names.push_back(f->name);
    EXPECT_EQ(names, (std::vector<std::string>{a, b, d}));

    EXPECT_EQ(FifoDelete("nosuch"), "0007\terror \"invalid argument\"\r\n");
    EXPECT_EQ(FifoDelete(a), "");
    EXPECT_EQ(m.GetActiveImageFifoName(), ""); // deleting the active FIFO deselects it
    EXPECT_EQ(m.FindImageFifo(a), nullptr);
    EXPECT_FALSE(SegmentExists(a));
    EXPECT_TRUE(SegmentExists(b));
    // Closing releases every FIFO and its segment.
    CloseMachine();
    for (const std::string& name : {b, d})
        EXPECT_FALSE(SegmentExists(name)) << name;
}

const char kNoSharedMemory[] = "0007\terror \"can't access shared memory\"\r\n";

// When told, the second one (a camera machine of a child process, on a folder of its own: a
// second server, as far as shared memory can tell) asks for the first one's live FIFO.
VYX_TEST_CHILD(SecondMachineCreatesFifo) {
    vyx::test::Pipe go(args.at(1));
    CameraMachine second;
    char turn = 0;
    if (!second.OpenWithCamera() || !go.Receive(&turn))
        return 1;
    return second.FifoCreate(args.at(0), 2 << 20) == kNoSharedMemory ? 0 : 2;
}

TEST_F(CameraMachineImagefifo, SegmentsNotMadeForTheFifoAreNeverAdopted) {
    // The child first: the machine's threads must not be forked.
    vyx::test::Pipe go;
    vyx::test::ChildProcess second("SecondMachineCreatesFifo", {a, go.Token()});
    OpenWithCamera();
    ASSERT_EQ(FifoCreate(a, 4 << 20), "");
    ASSERT_TRUE(go.Send('g'));
    EXPECT_EQ(second.Wait(), 0) << "1: no machine, 2: the second one took the FIFO";
    // Another process sees the first one's FIFO as it made it.
    const auto info = VyxshmInfo(a);
    EXPECT_EQ(info.at("exit") + info.at("variant") + "/" + info.at("blocks") + "x" +
                  info.at("block_size"),
              "032/3x" + std::to_string(kSlot));

    // A preview memory never writes its pixels into a FIFO, nor a FIFO into another segment
    // this process has.
    MOutputChannel preview(8);
    EXPECT_FALSE(machine->StartPreviewMemory(&preview, 0, a, "Camera:1"));
    EXPECT_EQ(Take(preview), "0008\terror \"shared memory failure\"\r\n");
    EXPECT_EQ(VyxshmInfo(a).at("variant"), "32");
    vyx::test::RawSegment other("vyxfifo", 8 << 20);
    ASSERT_NE(other.bytes, nullptr);
    EXPECT_EQ(FifoCreate(other.name, 4 << 20), kNoSharedMemory);
    EXPECT_EQ(other.Get<uint8_t>(0), 0);
}

#if !defined(_WIN32)
// A /dev/shm of 8 MiB that no other test shares, in a mount namespace of this child's own.
// (Windows commits a section's memory when it is made: nothing to provoke there.)
bool MountSmallSharedMemory() {
    if (unshare(CLONE_NEWNS) != 0) {
        const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
            !vyx::test::WriteFileBytes("/proc/self/setgroups", "deny") ||
            !vyx::test::WriteFileBytes("/proc/self/uid_map", "0 " + uid + " 1") ||
            !vyx::test::WriteFileBytes("/proc/self/gid_map", "0 " + gid + " 1"))
            return false;
    }
    // Private first, so that the mount never reaches anyone else's /dev/shm.
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=8m") == 0;
}

VYX_TEST_CHILD(RunOutOfSharedMemory) {
    if (!MountSmallSharedMemory())
        return 77;
    CameraMachine child;
    if (!child.OpenWithCamera() || child.FifoCreate("fifo_a", 7 << 20) != "")
        return 1;
    if (child.FifoCreate("fifo_b", 4 << 20) != kNoSharedMemory)
        return 2; // accepted: its writes would have died of SIGBUS
    MOutputChannel preview(8);
    if (child.machine->StartPreviewMemory(&preview, 0, "preview", "Camera:1") ||
        Take(preview) != "0008\terror \"shared memory failure\"\r\n")
        return 3;
    return 0;
}

TEST(CameraMachineImagefifoMemory, FullSharedMemoryIsTheCreatorsErrorNeverAFaultLater) {
    vyx::test::ChildProcess child("RunOutOfSharedMemory", {});
    const int status = child.Wait();
    if (status == 77)
        GTEST_SKIP() << "no mount namespace for a /dev/shm of our own";
    EXPECT_EQ(status, 0) << "the step that went wrong";
}
#endif
