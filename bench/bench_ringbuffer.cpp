// Cost of moving one camera image through an image FIFO, against a plain memcpy of the same
// bytes measured in the same run, and measurand-line throughput of the line FIFO between two
// threads.

#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/msharedmem.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kBlock = size_t(4) << 20;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Page-aligned heap memory.
class Buffer {
public:
    explicit Buffer(size_t size) : bytes(static_cast<uint8_t*>(std::aligned_alloc(4096, size))) {}
    ~Buffer() { std::free(bytes); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    uint8_t* data() const { return bytes; }

private:
    uint8_t* bytes;
};

// Per iteration: hand-out, copy of 4 MiB, publication of the block number in a line FIFO,
// the reader's take of the line and its release of the block. Timed right beside it, the
// same 4 MiB copied with memcpy into a plain area of another shared-memory segment (the same
// kind of memory: "ratio") and into an ordinary heap buffer ("ratio_heap"); both ratios are
// medians of the per-block ratios.
void BM_RingBufferBlock4MiB(benchmark::State& state) {
    std::string name = "vyxbench_ring_" + std::to_string(getpid());
    std::string plainName = name + "_plain";
    const size_t size = 71 + 4 * (kBlock + 8);
    void* ring = MSharedMem_Create(name.c_str(), size);
    auto* plainShared = static_cast<uint8_t*>(MSharedMem_Create(plainName.c_str(), kBlock));
    if (ring == nullptr || plainShared == nullptr) {
        state.SkipWithError("cannot create the segments");
        return;
    }
    // Fault every page in before timing.
    std::memset(ring, 0, size);
    std::memset(plainShared, 0, kBlock);
    MMemBlockRingBuffer_Create(ring, MMemBlockRingBuffer_CalcMaxEntries(size, kBlock), kBlock);
    std::vector<uint64_t> fifoArea(8 + 65 * 10);
    void* fifo = fifoArea.data();
    MMemLineFifo_Create(fifo, 64, 10 * sizeof(double));
    MMemLineFifo_Link(fifo);

    // Every source and target starts on a cache line (ring blocks do: the segment is
    // page-aligned and the header is 64 bytes), so memcpy sees the same relative alignment.
    Buffer source(kBlock), heap(kBlock);
    for (size_t i = 0; i < kBlock; ++i)
        source.data()[i] = static_cast<uint8_t>(i * 13);
    std::memset(heap.data(), 0, kBlock);

    auto throughRing = [&] {
        void* block = MMemBlockRingBuffer_GetWritePointer(ring);
        std::memcpy(block, source.data(), kBlock);
        auto* line = static_cast<double*>(MMemLineFifo_GetWritePointer(fifo));
        line[0] = double(MMemBlockRingBuffer_GetIndex(ring, block));
        MMemLineFifo_IncWritePointer(fifo);
        auto* taken = static_cast<double*>(MMemLineFifo_GetReadPointer(fifo));
        size_t number = size_t(taken[0]);
        MMemLineFifo_IncReadPointer(fifo);
        MMemBlockRingBuffer_Release(ring, number);
    };
    auto plainCopy = [&](uint8_t* target) {
        std::memcpy(target, source.data(), kBlock);
        benchmark::DoNotOptimize(target);
    };

    double seconds[3] = {0, 0, 0}; // ring, memcpy to shared memory, memcpy to heap
    // Ratios per iteration: their median shrugs off the moments another process took the CPU.
    std::vector<double> ratios, heapRatios;
    int rotation = 0;
    for (auto _ : state) {
        double taken[3];
        // Rotate the order so that no side profits from another's cache state.
        for (int pass = 0; pass < 3; ++pass) {
            int which = (pass + rotation) % 3;
            auto start = Clock::now();
            if (which == 0)
                throughRing();
            else
                plainCopy(which == 1 ? plainShared : heap.data());
            benchmark::ClobberMemory();
            taken[which] = Seconds(Clock::now() - start);
        }
        rotation = (rotation + 1) % 3;
        state.SetIterationTime(taken[0]);
        for (int i = 0; i < 3; ++i)
            seconds[i] += taken[i];
        ratios.push_back(taken[0] / taken[1]);
        heapRatios.push_back(taken[0] / taken[2]);
    }
    double n = double(state.iterations());
    state.counters["ring_us"] = seconds[0] / n * 1e6;
    state.counters["memcpy_us"] = seconds[1] / n * 1e6;
    state.counters["ratio"] = Median(ratios);
    state.counters["memcpy_heap_us"] = seconds[2] / n * 1e6;
    state.counters["ratio_heap"] = Median(heapRatios);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlock));
    MSharedMem_Unlink(ring);
    MSharedMem_Unlink(plainShared);
}
BENCHMARK(BM_RingBufferBlock4MiB)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// Measurand lines of ten doubles from a writer thread to a reader thread through a FIFO of
// `range(0)` lines. Reports lines per second as items_per_second.
void BM_LineFifoThroughput(benchmark::State& state) {
    constexpr size_t kLineLength = 10 * sizeof(double);
    constexpr uint64_t kLines = 200000;
    const size_t capacity = size_t(state.range(0));
    std::vector<uint64_t> area((64 + (capacity + 1) * kLineLength) / 8 + 1);
    void* fifo = area.data();
    uint64_t mismatches = 0;
    for (auto _ : state) {
        MMemLineFifo_Create(fifo, capacity, kLineLength);
        MMemLineFifo_Link(fifo);
        std::thread writer([fifo] {
            for (uint64_t i = 0; i < kLines; ++i) {
                auto* line = static_cast<double*>(MMemLineFifo_GetWritePointer(fifo));
                for (int k = 0; k < 10; ++k)
                    line[k] = double(i + k);
                while (MMemLineFifo_IncWritePointer(fifo) == 0)
                    std::this_thread::yield();
            }
        });
        for (uint64_t i = 0; i < kLines;) {
            auto* line = static_cast<const double*>(MMemLineFifo_GetReadPointer(fifo));
            if (line == nullptr) {
                std::this_thread::yield();
                continue;
            }
            double copy[10];
            std::memcpy(copy, line, kLineLength);
            MMemLineFifo_IncReadPointer(fifo);
            mismatches += copy[0] != double(i);
            ++i;
        }
        writer.join();
    }
    if (mismatches != 0)
        state.SkipWithError("lines arrived out of order");
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kLines));
}
BENCHMARK(BM_LineFifoThroughput)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
