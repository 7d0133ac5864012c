// The shared-memory layouts: block ring buffers of both widths and line FIFOs.
#include "msl/mipc/mmemlinefifo.h"
#include "platform/trace/tracecapture.h"
#include "tests/msl/ringvariants.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using vyx::test::Variant;
using Numbers = std::vector<size_t>;
using vyx::trace::TraceCapture;

namespace {

class RingBuffer : public testing::TestWithParam<const Variant*> {
protected:
    const Variant& v = *GetParam();
    std::vector<uint64_t> memory = std::vector<uint64_t>(1024);
    uint8_t* base = reinterpret_cast<uint8_t*>(memory.data());

    // Block numbers handed out by `count` write calls, 0 for a null answer.
    Numbers Take(int count) {
        Numbers numbers;
        for (int i = 0; i < count; ++i)
            numbers.push_back(v.index(base, v.write(base)));
        return numbers;
    }
    // Header field `i` (1 block_size, 2 num_entries, 3 write_index, 4 locked_array_offset)
    // or the word at a byte offset.
    uint64_t Word(size_t offset) const {
        uint64_t value = 0;
        std::memcpy(&value, base + offset, v.word);
        return value;
    }
    uint64_t Field(int i) const { return Word(i * v.word); }
};

// An 8-aligned area; Field reads the u64 at a byte offset.
struct Area {
    std::vector<uint64_t> words = std::vector<uint64_t>(64);
    void* base = words.data();
    uint64_t Field(size_t offset) const { return words[offset / 8]; }
};

bool Push(void* fifo, uint64_t value) {
    auto* slot = static_cast<uint64_t*>(MMemLineFifo_GetWritePointer(fifo));
    if (slot == nullptr)
        return false;
    *slot = value;
    return MMemLineFifo_IncWritePointer(fifo) == 1;
}

// The oldest line's value, or -1 when there is none.
int64_t Pop(void* fifo) {
    auto* slot = static_cast<uint64_t*>(MMemLineFifo_GetReadPointer(fifo));
    if (slot == nullptr)
        return -1;
    uint64_t value = *slot;
    MMemLineFifo_IncReadPointer(fifo);
    return static_cast<int64_t>(value);
}

} // namespace

TEST(RingBufferCalc, ReservesHeaderAndWorstCaseAlignment) {
    EXPECT_EQ(MMemBlockRingBuffer_CalcMaxEntries(71, 1), 0u);
    EXPECT_EQ(MMemBlockRingBuffer_CalcMaxEntries(10, 1), 0u); // less than the header
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

TEST_P(RingBuffer, ByteLayoutBlockNumbersAndHandingOut) {
    std::memset(base, 0xEE, 8 * memory.size());
    ASSERT_EQ(v.create(base, 3, 10), 1);
    EXPECT_EQ(base[0], v.word);
    EXPECT_EQ(base[1], 1);
    EXPECT_EQ(base[2], 0xEE) << "reserved bytes are not written";
    EXPECT_EQ(Field(1), 10u);
    EXPECT_EQ(Field(2), 3u);
    EXPECT_EQ(Field(3), 0u);
    // Header + 30 bytes of blocks, rounded up to the lock word: 94 -> 96, 62 -> 64.
    const size_t locks = Field(4);
    EXPECT_EQ(locks, v.header == 64 ? 96u : 64u);
    EXPECT_EQ(Word(locks) + Word(locks + v.word) + Word(locks + 2 * v.word), 0u);
    EXPECT_EQ(base[v.header], 0xEE) << "block contents are left alone";
    EXPECT_EQ(v.link(base), 1);

    uint8_t* block2 = base + v.header + 10;
    EXPECT_EQ(Take(2), (Numbers{1, 2}));
    EXPECT_EQ(Word(locks + v.word), 1u) << "lock word of block 2";
    EXPECT_EQ(Field(3), 1u);
    EXPECT_EQ(v.read(base, 2), block2);
    EXPECT_EQ(v.read(base, 0), nullptr);
    EXPECT_EQ(v.read(base, 3), nullptr) << "free block";
    EXPECT_EQ(v.read(base, 4), nullptr);
    EXPECT_EQ(v.release(base, 0) + v.release(base, 4), 0);
    EXPECT_EQ(v.index(base, block2 + 9), 2u) << "last byte of block 2";
    EXPECT_EQ(v.index(base, block2 + 20), 0u) << "past the last block";
    EXPECT_EQ(v.index(base, base), 0u) << "inside the header";

    // Free blocks are handed out starting at the last one.
    ASSERT_EQ(v.create(base, 3, 16), 1);
    EXPECT_EQ(Take(1), Numbers{1});
    EXPECT_EQ(v.release(base, 1), 1);
    EXPECT_EQ(Take(2), (Numbers{1, 2})) << "a released last block is reused";
    EXPECT_EQ(v.release(base, 1), 1);
    EXPECT_EQ(Take(3), (Numbers{3, 1, 0})) << "on from the last one, wrapping around";
    EXPECT_EQ(v.used(base), 3u);
    EXPECT_EQ(v.release(base, 2), 1);
    EXPECT_EQ(v.release(base, 2), 0) << "already free";
    EXPECT_EQ(Take(2), (Numbers{2, 0}));
    EXPECT_EQ(Field(3), 1u);

    v.deactivate(base);
    EXPECT_EQ(v.release(base, 3), 1);
    EXPECT_EQ(v.write(base), nullptr) << "inactive buffers hand out nothing";
    EXPECT_EQ(v.create(base, 3, 16), 1);
    EXPECT_EQ(v.used(base), 0u);
    const uint64_t foreign = 7; // any non-zero lock word means in use, not only our 1
    std::memcpy(base + Field(4), &foreign, v.word);
    EXPECT_EQ(Take(2), (Numbers{2, 3}));
    ASSERT_EQ(v.create(base, 0, 8), 1);
    EXPECT_EQ(v.write(base), nullptr);
}

TEST_P(RingBuffer, LinkRejectsForeignLayouts) {
    TraceCapture capture;
    ASSERT_EQ(v.create(base, 2, 8), 1);
    base[0] = v.word == 8 ? 4 : 8;
    EXPECT_EQ(v.link(base), 0);
    base[0] = static_cast<uint8_t>(v.word);
    uint64_t odd = Field(4) + 2;
    std::memcpy(base + 4 * v.word, &odd, v.word);
    EXPECT_EQ(v.link(base), 0);
    char first[200], second[200];
    std::snprintf(first, sizeof first,
                  "%s_Link(): Writer has different sizeof(size_t) [%d] than we do [%zu]", v.name,
                  v.word == 8 ? 4 : 8, v.word);
    std::snprintf(second, sizeof second,
                  "%s_Link(): Address of locked_array_offset (%p) is not aligned to %zu", v.name,
                  static_cast<void*>(base + odd), v.word);
    EXPECT_EQ(capture.ErrTrace(), (std::vector<std::string>{first, second}));
}

TEST_P(RingBuffer, WriterTrustsOnlyAHeaderThatFitsItsSegment) {
    // 3 blocks of 16 bytes and their lock words in a segment of exactly that size.
    const size_t segment = v.header + 3 * 16 + 3 * v.word;
    ASSERT_EQ(v.create(base, 3, 16), 1);
    EXPECT_EQ(v.fits(base, segment - 1, 16), 0);
    for (size_t expected : {1, 2, 3, 0})
        EXPECT_EQ(v.index(base, v.writeWithin(base, segment, 16)), expected);
    EXPECT_EQ(v.fits(base, segment, 16), 1) << "full is no damage";
    // What another process may have written over the header (field, value), the search
    // starting at the last block.
    const std::pair<int, uint64_t> damage[] = {{2, 4},
                                               {2, uint64_t(1) << (8 * v.word - 2)},
                                               {1, 17},
                                               {4, segment - 2 * v.word},
                                               {4, v.header + 3 * 16 + 1}};
    for (const auto& [field, value] : damage) {
        SCOPED_TRACE(field);
        ASSERT_EQ(v.create(base, 3, 16), 1);
        for (auto [at, word] : {std::pair{field, value}, std::pair{3, uint64_t(2)}})
            std::memcpy(base + at * v.word, &word, v.word);
        EXPECT_EQ(v.fits(base, segment, 16), 0);
        EXPECT_EQ(v.writeWithin(base, segment, 16), nullptr);
    }
    // Blocks whose end lies beyond the address space: the product must not wrap into range.
    const uint64_t huge = uint64_t(1) << (8 * v.word - 1);
    for (auto [at, word] :
         {std::pair{1, huge}, std::pair{2, uint64_t(2)}, std::pair{4, uint64_t(v.header)}})
        std::memcpy(base + at * v.word, &word, v.word);
    EXPECT_EQ(v.fits(base, v.header + 2 * v.word, huge), 0);
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, RingBuffer,
                         testing::Values(&vyx::test::kWide, &vyx::test::kNarrow),
                         [](const auto& info) {
                             return info.param->word == 8 ? "Wide" : "Narrow";
                         });

// Lines of 24 bytes: the layout, exactly the requested number of lines, the single reader, and
// the count across the wrap of the indexes; and the alignment that creation checks.
TEST(LineFifo, LayoutCapacityReaderWrapAndAlignment) {
    TraceCapture capture;
    Area area;
    void* base = area.base;
    ASSERT_EQ(MMemLineFifo_Create(base, 4, 24), 1);
    const uint64_t slot0 = reinterpret_cast<uintptr_t>(base) + 64;
    EXPECT_EQ(area.Field(0), slot0) << "data_start";
    EXPECT_EQ(area.Field(8) + area.Field(16) + area.Field(24), 0u) << "indexes and reader";
    EXPECT_EQ(area.Field(32), 24u) << "line_length";
    EXPECT_EQ(area.Field(40), 5u) << "num_slots";
    EXPECT_EQ(MMemLineFifo_GetWritePointer(base), reinterpret_cast<void*>(slot0));
    for (uint64_t i = 0; i < 4; ++i)
        ASSERT_TRUE(Push(base, 10 + i));
    EXPECT_FALSE(Push(base, 99)) << "full";
    EXPECT_EQ(area.Field(8), 4u);
    EXPECT_EQ(area.Field(64) + area.Field(64 + 24), 21u) << "slots 0 and 1";
    EXPECT_EQ(MMemLineFifo_GetReadPointer(base), nullptr) << "no reader linked";
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    EXPECT_EQ(area.Field(16), slot0) << "reader";
    EXPECT_EQ(MMemLineFifo_Link(base), 0);
    EXPECT_EQ(capture.ErrTrace(),
              std::vector<std::string>{
                  "MMemLineFifo_Link(): Fifo not initialized or already has an exlusive reader"});

    EXPECT_EQ((std::vector<int64_t>{Pop(base), Pop(base), Pop(base)}),
              (std::vector<int64_t>{10, 11, 12}));
    ASSERT_TRUE(Push(base, 14)) << "room again once the reader advanced";
    ASSERT_TRUE(Push(base, 15)); // write_index wraps to 1, below read_index 3
    EXPECT_EQ(area.Field(8), 1u);
    EXPECT_EQ(area.Field(24), 3u);
    EXPECT_EQ(MMemLineFifo_GetNumLines(base), 3u);
    EXPECT_EQ((std::vector<int64_t>{Pop(base), Pop(base), Pop(base), Pop(base)}),
              (std::vector<int64_t>{13, 14, 15, -1}));
    MMemLineFifo_IncReadPointer(base); // empty: nothing moves
    EXPECT_EQ(MMemLineFifo_GetNumLines(base), 0u);
    EXPECT_EQ(area.Field(24), 1u);

    // Creation checks the alignment of the lines.
    capture.Clear();
    void* odd = static_cast<uint8_t*>(area.base) + 4;
    EXPECT_EQ(MMemLineFifo_Create(odd, 2, 8), 0);
    uint64_t dataStart;
    std::memcpy(&dataStart, odd, 8);
    EXPECT_EQ(dataStart, 0u);
    char misaligned[120];
    std::snprintf(misaligned, sizeof misaligned,
                  "MMemLineFifo_Create(): Start address of data (%p) is not aligned to 8",
                  static_cast<void*>(static_cast<uint8_t*>(odd) + 64));
    EXPECT_EQ(capture.ErrTrace(), std::vector<std::string>{misaligned});
}
