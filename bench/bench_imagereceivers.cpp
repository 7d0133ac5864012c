// What the camera sensor adds to every frame: handing it to the module's image receivers
// (taking the list's lock, calling each receiver). Measured against what one receiver pays
// anyway, a memcpy of a 1280 x 1024 8-bit frame; the hand-over must be lost in the noise.

#include "mt_proxy/camera/misc/cimagereceivers.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t kWidth = 1280, kHeight = 1024;

void Count(void* context, const Vyx::CImgBuffer* image, uint32_t flags) {
    auto* frames = static_cast<uint64_t*>(context);
    *frames += image->frameCounter + flags;
}

// The three receivers a measurement has: the measurement, the preview and the axes callback.
void BM_DeliverToThreeReceivers(benchmark::State& state) {
    uint64_t counts[3] = {};
    for (uint64_t& count : counts)
        CImageReceivers_Add({&Count, &count});
    Vyx::CImgBuffer image;
    image.frameCounter = 1;
    for (auto _ : state) {
        CImageReceivers_Deliver(nullptr, &image, 0);
        benchmark::DoNotOptimize(counts);
    }
    for (uint64_t& count : counts)
        CImageReceivers_Remove({&Count, &count});
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_ReceiverCopiesOneFrame(benchmark::State& state) {
    std::vector<uint8_t> source(kWidth * kHeight), target(kWidth * kHeight);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = uint8_t(i % 251);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), target.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

BENCHMARK(BM_ReceiverCopiesOneFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeliverToThreeReceivers)->Unit(benchmark::kNanosecond);

// Remembers the time per frame of every run so that main can print the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                perFrameNs[run.benchmark_name()] = run.GetAdjustedRealTime() /
                                                   benchmark::GetTimeUnitMultiplier(run.time_unit) *
                                                   1e9;
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perFrameNs;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double copyNs = reporter.perFrameNs["BM_ReceiverCopiesOneFrame"];
    const double deliverNs = reporter.perFrameNs["BM_DeliverToThreeReceivers"];
    if (copyNs > 0 && deliverNs > 0) {
        std::printf("\nhand-over to three receivers: %.1f ns per frame; memcpy of one %zux%zu "
                    "frame: %.1f ns\n",
                    deliverNs, kWidth, kHeight, copyNs);
        std::printf("ratio (memcpy time / hand-over time): %.0f\n", copyNs / deliverNs);
    }
    return 0;
}
