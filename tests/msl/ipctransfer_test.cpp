// Images and measurand lines the way the camera machine hands them to a client: blocks of a
// ring buffer, their numbers in a line FIFO; and a reader process that dies holding blocks.

#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/msharedmem.h"
#include "tests/msl/ringvariants.h"
#include "tests/support/childprocess.h"
#include "tests/support/testsupport.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using vyx::test::ChildProcess;
using vyx::test::Pipe;
using vyx::test::UniqueName;
using vyx::test::Variant;

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

INSTANTIATE_TEST_SUITE_P(BothLayouts, TransferConcurrency,
                         testing::Values(&vyx::test::kWide, &vyx::test::kNarrow),
                         [](const auto& info) {
                             return info.param->word == 8 ? "Wide" : "Narrow";
                         });
