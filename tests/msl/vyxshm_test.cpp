// The vyxshm tool against ring buffers that this test writes byte by byte from the documented
// layout, without the ring-buffer library: what any client program would find in a segment.

#include "tests/msl/crossprocess.h"
#include "tests/support/testsupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <vector>

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

} // namespace

TEST(Vyxshm, ReadsAndReleasesBlocksOfAForeignWriter) {
    TempDir dir;
    RawSegment s("vyxshm", 4096);
    ASSERT_NE(s.bytes, nullptr);
    // 3 blocks of 100 bytes end at 364; the lock array follows at 368.
    Write64(s, 3, 100, 2, 368, {1, 0, 1});
    Result info = RunTool(dir, "info " + s.name);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "name: " + s.name +
                            "\nsize: 4096\nvariant: 64\nactive: 1\nblock_size: 100\nblocks: 3\n"
                            "write_index: 2\nused: 2\nfree: 1\n");
    Result list = RunTool(dir, "list");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find(s.name + " variant=64 blocks=3 block_size=100 used=2\n"),
              std::string::npos)
        << list.out;
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
}

TEST(Vyxshm, ReadsTheNarrowLayout) {
    TempDir dir;
    RawSegment s("vyxshm", 1000);
    ASSERT_NE(s.bytes, nullptr);
    // 32-bit layout: fields at 0, 1, 4, 8, 12, 16; blocks from 32; u32 lock words at 132.
    s.Put<uint8_t>(0, 4);
    s.Put<uint8_t>(1, 1);
    s.Put<uint32_t>(4, 50);
    s.Put<uint32_t>(8, 2);
    s.Put<uint32_t>(16, 132);
    std::memset(s.bytes + 32 + 50, 'B', 50);
    s.Put<uint32_t>(136, 7); // any non-zero lock word means in use
    Result info = RunTool(dir, "info /" + s.name);
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("variant: 32\nactive: 1\nblock_size: 50\nblocks: 2\nwrite_index: "
                            "0\nused: 1\nfree: 1\n"),
              std::string::npos)
        << info.out;
    EXPECT_EQ(RunTool(dir, "read " + s.name + " 2 --release").out, std::string(50, 'B'));
    EXPECT_EQ(s.Get<uint32_t>(136), 0u);
}

TEST(Vyxshm, ErrorsLeaveTheSegmentUntouched) {
    TempDir dir;
    RawSegment s("vyxshm", 4096);
    ASSERT_NE(s.bytes, nullptr);
    Write64(s, 3, 100, 0, 368, {1, 0, 1});
    const std::string before = s.Bytes();
    const std::string missing = vyx::test::UniqueName("vyxshm");
    const struct {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {"read " + s.name + " 2 -o " + dir.File("out"), 1, "block 2 of \"" + s.name + "\" is free"},
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Result r = RunTool(dir, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        if (c.status == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        EXPECT_EQ(s.Bytes(), before);
    }
    EXPECT_FALSE(vyx::test::PathExists(dir.File("out")));
}

TEST(Vyxshm, RefusesSegmentsWithoutAUsableRingBuffer) {
    TempDir dir;
    RawSegment zeros("vyxshm", 4096), overlong("vyxshm", 400), misplaced("vyxshm", 4096);
    ASSERT_TRUE(zeros.bytes && overlong.bytes && misplaced.bytes);
    // Three blocks of 100 bytes fit 400 bytes with their lock words; four do not.
    Write64(overlong, 3, 100, 0, 368, {0, 0, 0});
    overlong.Put<uint64_t>(16, 4);
    Write64(misplaced, 3, 100, 0, 368, {0, 0, 0});
    misplaced.Put<uint64_t>(32, 2000); // lock array far from the blocks
    std::string list = RunTool(dir, "list").out;
    for (const RawSegment* s : {&zeros, &overlong, &misplaced}) {
        SCOPED_TRACE(s->name);
        Result r = RunTool(dir, "info " + s->name);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("holds no usable ring buffer"), std::string::npos) << r.err;
        EXPECT_EQ(RunTool(dir, "read " + s->name + " 1").status, 1);
        EXPECT_EQ(list.find(s->name + " "), std::string::npos) << list;
    }
}
