// The vyxshm tool against ring buffers that this test writes byte by byte from the documented
// layout, without the ring-buffer library: what any client program would find in a segment.

#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/mnamedevent.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"
#include "tests/support/testsupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

using vyx::test::RawSegment;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs the tool with the arguments (plain words separated by blanks).
Result RunTool(const TempDir& dir, const std::string& args) {
    std::vector<std::string> words;
    std::istringstream split(args);
    for (std::string word; split >> word;)
        words.push_back(word);
    int status = vyx::test::RunProgram(VYXSHM_PATH, words, dir.File("stdout"), dir.File("stderr"));
    return {status, ReadFileBytes(dir.File("stdout")), ReadFileBytes(dir.File("stderr"))};
}

// 64-bit layout: header fields at 0, 1, 8, 16, 24, 32; blocks from 64; u64 lock words. Each
// block is filled with its own letter from `first`.
void Write64(RawSegment& s, uint64_t blocks, uint64_t blockSize, uint64_t writeIndex,
             uint64_t lockOffset, const std::vector<int>& used, char first = 'a') {
    s.Put<uint8_t>(0, 8);
    s.Put<uint8_t>(1, 1);
    s.Put<uint64_t>(8, blockSize);
    s.Put<uint64_t>(16, blocks);
    s.Put<uint64_t>(24, writeIndex);
    s.Put<uint64_t>(32, lockOffset);
    for (uint64_t i = 0; i < blocks; ++i) {
        std::memset(s.bytes + 64 + i * blockSize, first + int(i), blockSize);
        s.Put<uint64_t>(lockOffset + 8 * i, used[i]);
    }
}

// 32-bit layout: fields at 0, 1, 4, 8, 12, 16; blocks from 32; u32 lock words at 132, just
// after two blocks of 50 bytes. Blocks and lock words are left as they are.
void Write32(RawSegment& s, uint8_t active = 1) {
    s.Put<uint8_t>(0, 4);
    s.Put<uint8_t>(1, active);
    s.Put<uint32_t>(4, 50);
    s.Put<uint32_t>(8, 2);
    s.Put<uint32_t>(16, 132);
}

// How `list` names this test process among a segment's mappers, and the size it shows.
// Windows does not tell which processes map a segment, and knows only the size of a view:
// whole pages.
#if defined(_WIN32)
const std::string kSelf = "unknown";
constexpr size_t kPage = 4096;
#else
const std::string kSelf = std::to_string(getpid()) + "/test_msl";
constexpr size_t kPage = 1;
#endif

std::string Listed(size_t size) {
    return std::to_string((size + kPage - 1) / kPage * kPage);
}

// A command the tool refuses with its exit status and a part of its message; it prints
// nothing, tells a failure (status 1) in one line and leaves `segment` as it was.
struct Refusal {
    std::string args;
    int status;
    std::string message;
};

void ExpectRefused(const TempDir& dir, const std::vector<Refusal>& cases,
                   const RawSegment& segment) {
    const std::string before = segment.Bytes();
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.args);
        Result r = RunTool(dir, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        if (c.status == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        EXPECT_EQ(segment.Bytes(), before);
    }
}

} // namespace

// Reads and releases of blocks that another program wrote; and what the tool refuses, with the
// segment left as it was.
TEST(Vyxshm, ReadsAndReleasesBlocksOfAForeignWriter) {
    TempDir dir;
    RawSegment s("vyxshm", 4096), narrow("vyxshm", 1000);
    ASSERT_TRUE(s.bytes && narrow.bytes);
    // 3 blocks of 100 bytes end at 364; the lock array follows at 368.
    Write64(s, 3, 100, 2, 368, {1, 0, 1});
    const std::string missing = vyx::test::UniqueName("vyxshm");
    ExpectRefused(
        dir,
        {
            {"read " + s.name + " 2 -o " + dir.File("out"), 1,
             "block 2 of \"" + s.name + "\" is free"},
            {"release " + s.name + " 2", 1, "is free"},
            {"read " + s.name + " 4 --release", 1, "block 4 of \"" + s.name + "\" is out of range"},
            {"release " + s.name + " 0", 1, "out of range (1 to 3)"},
            {"info " + missing, 1, "vyxshm: no shared memory segment \"" + missing + "\""},
            // A write that fails saves nothing and releases nothing.
            {"read " + s.name + " 1 -o " + dir.File("no/such/dir") + " --release", 1, ""},
            {"read " + s.name + " x", 2, "usage: vyxshm list"},
            {"release " + s.name, 2, "usage:"},
            {"info " + s.name + " --release", 2, "usage:"},
            {"frobnicate", 2, "unknown command"},
            {"", 2, "usage:"},
        },
        s);
    EXPECT_FALSE(vyx::test::PathExists(dir.File("out")));

    Result info = RunTool(dir, "info " + s.name);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "name: " + s.name +
                            "\nsize: 4096\nvariant: 64\nactive: 1\nblock_size: 100\nblocks: 3\n"
                            "write_index: 2\nused: 2\nfree: 1\n");
    Result read = RunTool(dir, "read " + s.name + " 1");
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out, std::string(100, 'a'));
    EXPECT_EQ(s.Get<uint64_t>(368), 1u) << "a plain read keeps the block";
    Result saved = RunTool(dir, "read " + s.name + " 3 -o " + dir.File("block3") + " --release");
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(ReadFileBytes(dir.File("block3")), std::string(100, 'c'));
    EXPECT_EQ(s.Get<uint64_t>(368 + 16), 0u);
    EXPECT_EQ(RunTool(dir, "release " + s.name + " 1").status, 0);
    EXPECT_EQ(s.Get<uint64_t>(368), 0u);

    // The narrow layout; any non-zero lock word means in use. The camera's FIFO tests read the
    // header of the library's own narrow rings.
    Write32(narrow);
    std::memset(narrow.bytes + 32 + 50, 'B', 50);
    narrow.Put<uint32_t>(136, 7);
    EXPECT_EQ(RunTool(dir, "read " + narrow.name + " 2 --release").out, std::string(50, 'B'));
    EXPECT_EQ(narrow.Get<uint32_t>(136), 0u);
}

TEST(Vyxshm, ListTellsEveryKindOfSegmentAndOthersAreRefused) {
    TempDir dir;
    RawSegment ring64("vyxshm", 4096), ring32("vyxshm", 1000), fifo("vyxshm", 640),
        damaged("vyxshm", 640), zeros("vyxshm", 4096), overlong("vyxshm", 400),
        misplaced("vyxshm", 4096);
#if !defined(_WIN32)
    RawSegment forged("x\nfake size=1 kind=ring64 \\\xff", 64);
#endif
    ASSERT_TRUE(ring64.bytes && ring32.bytes && fifo.bytes && damaged.bytes && zeros.bytes &&
                overlong.bytes && misplaced.bytes);
    // Three blocks of 100 bytes fit 400 bytes with their lock words; four do not.
    Write64(overlong, 3, 100, 0, 368, {0, 0, 0});
    overlong.Put<uint64_t>(16, 4);
    Write64(misplaced, 3, 100, 0, 368, {0, 0, 0});
    misplaced.Put<uint64_t>(32, 2000); // lock array far from the blocks
    Write64(ring64, 3, 100, 0, 368, {0, 1, 0});
    Write32(ring32, 0); // an inactive ring is still one
    // Line FIFOs of 4 slots of 16 bytes, written by the FIFO's own functions.
    for (RawSegment* s : {&fifo, &damaged}) {
        ASSERT_EQ(MMemLineFifo_Create(s->bytes, 3, 16), 1);
        ASSERT_EQ(MMemLineFifo_IncWritePointer(s->bytes), 1);
        ASSERT_EQ(MMemLineFifo_IncWritePointer(s->bytes), 1);
    }
    damaged.Put<uint64_t>(24, 4); // a read index beyond the ring
    const std::string eventName = vyx::test::UniqueName("vyxshm");
    MNamedEvent* event = MNamedEvent_Create(eventName.c_str());
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(MNamedEvent_Signal(event), 1);

    Result list = RunTool(dir, "list");
    MNamedEvent_Close(event);
    EXPECT_EQ(list.status, 0) << list.err;
    const std::string mine = " processes=" + kSelf + "\n";
    for (const std::string& line : {
             ring64.name + " size=4096 kind=ring64 blocks=3 block_size=100 used=1" + mine,
                 ring32.name + " size=" + Listed(1000) +
                     " kind=ring32 blocks=2 block_size=50 used=0" + mine,
                 fifo.name + " size=" + Listed(640) + " kind=linefifo line_length=16 lines=2" +
                     mine,
                 damaged.name + " size=" + Listed(640) + " kind=unknown" + mine,
#if !defined(_WIN32)
                 // A named event is a segment of its own only where the system has no named
                 // events.
                 eventName + " size=64 kind=event signalled=1" + mine,
                 // Another program's name cannot pass for lines or fields of its own.
                 "x\\x0afake\\x20size=1\\x20kind=ring64\\x20\\x5c\\xff_" +
                     forged.name.substr(forged.name.find("_") + 1) + " size=" + Listed(64) +
                     " kind=unknown" + mine,
#endif
         })
        EXPECT_NE(list.out.find(line), std::string::npos) << line << "in\n" << list.out;
    // Segments without a usable ring buffer are refused.
    for (const RawSegment* s : {&zeros, &overlong, &misplaced}) {
        SCOPED_TRACE(s->name);
        Result r = RunTool(dir, "info " + s->name);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("holds no usable ring buffer"), std::string::npos) << r.err;
        EXPECT_EQ(RunTool(dir, "read " + s->name + " 1").status, 1);
        EXPECT_NE(list.out.find(s->name + " size=" + Listed(s->size) + " kind=unknown" + mine),
                  std::string::npos)
            << list.out;
    }
}

#if defined(_WIN32)
TEST(Vyxshm, TellsWhatWindowsDoesNotKnowOrDo) {
    TempDir dir;
    RawSegment s("vyxshm", 4096);
    ASSERT_NE(s.bytes, nullptr);
    Result list = RunTool(dir, "list");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find(s.name + " size=4096 kind=unknown processes=unknown\n"),
              std::string::npos)
        << list.out;
    EXPECT_EQ(list.err,
              "vyxshm: note: the processes that map a segment are not known on Windows\n");
    for (const std::string& args : {"remove " + s.name, "remove " + s.name + " --force"}) {
        Result r = RunTool(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "vyxshm: cannot remove \"" + s.name +
                             "\": Windows has no removable segment names: a segment goes away "
                             "with the last process that has it open\n");
    }
    // Still there: it is only not a ring buffer.
    EXPECT_NE(RunTool(dir, "info " + s.name).err.find("holds no usable ring buffer"),
              std::string::npos);
}
#else
TEST(Vyxshm, RemoveTakesOnlyWhatNoProcessMapsUnlessForced) {
    TempDir dir;
    // A name that no process maps any more, as a process killed while it held its segment
    // leaves it behind; and one that this process maps.
    const std::string stale = vyx::test::UniqueName("vyxshm_stale");
    const int fd = shm_open(("/" + stale).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    struct Unlink {
        std::string name;
        ~Unlink() { shm_unlink(("/" + name).c_str()); }
    } cleanup{stale};
    ASSERT_EQ(ftruncate(fd, 8192), 0);
    close(fd);
    RawSegment held("vyxshm_mapped", 4096);
    ASSERT_NE(held.bytes, nullptr);
    const std::string mapped = held.name, holderText = kSelf;

    Result list = RunTool(dir, "list");
    EXPECT_NE(list.out.find(stale + " size=8192 kind=unknown processes=none\n"), std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find(mapped + " size=4096 kind=unknown processes=" + holderText + "\n"),
              std::string::npos)
        << list.out;

    Result refused = RunTool(dir, "remove " + mapped);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "vyxshm: \"" + mapped + "\" is mapped by " + holderText +
                               "; not removed (--force removes the name anyway)\n");
    EXPECT_TRUE(vyx::test::PathExists("/dev/shm/" + mapped));
    ExpectRefused(
        dir,
        {{"remove", 2, "NAME is required"},
         {"remove " + stale + " --hard", 2, "--hard"},
         {"remove a/b", 1, "\"a/b\" is not a segment name"},
         {"remove " + stale + "_none", 1, "no shared memory segment \"" + stale + "_none\""}},
        held);

    EXPECT_EQ(RunTool(dir, "remove /" + stale).status, 0);
    EXPECT_FALSE(vyx::test::PathExists("/dev/shm/" + stale));
    EXPECT_EQ(RunTool(dir, "remove " + mapped + " --force").status, 0);
    EXPECT_FALSE(vyx::test::PathExists("/dev/shm/" + mapped));
}
#endif
