// Named objects that other processes open: shared memory segments and events.
#include "msl/mipc/mnamedevent.h"
#include "msl/mipc/msharedmem.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"
#include "tests/support/testsupport.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
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

using vyx::test::ReadFileBytes;
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

} // namespace

TEST(NamedEventConcurrency, SignalResetAndWaitShareOneStateBetweenHandlesAndThreads) {
    std::string name = UniqueName("preview") + ".event";
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
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
    EXPECT_EQ(MNamedEvent_Close(event), 1);
    EXPECT_FALSE(EventExists(name));
}

#if defined(_WIN32)
TEST(NamedEvent, IsANamedWindowsEventThatClientsUseDirectly) {
    std::string name = UniqueName("preview") + ".event";
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
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
    EXPECT_EQ(MNamedEvent_Close(event), 1);
}
#else
TEST(NamedEvent, StateIsTheSharedWordThatClientsUseDirectly) {
    std::string name = UniqueName("preview") + ".event";
    const std::string path = "/dev/shm/" + name;
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(ReadFileBytes(path), std::string("VEVT") + std::string(60, '\0'));
    EXPECT_EQ(MNamedEvent_Signal(event), 1);
    EXPECT_EQ(ReadFileBytes(path).substr(0, 8), std::string("VEVT\1\0\0\0", 8));
    EXPECT_EQ(MNamedEvent_Reset(event), 1);
    EXPECT_EQ(ReadFileBytes(path).substr(0, 8), std::string("VEVT\0\0\0\0", 8));
    EXPECT_EQ(MNamedEvent_Close(event), 1);
}
#endif

TEST(NamedEvent, OpenRefusesMissingAndForeignObjects) {
    TraceCapture capture;
    std::string missing = UniqueName("nothing");
    EXPECT_EQ(MNamedEvent_Open(missing.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_GetLastError(), ENOENT); // ERROR_FILE_NOT_FOUND on Windows
    EXPECT_EQ(MNamedEvent_Open("a/b"), nullptr);
    EXPECT_EQ(MNamedEvent_Create(""), nullptr);
    vyx::test::RawSegment foreign("segment", 4096); // zero bytes: no magic
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

TEST(NamedEventConcurrency, SignalWakesAWaiterInAnotherProcess) {
    std::string name = UniqueName("preview") + ".event";
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
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
    EXPECT_EQ(MNamedEvent_Close(event), 1);
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
    vyx::test::RawSegment foreign("shm", 8192);
    ASSERT_NE(foreign.bytes, nullptr);
    name = foreign.name;
#if defined(_WIN32)
    const std::string user = "another process (Windows does not tell which)";
#else
    const std::string user = std::to_string(vyx::test::CurrentProcessId()) + "/test_msl";
#endif
    EXPECT_EQ(MSharedMem_Create(name.c_str(), 100), nullptr);
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"MSharedMem_Create(): \"" + name + "\" is in use by " + user,
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
