// Base64 throughput on 1 MiB of binary data, against memcpy of the same bytes in the same run.
// Every benchmark reports "MB/s" (10^6 bytes of binary data per second: the input of encoding,
// the output of decoding) and "vs_memcpy", its MB/s divided by memcpy's. Times are processor
// time of this process, so that other load on the machine does not skew the ratio.
#include "msl/mstreams/mbase64.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kBytes = std::size_t{1} << 20;

struct Data {
    std::vector<char> binary = std::vector<char>(kBytes);
    std::vector<char> text;
    Data() {
        std::mt19937 random(42);
        for (char& c : binary)
            c = static_cast<char>(random());
        text.resize(MBase64_EncodedLength(MBase64_Binary(kBytes)));
        MBase64_Encode(text.data(), binary.data(), MBase64_Binary(kBytes));
    }
};

const Data& TheData() {
    static const Data data;
    return data;
}

double ProcessorSeconds(std::clock_t since) {
    return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC;
}

// memcpy's MB/s of this run: set by BM_Memcpy, which runs first; measured here when it was
// filtered out.
double g_memcpyMBps = 0;

double MemcpyMBps() {
    if (g_memcpyMBps == 0) {
        std::vector<char> target(kBytes);
        std::size_t rounds = 0;
        double spent = 0;
        const std::clock_t start = std::clock();
        do {
            std::memcpy(target.data(), TheData().binary.data(), kBytes);
            benchmark::ClobberMemory();
            ++rounds;
            spent = ProcessorSeconds(start);
        } while (spent < 0.5);
        g_memcpyMBps = static_cast<double>(rounds * kBytes) / spent / 1e6;
    }
    return g_memcpyMBps;
}

// Runs `step` as the benchmark's body and returns its MB/s.
template <typename Step> double Run(benchmark::State& state, Step step) {
    const std::clock_t start = std::clock();
    for (auto _ : state)
        step();
    const double spent = ProcessorSeconds(start);
    const double mbps = static_cast<double>(state.iterations() * kBytes) / spent / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
    state.counters["MB/s"] = mbps;
    return mbps;
}

void ReportRatio(benchmark::State& state, double mbps) {
    state.counters["vs_memcpy"] = mbps / MemcpyMBps();
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<char> target(kBytes);
    g_memcpyMBps = Run(state, [&] {
        std::memcpy(target.data(), TheData().binary.data(), kBytes);
        benchmark::ClobberMemory();
    });
    ReportRatio(state, g_memcpyMBps);
}

void BM_Encode(benchmark::State& state) {
    std::vector<char> target(TheData().text.size());
    double mbps = Run(state, [&] {
        benchmark::DoNotOptimize(
            MBase64_Encode(target.data(), TheData().binary.data(), MBase64_Binary(kBytes)));
        benchmark::ClobberMemory();
    });
    ReportRatio(state, mbps);
}

void BM_Decode(benchmark::State& state) {
    std::vector<char> target(kBytes);
    const std::vector<char>& text = TheData().text;
    double mbps = Run(state, [&] {
        benchmark::DoNotOptimize(
            MBase64_Decode(target.data(), text.data(), MBase64_Binary(text.size())));
        benchmark::ClobberMemory();
    });
    ReportRatio(state, mbps);
}

} // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Encode);
BENCHMARK(BM_Decode);

BENCHMARK_MAIN();
