// How fast the simulated camera produces frames in free run, of its test pattern
// and of a recording it replays, against what it costs a receiver to copy one
// frame once (memcpy of a 1280 x 1024 8-bit frame). The camera must stay far
// ahead of any receiver, so benchmarks of the module measure the module and not
// the camera.

#include "platform/vyx/simcontrol.h"
#include "platform/vyx/vyxbase.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kWidth = 1280, kHeight = 1024;
constexpr uint64_t kBatch = 256; // frames per benchmark iteration

struct Receiver {
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> batches{0}; // the benchmark sleeps on this, not on every frame
    std::atomic<uint32_t> touched{0};
    std::vector<uint8_t> copy;
    bool copies = false;
};

void Take(void* context, const Vyx::CImgBuffer* image, uint32_t) {
    auto* receiver = static_cast<Receiver*>(context);
    if (image->pixels != nullptr) {
        if (receiver->copies)
            std::memcpy(receiver->copy.data(), image->pixels, receiver->copy.size());
        receiver->touched.fetch_add(image->pixels[image->rowPitch * image->rows - 1],
                                    std::memory_order_relaxed);
    }
    if ((receiver->frames.fetch_add(1, std::memory_order_relaxed) + 1) % kBatch == 0) {
        receiver->batches.fetch_add(1, std::memory_order_release);
        receiver->batches.notify_one();
    }
}

// A recording of 1280 x 1024 8-bit frames, a lost one among them, and the INI file that
// replays it; removed at the end of the program.
class Recording {
public:
    static constexpr int kFrames = 32;
    Recording() {
        namespace fs = std::filesystem;
        m_dir = fs::temp_directory_path() / ("bench_replay_" + std::to_string(getpid()));
        fs::create_directories(m_dir);
        std::ofstream ini(m_dir / "recording.ini");
        ini << "[Recording]\nVersion = 1\nWidth = " << kWidth << "\nHeight = " << kHeight
            << "\nPixelFormat = 2\nBitsPerPixel = 8\nBytesPerPixel = 1\nFrameRate = 50\n"
               "Temperature = 1\nColumns = clock,time,trigger_count,lock,imageindex,"
               "temp_camera,frame\n[Lines]\n";
        std::vector<char> pixels(kWidth * kHeight);
        for (int k = 0, line = 1, counter = 1; k < kFrames; ++k, ++counter) {
            if (k == kFrames / 2)
                ini << line++ << " = 0,100," << counter++ << ",1,0,35,\n";
            ini << line++ << " = 0,100," << counter << ",0,1,35,f" << k << ".pgm\n";
            std::string name = "f";
            name += std::to_string(k); // appended: GCC 12 warns falsely about "f" + ...
            std::ofstream pgm(m_dir / (name + ".pgm"), std::ios::binary);
            for (size_t i = 0; i < pixels.size(); ++i)
                pixels[i] = char((i + k) % 251);
            pgm << "P5\n" << kWidth << " " << kHeight << "\n255\n";
            pgm.write(pixels.data(), std::streamsize(pixels.size()));
        }
        std::ofstream(m_dir / "camera.ini") << "[SimCamera]\nReplay = .\n";
    }
    ~Recording() { std::filesystem::remove_all(m_dir); }
    std::string Ini() const { return (m_dir / "camera.ini").string(); }

private:
    std::filesystem::path m_dir;
};

Vyx::CImgSensors* OpenFreeRunCamera(const char* ini) {
    Vyx::CImgSensors* camera = Vyx::CImgSensors::GetInstance();
    if (camera == nullptr || camera->Initialize(ini, 0) < 0)
        return nullptr;
    double rate = 0;
    camera->GetFrameRate(&rate, 0);
    Vyx::SimControl::SetMode(Vyx::SimMode::FreeRun);
    return camera;
}

void RunFreeRun(benchmark::State& state, bool copies, const char* ini = nullptr) {
    Vyx::CImgSensors* camera = OpenFreeRunCamera(ini);
    if (camera == nullptr) {
        state.SkipWithError("the simulated camera does not start");
        return;
    }
    Vyx::CImageInfo info;
    camera->GetImageInfo(&info, 0);
    Receiver receiver;
    receiver.copies = copies;
    receiver.copy.resize(size_t(info.memoryWidth) * info.memoryHeight * info.memoryBytesPerPixel);
    camera->RegisterImgStreamInput(&receiver, Take, 0);
    camera->Grab(0);
    uint64_t batch = receiver.batches.load(std::memory_order_acquire);
    for (auto _ : state) {
        // A batch of frames, waited for asleep so that the camera's thread has the CPU.
        // Exactly one batch per iteration, however many are done already.
        while (receiver.batches.load(std::memory_order_acquire) <= batch)
            receiver.batches.wait(batch, std::memory_order_acquire);
        ++batch;
    }
    camera->Freeze(0);
    camera->UnregisterImgStreamInput(&receiver, Take, 0);
    camera->Uninitialize(0);
    state.SetItemsProcessed(int64_t(state.iterations() * kBatch));
    state.counters["frame_bytes"] = double(receiver.copy.size());
}

void BM_FreeRunFrames(benchmark::State& state) {
    RunFreeRun(state, false);
}
void BM_FreeRunFramesCopiedByReceiver(benchmark::State& state) {
    RunFreeRun(state, true);
}
void BM_FreeRunReplayFrames(benchmark::State& state) {
    static const Recording recording;
    RunFreeRun(state, false, recording.Ini().c_str());
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
    state.SetBytesProcessed(int64_t(state.iterations() * target.size()));
}

BENCHMARK(BM_ReceiverCopiesOneFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FreeRunFrames)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FreeRunFramesCopiedByReceiver)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FreeRunReplayFrames)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Remembers the time per frame of every run so that main can print the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            double perIteration = run.GetAdjustedRealTime(); // microseconds
            bool batched = run.benchmark_name().find("FreeRun") != std::string::npos;
            perFrameUs[run.benchmark_name()] = batched ? perIteration / kBatch : perIteration;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perFrameUs;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto find = [&](const char* name) {
        for (const auto& [run, us] : reporter.perFrameUs)
            if (run.rfind(name, 0) == 0 && run.size() >= strlen(name) &&
                (run.size() == strlen(name) || run[strlen(name)] == '/'))
                return us;
        return 0.0;
    };
    double copyUs = find("BM_ReceiverCopiesOneFrame");
    double produceUs = find("BM_FreeRunFrames");
    double copiedUs = find("BM_FreeRunFramesCopiedByReceiver");
    if (copyUs > 0 && produceUs > 0) {
        printf("\nfree-run production: %.3f us per %zux%zu 8-bit frame; receiver memcpy: %.3f us\n",
               produceUs, kWidth, kHeight, copyUs);
        printf("ratio (memcpy time / production time): %.1f (needed: at least 10)\n",
               copyUs / produceUs);
        if (copiedUs > 0)
            printf("with a receiver that copies every frame: %.3f us per frame (%.2f x memcpy)\n",
                   copiedUs, copiedUs / copyUs);
    }
    double replayUs = find("BM_FreeRunReplayFrames");
    if (copyUs > 0 && produceUs > 0 && replayUs > 0)
        printf("replay of a recording: %.3f us per frame (%.2f x the test pattern's); ratio "
               "(memcpy time / replay time): %.1f (needed: at least 10)\n",
               replayUs, replayUs / produceUs, copyUs / replayUs);
    return 0;
}
