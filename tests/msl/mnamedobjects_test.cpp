// Named objects that other processes open: shared memory segments and events; and the vyxshm
// tool against ring buffers that these tests write byte by byte from the documented layout,
// without the ring-buffer library: what any client program would find in a segment.
#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/mnamedevent.h"
#include "msl/mipc/msharedmem.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"
#include "tests/support/testsupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

using vyx::test::RawSegment;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::UniqueName;
using vyx::trace::TraceCapture;
using Lines = std::vector<std::string>;

namespace {

#if defined(_WIN32)
// What the system answers for a name that belongs to an object of another kind.
constexpr int kNotAnEvent = ERROR_INVALID_HANDLE;

bool EventExists(const std::string& name) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    if (event != nullptr)
        CloseHandle(event);
    return event != nullptr;
}
#else
constexpr int kNotAnEvent = EINVAL;
const auto EventExists = vyx::test::SegmentExists;
#endif

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

// How `list` and MSharedMem_Create name this test process among a segment's mappers, and the
// size `list` shows. Windows does not tell which processes map a segment, and knows only the
// size of a view: whole pages.
#if defined(_WIN32)
const std::string kSelf = "unknown", kUser = "another process (Windows does not tell which)";
constexpr size_t kPage = 4096;
#else
const std::string kSelf = std::to_string(getpid()) + "/test_msl", kUser = kSelf;
constexpr size_t kPage = 1;
#endif

std::string Listed(size_t size) {
    return std::to_string((size + kPage - 1) / kPage * kPage);
}

// What a command that succeeds prints.
std::string Output(const TempDir& dir, const std::string& args) {
    Result r = RunTool(dir, args);
    EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    return r.out;
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

// An event that a test creates under a name of its own.
class NamedEvent : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(event, nullptr); }
    // The creator's close removes the event.
    void TearDown() override {
        if (event != nullptr) {
            EXPECT_EQ(MNamedEvent_Close(event), 1);
            EXPECT_FALSE(EventExists(name));
        }
    }
    std::string name = UniqueName("preview") + ".event";
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
};
class NamedEventConcurrency : public NamedEvent {};

TEST_F(NamedEventConcurrency, SignalResetAndWaitShareOneStateBetweenHandlesAndThreads) {
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MNamedEvent_Wait(event, 30), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    // One signal releases every waiting thread.
    int payload = 0;
    int seen[3] = {0, 0, 0};
    std::vector<std::thread> waiters;
    for (int& slot : seen)
        waiters.emplace_back([&] {
            if (MNamedEvent_Wait(event, kMNamedEventInfinite) == 1)
                slot = payload; // published by the signal
        });
    payload = 42;
    EXPECT_EQ(MNamedEvent_Signal(event), 1);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(seen[0] + seen[1] + seen[2], 3 * 42);
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 1);
    EXPECT_EQ(MNamedEvent_Wait(event, kMNamedEventInfinite), 1) << "manual reset: stays set";
    // A second handle shares the state, and creating an existing event opens it as it is.
    MNamedEvent* again = MNamedEvent_Create(name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(MNamedEvent_Wait(again, 0), 1);
    EXPECT_EQ(MNamedEvent_Reset(again), 1);
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    EXPECT_EQ(MNamedEvent_Close(again), 1);
    EXPECT_TRUE(EventExists(name)) << "only the creator's close removes the event";
}

#if defined(_WIN32)
TEST_F(NamedEvent, IsANamedWindowsEventThatClientsUseDirectly) {
    HANDLE client = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
    ASSERT_NE(client, nullptr) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(client, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_EQ(MNamedEvent_Signal(event), 1);
    EXPECT_EQ(WaitForSingleObject(client, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(client, 0), WAIT_OBJECT_0) << "manual reset: stays set";
    ASSERT_TRUE(ResetEvent(client)); // the client took the image
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    ASSERT_TRUE(SetEvent(client));
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 1);
    CloseHandle(client);
}
#else
TEST_F(NamedEvent, StateIsTheSharedWordThatClientsUseDirectly) {
    const std::string path = "/dev/shm/" + name;
    EXPECT_EQ(ReadFileBytes(path), std::string("VEVT") + std::string(60, '\0'));
    EXPECT_EQ(MNamedEvent_Signal(event), 1);
    EXPECT_EQ(ReadFileBytes(path).substr(0, 8), std::string("VEVT\1\0\0\0", 8));
    EXPECT_EQ(MNamedEvent_Reset(event), 1);
    EXPECT_EQ(ReadFileBytes(path).substr(0, 8), std::string("VEVT\0\0\0\0", 8));
}
#endif

TEST_F(NamedEvent, OpenRefusesMissingAndForeignObjects) {
    TraceCapture capture;
    std::string missing = UniqueName("nothing");
    EXPECT_EQ(MNamedEvent_Open(missing.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_GetLastError(), ENOENT); // ERROR_FILE_NOT_FOUND on Windows
    EXPECT_EQ(MNamedEvent_Open("a/b"), nullptr);
    EXPECT_EQ(MNamedEvent_Create(""), nullptr);
    RawSegment foreign("segment", 4096); // zero bytes: no magic
    ASSERT_NE(foreign.bytes, nullptr);
    EXPECT_EQ(MNamedEvent_Open(foreign.name.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_Create(foreign.name.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_GetLastError(), kNotAnEvent);
    EXPECT_EQ(foreign.Bytes(), std::string(4096, '\0')) << "someone else's object is left alone";
    EXPECT_EQ(MNamedEvent_Wait(nullptr, 0), -1);
    const std::string notAnEvent = "\" is not an event (" + std::to_string(kNotAnEvent) + ")";
    EXPECT_EQ(capture.ErrTrace(), (Lines{"MNamedEvent_Open(): cannot open \"" + missing + "\" (2)",
                                         "MNamedEvent_Open(): invalid name \"a/b\": contains '/'",
                                         "MNamedEvent_Create(): name == \"\"",
                                         "MNamedEvent_Open(): \"" + foreign.name + notAnEvent,
                                         "MNamedEvent_Create(): \"" + foreign.name + notAnEvent,
                                         "MNamedEvent_Wait(): NULL event"}));
}

VYX_TEST_CHILD(WaitForNamedEvent) {
    vyx::test::Pipe back(args.at(1));
    MNamedEvent* event = MNamedEvent_Open(args.at(0).c_str());
    if (event == nullptr)
        return 1;
    back.Send('w');
    // Far longer than the test waits: a missing wake-up shows as a time-out.
    if (MNamedEvent_Wait(event, 60000) != 1)
        return 2;
    MNamedEvent_Reset(event);
    back.Send('r');
    return MNamedEvent_Close(event) == 1 ? 0 : 3;
}

TEST_F(NamedEventConcurrency, SignalWakesAWaiterInAnotherProcess) {
    vyx::test::Pipe back;
    vyx::test::ChildProcess client("WaitForNamedEvent", {name, back.Token()});
    char byte;
    ASSERT_TRUE(back.Receive(&byte));
#if !defined(_WIN32)
    // Only Linux tells whether the client already blocks; on Windows the signal may also come
    // before the wait, which the kernel's event answers the same way.
    ASSERT_TRUE(client.WaitUntilSleeping()) << "the client never blocked";
#endif
    ASSERT_EQ(MNamedEvent_Signal(event), 1);
    ASSERT_TRUE(back.Receive(&byte));
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0) << "the client's reset is seen here";
    EXPECT_EQ(client.Wait(), 0);
    EXPECT_TRUE(EventExists(name)) << "the client does not remove our event";
}

const auto Exists = vyx::test::SegmentExists;

TEST(MSharedMem, ChecksArgumentsAndNamesRefusesOthersSegmentsAndTheCreatorRemoves) {
    TraceCapture capture;
    std::string name = UniqueName("shm");
    EXPECT_EQ(MSharedMem_Create("", 10), nullptr);
    EXPECT_EQ(MSharedMem_Create(name.c_str(), 0), nullptr);
    EXPECT_EQ(MSharedMem_Create("a/b", 10), nullptr);
    EXPECT_EQ(MSharedMem_Create(std::string(201, 'x').c_str(), 10), nullptr);
    EXPECT_EQ(MSharedMem_Unlink(nullptr), 0);
    EXPECT_EQ(MSharedMem_Destroy(nullptr), 0);
    EXPECT_EQ(MSharedMem_GetSize(nullptr), static_cast<size_t>(-1));
    EXPECT_FALSE(Exists(name));
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"MSharedMem_Create(): name == \"\"", "MSharedMem_Create(): size <= 0",
                     "MSharedMem_Create(): invalid name \"a/b\": contains '/'",
                     "MSharedMem_Create(): invalid name \"" + std::string(40, 'x') +
                         "\": longer than 200 bytes",
                     "MSharedMem_Unlink(): NULL pointer for memory",
                     "MSharedMem_Destroy(): NULL pointer for memory",
                     "MSharedMem_GetSize(): NULL pointer for memory"}));
    capture.Clear();

    // A zero-filled segment of the size asked for; lookups are by the exact address of the
    // view, and the creator removes the name.
    void* created = MSharedMem_Create(name.c_str(), 5000);
    ASSERT_NE(created, nullptr) << capture.Dump();
    EXPECT_EQ(MSharedMem_GetSize(created), 5000u);
    EXPECT_EQ(static_cast<unsigned char*>(created)[4999], 0);
    EXPECT_EQ(MSharedMem_Create(name.c_str(), 100), nullptr);
    EXPECT_EQ(capture.ErrTrace(),
              Lines{"MSharedMem_Create(): name \"" + name + "\" already exist"});
    void* inside = static_cast<char*>(created) + 8;
    EXPECT_EQ(MSharedMem_GetSize(inside), static_cast<size_t>(-1));
    EXPECT_EQ(MSharedMem_Destroy(inside), 0);
    EXPECT_EQ(capture.CountErrTrace("MSharedMem_GetName()failed: call MSharedMem_Link() or "
                                    "MSharedMem_LinkOrCreate() first"),
              1);
    EXPECT_EQ(capture.CountErrTrace("MSharedMem_Destroy(): SearchMemLinkInfo() failed"), 1);
    EXPECT_EQ(MSharedMem_Unlink(created), 1);
    EXPECT_FALSE(Exists(name));
    EXPECT_EQ(MSharedMem_Unlink(created), 0);
    EXPECT_EQ(capture.CountErrTrace("MSharedMem_Unlink(): no shared memory registered at"), 1);

    // A segment that someone else has.
    capture.Clear();
    RawSegment foreign("shm", 8192);
    ASSERT_NE(foreign.bytes, nullptr);
    name = foreign.name;
    EXPECT_EQ(MSharedMem_Create(name.c_str(), 100), nullptr);
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"MSharedMem_Create(): \"" + name + "\" is in use by " + kUser,
                     "MSharedMem_Create(): \"" + name + "\" ERROR_ALREADY_EXISTS"}));
    EXPECT_TRUE(Exists(name));

    // Names that would break the lines of listings and replies; UTF-8 is a name like others.
    capture.Clear();
    for (const char* bad : {"a\nb", "\x80", "\xc3(", "del\x7f", "c1\xc2\x85"})
        EXPECT_EQ(MSharedMem_Create(bad, 100), nullptr) << bad;
    EXPECT_EQ(capture.CountErrTrace("invalid name \"a\\x0ab\": contains a control character"), 1);
    EXPECT_EQ(capture.CountErrTrace(": not UTF-8"), 2);
    EXPECT_EQ(MSharedMem_Unlink(MSharedMem_Create(UniqueName("sch\xc3\xa4rfe").c_str(), 100)), 1);
}

#if !defined(_WIN32)
// Bytes of this process's mapping at `address` that are mapped in (its Rss in smaps).
size_t ResidentBytes(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    char start[32];
    std::snprintf(start, sizeof start, "%lx-", reinterpret_cast<unsigned long>(address));
    bool inside = false;
    for (std::string line; std::getline(smaps, line);)
        if (line.rfind("Rss:", 0) == 0 && inside)
            return std::stoul(line.substr(4)) * 1024;
        else if (line.find(' ') > line.find('-'))
            inside = line.rfind(start, 0) == 0;
    return 0;
}

// A process that made a segment, filled it and then died with it (killed by the parent), or
// one that is still setting one up: it holds the creator's lock but maps nothing yet.
VYX_TEST_CHILD(MakeSegmentAndHold) {
    vyx::test::Pipe toParent(args.at(1));
    const std::string name = args.at(0);
    if (args.at(2) == "setting-up") {
        const int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0 || flock(fd, LOCK_SH) != 0)
            return 1;
    } else {
        auto* bytes = static_cast<unsigned char*>(MSharedMem_Create(name.c_str(), 8192));
        if (bytes == nullptr)
            return 1;
        std::memset(bytes, 0xAB, 8192);
    }
    if (!toParent.Send('m'))
        return 2;
    for (;;)
        pause();
}

TEST(SharedMemConcurrency, StaleSegmentsAreReplacedLiveOnesRefused) {
    TraceCapture capture;
    const std::string name = UniqueName("shm");
    for (const char* how : {"setting-up", "mapped"}) {
        SCOPED_TRACE(how);
        vyx::test::Pipe toParent;
        vyx::test::ChildProcess child("MakeSegmentAndHold", {name, toParent.Token(), how});
        char byte = 0;
        ASSERT_TRUE(toParent.Receive(&byte));
        capture.Clear();
        EXPECT_EQ(MSharedMem_Create(name.c_str(), 4096), nullptr);
        const std::string user = std::string(how) == "mapped"
                                     ? std::to_string(child.Pid()) + "/test_msl"
                                     : "a process that holds it open";
        EXPECT_EQ(
            capture.CountErrTrace("MSharedMem_Create(): \"" + name + "\" is in use by " + user), 1)
            << capture.Dump();
        ASSERT_TRUE(child.Kill());
    }
    // Nobody has it now: a new segment of the new size takes the name.
    auto* bytes = static_cast<unsigned char*>(MSharedMem_Create(name.c_str(), 4096));
    ASSERT_NE(bytes, nullptr) << capture.Dump();
    EXPECT_EQ(ResidentBytes(bytes), 4096u) << "mapped in before the first write";
    EXPECT_EQ(bytes[0] + bytes[4095], 0) << "the old contents came along";
    EXPECT_EQ(MSharedMem_Unlink(bytes), 1);
    EXPECT_FALSE(Exists(name));
}
#endif

// Reads and releases of blocks that another program wrote; and what the tool refuses, with the
// segment left as it was.
TEST(Vyxshm, ReadsAndReleasesBlocksOfAForeignWriter) {
    TempDir dir;
    RawSegment s("vyxshm", 4096), narrow("vyxshm", 1000);
    ASSERT_TRUE(s.bytes && narrow.bytes);
    // 3 blocks of 100 bytes end at 364; the lock array follows at 368.
    Write64(s, 3, 100, 2, 368, {1, 0, 1});
    const std::string missing = UniqueName("vyxshm");
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

    EXPECT_EQ(Output(dir, "info " + s.name),
              "name: " + s.name +
                  "\nsize: 4096\nvariant: 64\nactive: 1\nblock_size: 100\nblocks: 3\n"
                  "write_index: 2\nused: 2\nfree: 1\n");
    EXPECT_EQ(Output(dir, "read " + s.name + " 1"), std::string(100, 'a'));
    EXPECT_EQ(s.Get<uint64_t>(368), 1u) << "a plain read keeps the block";
    EXPECT_EQ(Output(dir, "read " + s.name + " 3 -o " + dir.File("block3") + " --release"), "");
    EXPECT_EQ(ReadFileBytes(dir.File("block3")), std::string(100, 'c'));
    EXPECT_EQ(s.Get<uint64_t>(368 + 16), 0u);
    EXPECT_EQ(Output(dir, "release " + s.name + " 1"), "");
    EXPECT_EQ(s.Get<uint64_t>(368), 0u);

    // The narrow layout; any non-zero lock word means in use. The camera's FIFO tests read the
    // header of the library's own narrow rings.
    Write32(narrow);
    std::memset(narrow.bytes + 32 + 50, 'B', 50);
    narrow.Put<uint32_t>(136, 7);
    EXPECT_EQ(Output(dir, "read " + narrow.name + " 2 --release"), std::string(50, 'B'));
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
    const std::string eventName = UniqueName("vyxshm");
    MNamedEvent* event = MNamedEvent_Create(eventName.c_str());
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(MNamedEvent_Signal(event), 1);

    const std::string list = Output(dir, "list");
    MNamedEvent_Close(event);
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
        EXPECT_NE(list.find(line), std::string::npos) << line << "in\n" << list;
    // Segments without a usable ring buffer are refused.
    for (const RawSegment* s : {&zeros, &overlong, &misplaced}) {
        SCOPED_TRACE(s->name);
        Result r = RunTool(dir, "info " + s->name);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("holds no usable ring buffer"), std::string::npos) << r.err;
        EXPECT_EQ(RunTool(dir, "read " + s->name + " 1").status, 1);
        EXPECT_NE(list.find(s->name + " size=" + Listed(s->size) + " kind=unknown" + mine),
                  std::string::npos)
            << list;
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
    const std::string stale = UniqueName("vyxshm_stale");
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
    const std::string mapped = held.name;

    const std::string list = Output(dir, "list");
    for (const std::string& line : {stale + " size=8192 kind=unknown processes=none\n",
                                    mapped + " size=4096 kind=unknown processes=" + kSelf + "\n"})
        EXPECT_NE(list.find(line), std::string::npos) << line << "in\n" << list;

    Result refused = RunTool(dir, "remove " + mapped);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "vyxshm: \"" + mapped + "\" is mapped by " + kSelf +
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
