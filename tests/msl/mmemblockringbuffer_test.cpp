#include "platform/trace/tracecapture.h"
#include "tests/msl/ringvariants.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using vyx::test::kNarrow;
using vyx::test::kWide;
using vyx::test::Variant;
using vyx::trace::TraceCapture;

namespace {

class RingBuffer : public testing::TestWithParam<const Variant*> {
protected:
    const Variant& v = *GetParam();
    std::vector<uint64_t> memory = std::vector<uint64_t>(1024);
    uint8_t* base = reinterpret_cast<uint8_t*>(memory.data());

    // Block numbers handed out by `count` write calls, 0 for a null answer.
    std::vector<size_t> TakeBlocks(int count) {
        std::vector<size_t> numbers;
        for (int i = 0; i < count; ++i)
            numbers.push_back(v.index(base, v.write(base)));
        return numbers;
    }

    uint64_t Field(size_t offset) const {
        uint64_t value = 0;
        std::memcpy(&value, base + offset, v.word);
        return value;
    }
    // Header field offsets: 64-bit fields sit at 8..32, 32-bit ones at 4..16.
    uint64_t BlockSizeField() const { return Field(v.word); }
    uint64_t NumEntriesField() const { return Field(2 * v.word); }
    uint64_t WriteIndexField() const { return Field(3 * v.word); }
    uint64_t LockOffsetField() const { return Field(4 * v.word); }
};

} // namespace

TEST(RingBufferCalc, ReservesHeaderAndWorstCaseAlignment) {
    EXPECT_EQ(MMemBlockRingBuffer_CalcMaxEntries(71, 1), 0u);
    EXPECT_EQ(MMemBlockRingBuffer_CalcMaxEntries(80, 1), 1u);
    EXPECT_EQ(MMemBlockRingBuffer_CalcMaxEntries(static_cast<size_t>(-1), 1), 0u);
    EXPECT_EQ(MMemBlockRingBuffer_CalcMaxEntries(120, 10), 2u);
    EXPECT_EQ(MMemBlockRingBuffer_CalcMaxEntries(71 + 3 * (4096 + 8), 4096), 3u);
    EXPECT_EQ(MMemBlockRingBuffer32_CalcMaxEntries(35, 1), 0u);
    EXPECT_EQ(MMemBlockRingBuffer32_CalcMaxEntries(40, 1), 1u);
    EXPECT_EQ(MMemBlockRingBuffer32_CalcMaxEntries(static_cast<size_t>(-1), 1), 0u);
    EXPECT_EQ(MMemBlockRingBuffer32_CalcMaxEntries(UINT32_MAX, 1), 0u);
    // Beyond what 32-bit offsets reach, the segment is used only up to that limit.
    EXPECT_EQ(MMemBlockRingBuffer32_CalcMaxEntries(size_t(1) << 40, 1u << 30),
              (UINT32_MAX - 1 - 35) / ((1u << 30) + 4));
}

TEST_P(RingBuffer, CreateWritesTheByteLayout) {
    std::memset(base, 0xEE, 8 * memory.size());
    ASSERT_EQ(v.create(base, 3, 10), 1);
    EXPECT_EQ(base[0], v.word);
    EXPECT_EQ(base[1], 1);
    EXPECT_EQ(base[2], 0xEE) << "reserved bytes are not written";
    EXPECT_EQ(BlockSizeField(), 10u);
    EXPECT_EQ(NumEntriesField(), 3u);
    EXPECT_EQ(WriteIndexField(), 0u);
    // Header + 30 bytes of blocks, rounded up to the lock word: 94 -> 96, 62 -> 64.
    EXPECT_EQ(LockOffsetField(), v.header == 64 ? 96u : 64u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(Field(LockOffsetField() + i * v.word), 0u);
    EXPECT_EQ(base[v.header], 0xEE) << "block contents are left alone";
    EXPECT_EQ(v.link(base), 1);

    uint8_t* block2 = base + v.header + 10;
    EXPECT_EQ(TakeBlocks(2), (std::vector<size_t>{1, 2}));
    EXPECT_EQ(v.read(base, 2), block2);
    EXPECT_EQ(Field(LockOffsetField() + v.word), 1u) << "lock word of block 2";
    EXPECT_EQ(WriteIndexField(), 1u);
}

TEST_P(RingBuffer, HandsOutFreeBlocksStartingAtTheLastOne) {
    ASSERT_EQ(v.create(base, 3, 16), 1);
    EXPECT_EQ(TakeBlocks(1), std::vector<size_t>{1});
    EXPECT_EQ(v.release(base, 1), 1);
    EXPECT_EQ(TakeBlocks(1), std::vector<size_t>{1}) << "a released last block is reused";

    EXPECT_EQ(TakeBlocks(3), (std::vector<size_t>{2, 3, 0}));
    EXPECT_EQ(v.used(base), 3u);
    EXPECT_EQ(v.free(base), 0u);
    EXPECT_EQ(v.release(base, 2), 1);
    EXPECT_EQ(v.release(base, 2), 0) << "already free";
    EXPECT_EQ(TakeBlocks(2), (std::vector<size_t>{2, 0}));

    // Wrap-around: the search runs past the end to the first free block.
    EXPECT_EQ(v.release(base, 1), 1);
    EXPECT_EQ(TakeBlocks(1), std::vector<size_t>{1});
    EXPECT_EQ(WriteIndexField(), 0u);

    v.deactivate(base);
    EXPECT_EQ(v.release(base, 3), 1);
    EXPECT_EQ(v.write(base), nullptr) << "inactive buffers hand out nothing";
    EXPECT_EQ(v.create(base, 3, 16), 1);
    EXPECT_EQ(v.used(base), 0u);
    EXPECT_EQ(TakeBlocks(1), std::vector<size_t>{1});

    v.reset(base);
    EXPECT_EQ(v.used(base), 0u);
    EXPECT_EQ(WriteIndexField(), 0u);
}

TEST_P(RingBuffer, NumbersOutsideTheBufferOrFreeBlocksGiveNothing) {
    ASSERT_EQ(v.create(base, 4, 8), 1);
    void* first = v.write(base);
    EXPECT_EQ(v.read(base, 0), nullptr);
    EXPECT_EQ(v.read(base, 2), nullptr) << "free block";
    EXPECT_EQ(v.read(base, 5), nullptr);
    EXPECT_EQ(v.read(base, 1), first);
    EXPECT_EQ(v.release(base, 0), 0);
    EXPECT_EQ(v.release(base, 5), 0);
    EXPECT_EQ(v.isUsed(base, 1), 1);
    EXPECT_EQ(v.isUsed(base, 2), 0);
    EXPECT_EQ(v.isUsed(base, 5), 0);

    EXPECT_EQ(v.index(base, base + v.header + 8 * 3 + 7), 4u) << "last byte of block 4";
    EXPECT_EQ(v.index(base, base + v.header + 8 * 4), 0u) << "past the last block";
    EXPECT_EQ(v.index(base, base), 0u) << "inside the header";

    ASSERT_EQ(v.create(base, 0, 8), 1);
    EXPECT_EQ(v.write(base), nullptr);
}

TEST_P(RingBuffer, ResizeKeepsLocksAndRefusesToDropUsedBlocks) {
    TraceCapture capture;
    ASSERT_EQ(v.create(base, 4, 8), 1);
    EXPECT_EQ(TakeBlocks(3), (std::vector<size_t>{1, 2, 3}));
    EXPECT_EQ(v.release(base, 1), 1);

    EXPECT_EQ(v.resize(base, 2), 0);
    EXPECT_EQ(NumEntriesField(), 4u) << "a refused shrink changes nothing";
    std::string message = std::string(v.name) +
                          "_Resize(): Cannot shrink because at least one block is in use with "
                          "index > 2";
    EXPECT_EQ(capture.ErrTrace(), std::vector<std::string>{message});

    // Growing moves the lock words behind the larger block area.
    ASSERT_EQ(v.resize(base, 6), 1);
    EXPECT_EQ(NumEntriesField(), 6u);
    EXPECT_EQ(LockOffsetField(), v.header + 48);
    EXPECT_EQ(WriteIndexField(), 2u) << "growing keeps the search position";
    EXPECT_EQ(v.used(base), 2u);
    EXPECT_EQ(v.isUsed(base, 2) + v.isUsed(base, 3), 2);
    EXPECT_EQ(TakeBlocks(4), (std::vector<size_t>{4, 5, 6, 1}));

    EXPECT_EQ(v.resize(base, 6), 1);
    for (size_t n = 1; n <= 6; ++n)
        if (n != 2)
            v.release(base, n);
    ASSERT_EQ(v.resize(base, 2), 1) << "the highest used block is 2";
    EXPECT_EQ(LockOffsetField(), v.header + 16);
    EXPECT_EQ(WriteIndexField(), 0u);
    EXPECT_EQ(v.used(base), 1u);
    EXPECT_EQ(TakeBlocks(2), (std::vector<size_t>{1, 0}));
}

TEST_P(RingBuffer, LinkRejectsForeignLayouts) {
    TraceCapture capture;
    ASSERT_EQ(v.create(base, 2, 8), 1);
    base[0] = v.word == 8 ? 4 : 8;
    EXPECT_EQ(v.link(base), 0);
    base[0] = static_cast<uint8_t>(v.word);
    uint64_t odd = LockOffsetField() + 2;
    std::memcpy(base + 4 * v.word, &odd, v.word);
    EXPECT_EQ(v.link(base), 0);

    std::vector<std::string> trace = capture.ErrTrace();
    ASSERT_EQ(trace.size(), 2u);
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "%s_Link(): Writer has different sizeof(size_t) [%d] than we do [%zu]", v.name,
                  v.word == 8 ? 4 : 8, v.word);
    EXPECT_EQ(trace[0], expected);
    std::snprintf(expected, sizeof expected,
                  "%s_Link(): Address of locked_array_offset (%p) is not aligned to %zu", v.name,
                  static_cast<void*>(base + odd), v.word);
    EXPECT_EQ(trace[1], expected);
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, RingBuffer, testing::Values(&kWide, &kNarrow),
                         [](const auto& info) {
                             return info.param->word == 8 ? "Wide" : "Narrow";
                         });
