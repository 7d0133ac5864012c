#include "msl/mipc/mmemlinefifo.h"
#include "platform/trace/tracecapture.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using vyx::trace::TraceCapture;

namespace {

struct Area {
    explicit Area(size_t bytes) : words(bytes / 8 + 1) {}
    void* Base() { return words.data(); }
    uint64_t Field(size_t offset) const {
        uint64_t value;
        std::memcpy(&value, reinterpret_cast<const uint8_t*>(words.data()) + offset, 8);
        return value;
    }
    std::vector<uint64_t> words;
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
    Area area(256);
    void* base = area.Base();
    ASSERT_EQ(MMemLineFifo_Create(base, 4, 24), 1);
    EXPECT_EQ(area.Field(0), reinterpret_cast<uintptr_t>(base) + 64) << "data_start";
    EXPECT_EQ(area.Field(8), 0u) << "write_index";
    EXPECT_EQ(area.Field(16), 0u) << "reader";
    EXPECT_EQ(area.Field(24), 0u) << "read_index";
    EXPECT_EQ(area.Field(32), 24u) << "line_length";
    EXPECT_EQ(area.Field(40), 5u) << "num_slots";
    EXPECT_EQ(MMemLineFifo_GetWritePointer(base), static_cast<uint8_t*>(base) + 64);
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    EXPECT_EQ(area.Field(16), reinterpret_cast<uintptr_t>(base) + 64);
    ASSERT_TRUE(Push(base, 7));
    EXPECT_EQ(area.Field(8), 1u);
    EXPECT_EQ(area.Field(64), 7u) << "slot 0";
}

TEST(LineFifo, HoldsExactlyTheRequestedLines) {
    Area area(256);
    void* base = area.Base();
    ASSERT_EQ(MMemLineFifo_Create(base, 2, 8), 1);
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    EXPECT_TRUE(Push(base, 1));
    EXPECT_TRUE(Push(base, 2));
    EXPECT_FALSE(Push(base, 3)) << "full";
    EXPECT_EQ(MMemLineFifo_GetNumLines(base), 2u);
    EXPECT_EQ(MMemLineFifo_GetNumFree(base), 0u);
    EXPECT_EQ(Pop(base), 1);
    EXPECT_TRUE(Push(base, 3)) << "room again once the reader advanced";
    EXPECT_EQ(Pop(base), 2);
    EXPECT_EQ(Pop(base), 3);
    EXPECT_EQ(Pop(base), -1);
    MMemLineFifo_IncReadPointer(base); // empty: nothing moves
    EXPECT_EQ(MMemLineFifo_GetNumLines(base), 0u);
}

TEST(LineFifo, CountsAcrossTheWrap) {
    Area area(512);
    void* base = area.Base();
    ASSERT_EQ(MMemLineFifo_Create(base, 4, 8), 1); // 5 slots
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    for (uint64_t i = 0; i < 4; ++i)
        ASSERT_TRUE(Push(base, i));
    EXPECT_EQ(Pop(base), 0);
    EXPECT_EQ(Pop(base), 1);
    EXPECT_EQ(Pop(base), 2);
    ASSERT_TRUE(Push(base, 4));
    ASSERT_TRUE(Push(base, 5)); // write_index wraps to 1, below read_index 3
    EXPECT_EQ(area.Field(8), 1u);
    EXPECT_EQ(area.Field(24), 3u);
    EXPECT_EQ(MMemLineFifo_GetNumLines(base), 3u);
    EXPECT_EQ(MMemLineFifo_GetNumFree(base), 1u);
    EXPECT_EQ(Pop(base), 3);
    EXPECT_EQ(Pop(base), 4);
    EXPECT_EQ(Pop(base), 5);

    ASSERT_TRUE(Push(base, 6));
    ASSERT_TRUE(Push(base, 7));
    EXPECT_EQ(MMemLineFifo_Flush(base), 3u) << "the new read index";
    EXPECT_EQ(MMemLineFifo_GetNumLines(base), 0u);
    EXPECT_EQ(Pop(base), -1);
}

TEST(LineFifo, ReaderMustLinkAndOnlyOneMay) {
    TraceCapture capture;
    Area area(256);
    void* base = area.Base();
    ASSERT_EQ(MMemLineFifo_Create(base, 3, 8), 1);
    ASSERT_TRUE(Push(base, 42));
    EXPECT_EQ(MMemLineFifo_GetReadPointer(base), nullptr) << "no reader linked";
    EXPECT_FALSE(MMemLineFifo_HasReader(base));
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    EXPECT_EQ(MMemLineFifo_Link(base), 0);
    EXPECT_EQ(capture.ErrTrace(),
              std::vector<std::string>{
                  "MMemLineFifo_Link(): Fifo not initialized or already has an exlusive reader"});
    EXPECT_EQ(Pop(base), 42);
    MMemLineFifo_Unlink(base);
    EXPECT_EQ(MMemLineFifo_Link(base), 1);

    EXPECT_TRUE(MMemLineFifo_HasWriter(base));
    MMemLineFifo_Close(base);
    EXPECT_FALSE(MMemLineFifo_HasWriter(base));
    EXPECT_EQ(MMemLineFifo_GetWritePointer(base), nullptr);
}

TEST(LineFifo, CreationChecksSizeAndAlignment) {
    TraceCapture capture;
    Area area(256);
    void* base = area.Base();
    ASSERT_EQ(MMemLineFifo_CreateBySize(base, 64 + 2 * 24, 24), 1);
    EXPECT_EQ(area.Field(40), 2u) << "two slots";
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    EXPECT_TRUE(Push(base, 1));
    EXPECT_FALSE(Push(base, 2)) << "two slots hold one line";
    ASSERT_EQ(MMemLineFifo_CreateBySize(base, 200, 24), 1);
    EXPECT_EQ(area.Field(40), 5u);

    EXPECT_EQ(MMemLineFifo_CreateBySize(base, 64 + 24, 24), 0);
    EXPECT_EQ(MMemLineFifo_CreateBySize(base, 10, 24), 0);
    EXPECT_EQ(MMemLineFifo_CreateBySize(base, 1000, 0), 0);
    void* odd = static_cast<uint8_t*>(base) + 4;
    EXPECT_EQ(MMemLineFifo_Create(odd, 2, 8), 0);
    uint64_t dataStart;
    std::memcpy(&dataStart, odd, 8);
    EXPECT_EQ(dataStart, 0u);

    char misaligned[120];
    std::snprintf(misaligned, sizeof misaligned,
                  "MMemLineFifo_Create(): Start address of data (%p) is not aligned to 8",
                  static_cast<void*>(static_cast<uint8_t*>(odd) + 64));
    std::vector<std::string> expected = {
        "MMemLineFifo_CreateBySize(): memory area too small: 88 bytes. Must be at least 112 "
        "bytes.",
        "MMemLineFifo_CreateBySize(): memory area too small: 10 bytes. Must be at least 112 "
        "bytes.",
        "MMemLineFifo_CreateBySize(): line length must not be 0",
        misaligned,
    };
    EXPECT_EQ(capture.ErrTrace(), expected);
}
