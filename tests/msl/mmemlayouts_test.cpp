// The shared-memory layouts: block ring buffers of both widths and line FIFOs; and images
// and measurand lines the way the camera machine hands them to a client: blocks of a ring
// buffer, their numbers in a line FIFO, and a reader process that dies holding blocks.
#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/msharedmem.h"
#include "platform/trace/tracecapture.h"
#include "tests/msl/ringvariants.h"
#include "tests/support/childprocess.h"
#include "tests/support/testsupport.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using vyx::test::ChildProcess;
using vyx::test::Pipe;
using vyx::test::UniqueName;
using vyx::test::Variant;
using Numbers = std::vector<size_t>;
using vyx::trace::TraceCapture;

namespace {

// Every layout test runs on each width, named after it.
const auto kBothLayouts = testing::Values(&vyx::test::kWide, &vyx::test::kNarrow);

std::string LayoutName(const testing::TestParamInfo<const Variant*>& info) {
    return info.param->word == 8 ? "Wide" : "Narrow";
}

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
    // data_start, write_index, reader, read_index, line_length, num_slots
    std::vector<uint64_t> Header() const { return {words.begin(), words.begin() + 6}; }
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
    // Width and active flag; reserved bytes are not written.
    EXPECT_EQ((Numbers{base[0], base[1], base[2]}), (Numbers{v.word, 1, 0xEE}));
    EXPECT_EQ((Numbers{Field(1), Field(2), Field(3)}), (Numbers{10, 3, 0}));
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

INSTANTIATE_TEST_SUITE_P(BothLayouts, RingBuffer, kBothLayouts, LayoutName);

// Lines of 24 bytes: the layout, exactly the requested number of lines, the single reader, and
// the count across the wrap of the indexes; and the alignment that creation checks.
TEST(LineFifo, LayoutCapacityReaderWrapAndAlignment) {
    TraceCapture capture;
    Area area;
    void* base = area.base;
    ASSERT_EQ(MMemLineFifo_Create(base, 4, 24), 1);
    const uint64_t slot0 = reinterpret_cast<uintptr_t>(base) + 64;
    EXPECT_EQ(area.Header(), (std::vector<uint64_t>{slot0, 0, 0, 0, 24, 5}));
    EXPECT_EQ(MMemLineFifo_GetWritePointer(base), reinterpret_cast<void*>(slot0));
    for (uint64_t i = 0; i < 4; ++i)
        ASSERT_TRUE(Push(base, 10 + i));
    EXPECT_FALSE(Push(base, 99)) << "full";
    EXPECT_EQ(area.Header(), (std::vector<uint64_t>{slot0, 4, 0, 0, 24, 5}));
    EXPECT_EQ(area.Field(64) + area.Field(64 + 24), 21u) << "slots 0 and 1";
    EXPECT_EQ(MMemLineFifo_GetReadPointer(base), nullptr) << "no reader linked";
    ASSERT_EQ(MMemLineFifo_Link(base), 1);
    EXPECT_EQ(area.Header(), (std::vector<uint64_t>{slot0, 4, slot0, 0, 24, 5})) << "reader";
    EXPECT_EQ(MMemLineFifo_Link(base), 0);
    EXPECT_EQ(capture.ErrTrace(),
              std::vector<std::string>{
                  "MMemLineFifo_Link(): Fifo not initialized or already has an exlusive reader"});

    EXPECT_EQ((std::vector<int64_t>{Pop(base), Pop(base), Pop(base)}),
              (std::vector<int64_t>{10, 11, 12}));
    ASSERT_TRUE(Push(base, 14)) << "room again once the reader advanced";
    ASSERT_TRUE(Push(base, 15)); // write_index wraps to 1, below read_index 3
    EXPECT_EQ(area.Header(), (std::vector<uint64_t>{slot0, 1, slot0, 3, 24, 5}));
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

namespace {

constexpr size_t kBlockSize = 1024;
constexpr size_t kLine = 2 * sizeof(uint64_t); // sequence number, block number

// A block's content: its sequence number, then a byte that differs from block to block.
void Fill(void* block, uint64_t seq) {
    std::memset(block, static_cast<int>(seq * 31 + 1), kBlockSize);
    std::memcpy(block, &seq, sizeof seq);
}

bool Holds(const void* block, uint64_t seq) {
    std::vector<uint8_t> expected(kBlockSize);
    Fill(expected.data(), seq);
    return block != nullptr && std::memcmp(block, expected.data(), kBlockSize) == 0;
}

// Spins on a condition for at most two minutes; false when it never came true.
template <class Condition> bool SpinUntil(Condition ready) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// The camera's side: fills `count` blocks and publishes each one's number. False on a stall.
bool WriteBlocks(const Variant& ring, void* rb, void* fifo, uint64_t count) {
    for (uint64_t seq = 0; seq < count; ++seq) {
        void* block = nullptr;
        if (!SpinUntil([&] { return (block = ring.write(rb)) != nullptr; }))
            return false;
        Fill(block, seq);
        auto* line = static_cast<uint64_t*>(MMemLineFifo_GetWritePointer(fifo));
        line[0] = seq;
        line[1] = ring.index(rb, block);
        if (!SpinUntil([&] { return MMemLineFifo_IncWritePointer(fifo) == 1; }))
            return false;
    }
    return true;
}

// The client's side: takes `count` lines in order, checks and releases their blocks. Returns
// the number of lines that were missing, out of order or whose block was not intact.
uint64_t ReadBlocks(const Variant& ring, void* rb, void* fifo, uint64_t count) {
    uint64_t bad = 0;
    for (uint64_t seq = 0; seq < count; ++seq) {
        uint64_t* line = nullptr;
        if (!SpinUntil([&] {
                return (line = static_cast<uint64_t*>(MMemLineFifo_GetReadPointer(fifo))) !=
                       nullptr;
            }))
            return bad + count - seq;
        bad +=
            line[0] != seq || !Holds(ring.read(rb, line[1]), seq) || ring.release(rb, line[1]) != 1;
        MMemLineFifo_IncReadPointer(fifo);
    }
    return bad;
}

class TransferConcurrency : public testing::TestWithParam<const Variant*> {
protected:
    const Variant& ring = *GetParam();
};

// A layout by the name a child gets.
const Variant& Layout(const std::string& name) {
    return name == vyx::test::kWide.name ? vyx::test::kWide : vyx::test::kNarrow;
}

constexpr size_t kSmallRingSize = 71 + 4 * (kBlockSize + 8); // four blocks

} // namespace

// A reader that holds blocks 1 and 2 until it is killed.
VYX_TEST_CHILD(HoldBlocks) {
    const Variant& ring = Layout(args.at(0));
    Pipe go(args.at(2)), back(args.at(3));
    // Links the ring buffer once `go` says that it exists.
    char byte;
    void* rb = go.Receive(&byte) ? MSharedMem_Link(args.at(1).c_str()) : nullptr;
    if (rb == nullptr || ring.link(rb) != 1 || !Holds(ring.read(rb, 1), 1) ||
        !Holds(ring.read(rb, 2), 2))
        return 1;
    back.Send('h');
    go.Receive(&byte, 600000);
    return 2;
}

TEST_P(TransferConcurrency, ThreadsHandBlocksOverThroughTheLineFifo) {
    // Between two threads, where ThreadSanitizer checks the orderings.
    constexpr uint64_t kBlocks = 5000;
    std::vector<uint64_t> ringArea(kSmallRingSize / 8 + 1), fifoArea((64 + 5 * kLine) / 8);
    void* rb = ringArea.data();
    void* fifo = fifoArea.data();
    ASSERT_EQ(ring.create(rb, ring.calc(kSmallRingSize, kBlockSize), kBlockSize), 1);
    ASSERT_EQ(MMemLineFifo_Create(fifo, 4, kLine), 1);
    ASSERT_EQ(MMemLineFifo_Link(fifo), 1);
    bool written = false;
    std::thread writer([&] { written = WriteBlocks(ring, rb, fifo, kBlocks); });
    EXPECT_EQ(ReadBlocks(ring, rb, fifo, kBlocks), 0u);
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(ring.used(rb), 0u);
}

TEST_P(TransferConcurrency, KilledReaderLeavesItsBlocksInUse) {
    std::string ringName = UniqueName("ring");
    Pipe go, back;
    // The reader starts before the segment exists, so it links it by name.
    ChildProcess doomed("HoldBlocks", {ring.name, ringName, go.Token(), back.Token()});

    void* rb = MSharedMem_Create(ringName.c_str(), kSmallRingSize);
    ASSERT_NE(rb, nullptr);
    ASSERT_EQ(ring.create(rb, ring.calc(kSmallRingSize, kBlockSize), kBlockSize), 1);
    for (uint64_t seq = 1; seq <= 2; ++seq) {
        void* block = ring.write(rb);
        ASSERT_EQ(ring.index(rb, block), seq);
        Fill(block, seq);
    }
    go.Send('g');
    char byte;
    ASSERT_TRUE(back.Receive(&byte));
    doomed.Kill();

    EXPECT_EQ(ring.used(rb), 2u) << "the dead reader's blocks stay in use";
    EXPECT_EQ(ring.index(rb, ring.write(rb)), 3u);
    EXPECT_EQ(ring.index(rb, ring.write(rb)), 4u);
    EXPECT_EQ(ring.write(rb), nullptr) << "every block is in use";
    // Whoever releases them by number gives them back.
    EXPECT_EQ(ring.release(rb, 1) + ring.release(rb, 2), 2);
    EXPECT_EQ(ring.used(rb), 2u);
    EXPECT_EQ(ring.index(rb, ring.write(rb)), 1u) << "the writer carries on";
    EXPECT_EQ(ring.index(rb, ring.write(rb)), 2u);
    EXPECT_EQ(MSharedMem_Unlink(rb), 1);
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, TransferConcurrency, kBothLayouts, LayoutName);
