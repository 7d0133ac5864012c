// The vyxshm tool against ring buffers that this test writes byte by byte from the documented
// layout, without the ring-buffer library: what any client program would find in a segment.

#include "tests/support/testsupport.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using vyx::test::PathExists;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::UniqueName;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

Result RunTool(const TempDir& dir, std::vector<std::string> args) {
    std::string outPath = dir.File("stdout"), errPath = dir.File("stderr");
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(VYXSHM_PATH)};
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(VYXSHM_PATH, argv.data());
        _exit(127);
    }
    Result result;
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFileBytes(outPath);
    result.err = ReadFileBytes(errPath);
    return result;
}

// A segment of the given size made with plain POSIX calls, removed with the object.
class RawSegment {
public:
    RawSegment(const std::string& name, size_t size) : name(name), size(size) {
        int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0)
            bytes = static_cast<uint8_t*>(
                mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        close(fd);
    }
    ~RawSegment() {
        munmap(bytes, size);
        shm_unlink(("/" + name).c_str());
    }
    template <class T> void Put(size_t offset, T value) {
        std::memcpy(bytes + offset, &value, sizeof value);
    }
    template <class T> T Get(size_t offset) const {
        T value;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    }
    std::string Bytes(size_t offset, size_t count) const {
        return std::string(reinterpret_cast<const char*>(bytes) + offset, count);
    }

    std::string name;
    size_t size;
    uint8_t* bytes = nullptr;
};

// 64-bit layout: header fields at 0, 1, 8, 16, 24, 32; blocks from 64; u64 lock words.
void Write64(RawSegment& s, uint64_t blocks, uint64_t blockSize, uint64_t writeIndex,
             uint64_t lockOffset, const std::vector<int>& used) {
    s.Put<uint8_t>(0, 8);
    s.Put<uint8_t>(1, 1);
    s.Put<uint64_t>(8, blockSize);
    s.Put<uint64_t>(16, blocks);
    s.Put<uint64_t>(24, writeIndex);
    s.Put<uint64_t>(32, lockOffset);
    for (uint64_t i = 0; i < blocks; ++i) {
        std::memset(s.bytes + 64 + i * blockSize, 'a' + int(i), blockSize);
        s.Put<uint64_t>(lockOffset + 8 * i, used[i]);
    }
}

// 32-bit layout: fields at 0, 1, 4, 8, 12, 16; blocks from 32; u32 lock words.
void Write32(RawSegment& s, uint32_t blocks, uint32_t blockSize, uint32_t lockOffset,
             const std::vector<int>& used) {
    s.Put<uint8_t>(0, 4);
    s.Put<uint8_t>(1, 1);
    s.Put<uint32_t>(4, blockSize);
    s.Put<uint32_t>(8, blocks);
    s.Put<uint32_t>(12, 0);
    s.Put<uint32_t>(16, lockOffset);
    for (uint32_t i = 0; i < blocks; ++i) {
        std::memset(s.bytes + 32 + i * blockSize, 'A' + int(i), blockSize);
        s.Put<uint32_t>(lockOffset + 4 * i, used[i]);
    }
}

int Lines(const std::string& text) {
    return int(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(Vyxshm, ReadsAndReleasesBlocksOfAForeignWriter) {
    TempDir dir;
    RawSegment s(UniqueName("vyxshm"), 4096);
    ASSERT_NE(s.bytes, nullptr);
    // 3 blocks of 100 bytes end at 364; the lock array follows at 368.
    Write64(s, 3, 100, 2, 368, {1, 0, 1});

    Result info = RunTool(dir, {"info", s.name});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "name: " + s.name +
                            "\nsize: 4096\nvariant: 64\nactive: 1\nblock_size: 100\nblocks: 3\n"
                            "write_index: 2\nused: 2\nfree: 1\n");

    Result list = RunTool(dir, {"list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find(s.name + " variant=64 blocks=3 block_size=100 used=2\n"),
              std::string::npos)
        << list.out;

    Result read = RunTool(dir, {"read", s.name, "1"});
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out, std::string(100, 'a'));
    EXPECT_EQ(s.Get<uint64_t>(368), 1u) << "a plain read keeps the block";

    Result saved = RunTool(dir, {"read", s.name, "3", "-o", dir.File("block3"), "--release"});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(ReadFileBytes(dir.File("block3")), std::string(100, 'c'));
    EXPECT_EQ(s.Get<uint64_t>(368 + 16), 0u);

    EXPECT_EQ(RunTool(dir, {"release", s.name, "1"}).status, 0);
    EXPECT_EQ(s.Get<uint64_t>(368), 0u);
}

TEST(Vyxshm, ReadsTheNarrowLayout) {
    TempDir dir;
    RawSegment s(UniqueName("vyxshm"), 1000);
    ASSERT_NE(s.bytes, nullptr);
    Write32(s, 2, 50, 132, {0, 7}); // any non-zero lock word means in use
    Result info = RunTool(dir, {"info", "/" + s.name});
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("variant: 32\nactive: 1\nblock_size: 50\nblocks: 2\nwrite_index: "
                            "0\nused: 1\nfree: 1\n"),
              std::string::npos)
        << info.out;
    EXPECT_EQ(RunTool(dir, {"read", s.name, "2", "--release"}).out, std::string(50, 'B'));
    EXPECT_EQ(s.Get<uint32_t>(136), 0u);
}

TEST(Vyxshm, ErrorsLeaveTheSegmentUntouched) {
    TempDir dir;
    RawSegment s(UniqueName("vyxshm"), 4096);
    ASSERT_NE(s.bytes, nullptr);
    Write64(s, 3, 100, 0, 368, {1, 0, 1});
    const std::string before = s.Bytes(0, s.size);

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    std::string missing = UniqueName("vyxshm");
    std::vector<Case> cases = {
        {{"read", s.name, "2", "-o", dir.File("out")}, 1, "block 2 of \"" + s.name + "\" is free"},
        {{"release", s.name, "2"}, 1, "is free"},
        {{"read", s.name, "4", "--release"}, 1, "block 4 of \"" + s.name + "\" is out of range"},
        {{"release", s.name, "0"}, 1, "out of range (1 to 3)"},
        {{"info", missing}, 1, "vyxshm: no shared memory segment \"" + missing + "\""},
        {{"read", s.name, "x"}, 2, "usage: vyxshm list"},
        {{"release", s.name}, 2, "usage:"},
        {{"info", s.name, "--release"}, 2, "usage:"},
        {{"frobnicate"}, 2, "unknown command"},
        {{}, 2, "usage:"},
    };
    for (const Case& c : cases) {
        Result r = RunTool(dir, c.args);
        std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << what;
        if (c.status == 1) {
            EXPECT_EQ(Lines(r.err), 1) << what << ": " << r.err;
        }
    }
    EXPECT_EQ(s.Bytes(0, s.size), before);
    EXPECT_FALSE(PathExists(dir.File("out")));

    // A write that fails saves nothing and releases nothing.
    Result unwritable =
        RunTool(dir, {"read", s.name, "1", "-o", dir.File("no/such/dir"), "--release"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(s.Bytes(0, s.size), before);
}

TEST(Vyxshm, RefusesSegmentsWithoutAUsableRingBuffer) {
    TempDir dir;
    RawSegment zeros(UniqueName("vyxshm"), 4096);
    RawSegment overlong(UniqueName("vyxshm"), 400);
    RawSegment misplaced(UniqueName("vyxshm"), 4096);
    ASSERT_TRUE(zeros.bytes && overlong.bytes && misplaced.bytes);
    // Three blocks of 100 bytes fit 400 bytes with their lock words; four do not.
    Write64(overlong, 3, 100, 0, 368, {0, 0, 0});
    overlong.Put<uint64_t>(16, 4);
    Write64(misplaced, 3, 100, 0, 368, {0, 0, 0});
    misplaced.Put<uint64_t>(32, 2000); // lock array far from the blocks

    for (const RawSegment* s : {&zeros, &overlong, &misplaced}) {
        Result r = RunTool(dir, {"info", s->name});
        EXPECT_EQ(r.status, 1) << s->name;
        EXPECT_NE(r.err.find("holds no usable ring buffer"), std::string::npos) << r.err;
        EXPECT_EQ(RunTool(dir, {"read", s->name, "1"}).status, 1);
    }
    std::string list = RunTool(dir, {"list"}).out;
    for (const RawSegment* s : {&zeros, &overlong, &misplaced})
        EXPECT_EQ(list.find(s->name + " "), std::string::npos) << list;
}
