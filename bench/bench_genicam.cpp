// Frames per second and lost frames of the GenICam back end, on Aravis's in-process test
// camera at its highest frame rate, against the simulated camera asked for the same rate and
// image in the same run. Every frame is copied once by the receiver, as the measurement does.
// The ratio says how close the GenICam path comes to the rate asked for, relative to what this
// machine manages with the simulated camera.

#include "platform/vyx/vyxbase.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t kFrames = 1000; // per iteration

// The rate the GenICam camera took, which the simulated camera is then asked for.
double g_genicamRate = 0;

struct Receiver {
    std::mutex mutex;
    std::condition_variable done;
    uint64_t frames = 0, lost = 0, broken = 0;
    uint32_t last = 0;
    std::vector<uint8_t> copy;

    static void Take(void* context, const Vyx::CImgBuffer* image, uint32_t) {
        auto* self = static_cast<Receiver*>(context);
        if (image->pixels != nullptr) {
            const uint64_t width = image->clipWidth ? image->clipWidth : image->rowPitch;
            const uint64_t rows = image->clipHeight ? image->clipHeight : image->rows;
            const uint64_t row = width * image->bytesPerPixel;
            const uint8_t* source =
                image->pixels +
                image->bytesPerPixel * (image->offsetX + image->rowPitch * image->offsetY);
            self->copy.resize(row * rows);
            for (uint64_t y = 0; y < rows; ++y)
                std::memcpy(self->copy.data() + y * row,
                            source + y * image->rowPitch * image->bytesPerPixel, row);
        }
        std::lock_guard<std::mutex> lock(self->mutex);
        ++self->frames;
        if (image->frameCounter == 0) {
            ++self->broken;
        } else {
            if (self->last != 0 && image->frameCounter > self->last + 1)
                self->lost += image->frameCounter - self->last - 1;
            self->last = image->frameCounter;
        }
        if (self->frames >= kFrames)
            self->done.notify_all();
    }
};

std::string WriteConfig(const std::string& text) {
    char path[] = "/tmp/bench_genicam_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return std::string();
    close(fd);
    std::ofstream(path) << text;
    return path;
}

// The highest of these rates the camera takes.
double HighestRate(Vyx::CImgSensors* camera) {
    for (double rate : {100000.0, 10000.0, 5000.0, 2000.0, 1000.0, 500.0, 200.0, 100.0})
        if (camera->SetFrameRate(rate, 0))
            return rate;
    return 0;
}

// rate 0: the camera's highest.
double Run(benchmark::State& state, const std::string& config, double rate) {
    const std::string path = WriteConfig(config);
    Vyx::CImgSensors* camera = Vyx::CImgSensors::GetInstance();
    if (path.empty() || camera == nullptr || camera->Initialize(path.c_str(), 0) <= 0) {
        state.SkipWithError(camera != nullptr ? camera->GetLastErrorText(0) : "no camera library");
        std::remove(path.c_str());
        return 0;
    }
    if (rate == 0)
        rate = HighestRate(camera);
    else if (!camera->SetFrameRate(rate, 0))
        state.SkipWithError(camera->GetLastErrorText(0));
    uint64_t frames = 0, lost = 0, broken = 0;
    double seconds = 0;
    for (auto _ : state) {
        Receiver receiver;
        camera->RegisterImgStreamInput(&receiver, Receiver::Take, 0);
        const auto start = std::chrono::steady_clock::now();
        camera->Grab(0);
        {
            std::unique_lock<std::mutex> lock(receiver.mutex);
            receiver.done.wait_for(lock, std::chrono::seconds(60),
                                   [&] { return receiver.frames >= kFrames; });
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        camera->Freeze(0);
        camera->UnregisterImgStreamInput(&receiver, Receiver::Take, 0);
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        std::lock_guard<std::mutex> lock(receiver.mutex);
        frames += receiver.frames;
        lost += receiver.lost;
        broken += receiver.broken;
        seconds += std::chrono::duration<double>(elapsed).count();
    }
    camera->Uninitialize(0);
    std::remove(path.c_str());
    state.SetItemsProcessed(int64_t(frames));
    state.counters["rate_asked"] = rate;
    state.counters["frames_per_s"] = seconds > 0 ? double(frames) / seconds : 0;
    state.counters["lost"] = double(lost);
    state.counters["broken"] = double(broken);
    return rate;
}

// The test camera's power-on image: 512 x 512, 8 bits.
void BM_GenicamFakeCamera(benchmark::State& state) {
    g_genicamRate =
        Run(state,
            "[GenICam]\ndevice = Fake_1\npixel_width_mm = 0.0055\npixel_height_mm = 0.0055\n", 0);
}

void BM_SimulatedCamera(benchmark::State& state) {
    Run(state, "[SimCamera]\nWidth = 512\nHeight = 512\nFrameRateMax = 100000\n",
        g_genicamRate > 0 ? g_genicamRate : 1000);
}

BENCHMARK(BM_GenicamFakeCamera)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimulatedCamera)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Keeps the counters of every run so that main can print the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                results[run.benchmark_name().substr(0, run.benchmark_name().find('/'))] = {
                    run.counters.at("frames_per_s"), run.counters.at("lost"),
                    run.counters.at("rate_asked")};
        ConsoleReporter::ReportRuns(runs);
    }
    struct Result {
        double fps, lost, asked;
    };
    std::map<std::string, Result> results;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto sim = reporter.results.find("BM_SimulatedCamera");
    auto genicam = reporter.results.find("BM_GenicamFakeCamera");
    if (sim != reporter.results.end() && genicam != reporter.results.end() && sim->second.fps > 0) {
        printf("\nGenICam test camera: %.0f frames/s (asked %.0f), %.0f lost in %llu frames\n",
               genicam->second.fps, genicam->second.asked, genicam->second.lost,
               static_cast<unsigned long long>(3 * kFrames));
        printf("simulated camera:    %.0f frames/s (asked %.0f), %.0f lost\n", sim->second.fps,
               sim->second.asked, sim->second.lost);
        printf("ratio (GenICam / simulated frames per second): %.2f\n",
               genicam->second.fps / sim->second.fps);
    } else if (genicam == reporter.results.end()) {
        printf("\nGenICam: not available in this build (see the benchmark's error above)\n");
    }
    return 0;
}
