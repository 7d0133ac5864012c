#include "msl/mipc/msharedmem.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

using vyx::test::UniqueName;
using vyx::trace::TraceCapture;
using Lines = std::vector<std::string>;

const auto Exists = vyx::test::SegmentExists;

TEST(MSharedMem, ChecksArgumentsAndTheCreatorRemovesTheName) {
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
}

TEST(MSharedMem, SegmentsOthersHaveAreRefusedAndNamesChecked) {
    TraceCapture capture;
    vyx::test::RawSegment foreign("shm", 8192);
    ASSERT_NE(foreign.bytes, nullptr);
    const std::string name = foreign.name;
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
