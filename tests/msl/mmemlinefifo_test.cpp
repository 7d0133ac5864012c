#include "msl/mipc/mmemlinefifo.h"
#include "platform/trace/tracecapture.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using vyx::trace::TraceCapture;

namespace {

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

TEST(LineFifo, CreateWritesTheByteLayout) {
    Area area;
    ASSERT_EQ(MMemLineFifo_Create(area.base, 4, 24), 1);
    const uint64_t slot0 = reinterpret_cast<uintptr_t>(area.base) + 64;
    EXPECT_EQ(area.Field(0), slot0) << "data_start";
    EXPECT_EQ(area.Field(8) + area.Field(16) + area.Field(24), 0u) << "indexes and reader";
    EXPECT_EQ(area.Field(32), 24u) << "line_length";
    EXPECT_EQ(area.Field(40), 5u) << "num_slots";
    EXPECT_EQ(MMemLineFifo_GetWritePointer(area.base), reinterpret_cast<void*>(slot0));
    ASSERT_EQ(MMemLineFifo_Link(area.base), 1);
    EXPECT_EQ(area.Field(16), slot0) << "reader";
    ASSERT_TRUE(Push(area.base, 7));
    EXPECT_EQ(area.Field(8), 1u);
    EXPECT_EQ(area.Field(64), 7u) << "slot 0";
}

TEST(LineFifo, HoldsExactlyTheRequestedLinesAndCountsAcrossTheWrap) {
    Area area;
    void* base = area.base;
    ASSERT_EQ(MMemLineFifo_Create(base, 2, 8), 1);
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    EXPECT_TRUE(Push(base, 1));
    EXPECT_TRUE(Push(base, 2));
    EXPECT_FALSE(Push(base, 3)) << "full";
    EXPECT_EQ(Pop(base), 1);
    EXPECT_TRUE(Push(base, 3)) << "room again once the reader advanced";
    EXPECT_EQ(Pop(base), 2);
    EXPECT_EQ(Pop(base), 3);
    EXPECT_EQ(Pop(base), -1);
    MMemLineFifo_IncReadPointer(base); // empty: nothing moves
    EXPECT_EQ(MMemLineFifo_GetNumLines(base), 0u);

    ASSERT_EQ(MMemLineFifo_Create(base, 4, 8), 1); // 5 slots
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    for (uint64_t i = 0; i < 4; ++i)
        ASSERT_TRUE(Push(base, i));
    EXPECT_EQ((std::vector<int64_t>{Pop(base), Pop(base), Pop(base)}),
              (std::vector<int64_t>{0, 1, 2}));
    ASSERT_TRUE(Push(base, 4));
    ASSERT_TRUE(Push(base, 5)); // write_index wraps to 1, below read_index 3
    EXPECT_EQ(area.Field(8), 1u);
    EXPECT_EQ(area.Field(24), 3u);
    EXPECT_EQ(MMemLineFifo_GetNumLines(base), 3u);
    EXPECT_EQ((std::vector<int64_t>{Pop(base), Pop(base), Pop(base)}),
              (std::vector<int64_t>{3, 4, 5}));
}

TEST(LineFifo, ReaderMustLinkAndOnlyOneMay) {
    TraceCapture capture;
    Area area;
    void* base = area.base;
    ASSERT_EQ(MMemLineFifo_Create(base, 3, 8), 1);
    ASSERT_TRUE(Push(base, 42));
    EXPECT_EQ(MMemLineFifo_GetReadPointer(base), nullptr) << "no reader linked";
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    EXPECT_EQ(MMemLineFifo_Link(base), 0);
    EXPECT_EQ(capture.ErrTrace(),
              std::vector<std::string>{
                  "MMemLineFifo_Link(): Fifo not initialized or already has an exlusive reader"});
    EXPECT_EQ(Pop(base), 42);
}

TEST(LineFifo, CreationChecksAlignment) {
    TraceCapture capture;
    Area area;
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
