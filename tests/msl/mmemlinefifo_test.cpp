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

// Lines of 24 bytes: the layout, exactly the requested number of lines, the single reader, and
// the count across the wrap of the indexes.
TEST(LineFifo, LayoutCapacityReaderAndWrap) {
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
