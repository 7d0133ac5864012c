// Acquisition at full speed: the simulated camera in free run (no frame-rate wait) delivers
// 5000 frames to a scan of the camera machine, polled as the server polls it, into a 64-bit
// image FIFO; a client in another process releases every block as soon as it is written.
// Reported against a plain memcpy of the same bytes into a ring of blocks as large as the
// FIFO, measured in the same run.
//
//   bench_acquisition [--benchmark_repetitions=N]   (medians and ratios at the end; lost
//                                                    frames counted over all runs)

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/msharedmem.h"
#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"
#include "platform/vyx/simcontrol.h"

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFrames = 5000;
constexpr uint64_t kFifoBlocks = 48;
const char* const kFifoName = "vyxbench_acquisition";

class Notifier : public MClientNotifier {
public:
    int32_t GetState() override { return 1; }
    void WakeUp() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++wakeUps;
        }
        woken.notify_one();
    }
    void Wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        const uint64_t seen = wakeUps;
        woken.wait_for(lock, timeout, [&] { return wakeUps != seen; });
    }

private:
    std::mutex mutex;
    std::condition_variable woken;
    uint64_t wakeUps = 0;
};

// The client's "linked" messages: one byte each time it attached to a new FIFO.
int linkedPipe[2] = {-1, -1};

// The client: links the FIFO when it appears and frees every block that is in use, until it
// is killed. Forked before the machine starts any thread.
pid_t StartReleasingClient() {
    if (pipe(linkedPipe) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    void* ring = nullptr;
    for (;;) {
        if (ring == nullptr) {
            ring = MSharedMem_Link(kFifoName);
            if (ring == nullptr || !MMemBlockRingBuffer_Link(ring) ||
                static_cast<volatile uint8_t*>(ring)[1] == 0) {
                if (ring != nullptr)
                    MSharedMem_Unlink(ring);
                ring = nullptr;
                usleep(100);
                continue;
            }
            const char linked = 1;
            if (write(linkedPipe[1], &linked, 1) != 1)
                _exit(1);
        }
        // Every scan has a FIFO of its own under the same name: a withdrawn one is let go.
        if (static_cast<volatile uint8_t*>(ring)[1] == 0) {
            MSharedMem_Unlink(ring);
            ring = nullptr;
            continue;
        }
        size_t released = 0;
        const size_t blocks = MMemBlockRingBuffer_GetNumEntries(ring);
        for (size_t number = 1; number <= blocks; ++number)
            released += MMemBlockRingBuffer_Release(ring, number) == 1;
        if (released == 0)
            usleep(50);
    }
}

struct Result {
    double seconds = 0;
    uint64_t lines = 0, lost = 0;
    std::string error;
};

// One scan of kFrames frames of width x height on a fresh machine.
Result RunScan(uint32_t width, uint32_t height) {
    const std::string host = "/tmp/vyxbench_acquisition_" + std::to_string(getpid());
    std::filesystem::remove_all(host);
    const std::string cameraDir = host + "/camera";
    std::filesystem::create_directories(cameraDir + "/VX1280M-SIM/SIM0000001");
    std::ofstream(cameraDir + "/vyxcamera.ini")
        << "[SimCamera]\nMode=freerun\nWidth=" << width << "\nHeight=" << height
        << "\nFrameRate=50\n";
    std::ofstream(cameraDir + "/VX1280M-SIM/SIM0000001/vyxcamera.ini")
        << "[General]\nAlways64Bit=1\n";

    Result result;
    MOutputChannel machineChannel(0), out(1);
    Notifier notifier;
    auto machine = std::make_unique<MCameraMachAbstract>("camera", host, &machineChannel,
                                                         &notifier);
    auto run = [&](MMachCommand* command) {
        while (command != nullptr && !command->IsDone()) {
        }
        delete command;
    };
    if (!machine->Open()) {
        result.error = "machine does not open";
        return result;
    }
    run(machine->NewMMachProbesystemDefineCommand(&out, "Camera:1"));
    run(machine->NewMMachProbesystemLoadCommand(&out, "Camera:1", 1));
    run(machine->NewMMachScandataCommand(&out, {"imageindex", "lock"}));
    const uint64_t block = uint64_t{width} * height;
    run(machine->NewMMachImagefifoCreateCommand(&out, kFifoName, 71 + kFifoBlocks * (block + 8)));
    run(machine->NewMMachImagefifoSelectCommand(&out, kFifoName));
    char linked = 0;
    if (read(linkedPipe[0], &linked, 1) != 1) {
        result.error = "the client did not attach";
        return result;
    }

    MMachScanRequest request;
    request.axes["time"] = {kFrames * machine->FindAxis("time")->accuracy, 1};
    std::unique_ptr<MMachScanCommand> scan(machine->NewMMachScanCommand(&out, request));
    std::vector<double> values;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const bool done = scan->IsDone();
        while (scan->ReadNextLine(values)) {
            ++result.lines;
            result.lost += values[1] != 0.0;
        }
        if (done)
            break;
        notifier.Wait(std::chrono::milliseconds(20));
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string text;
    out.Take(text, true);
    if (text.find("error") != std::string::npos)
        result.error = text;
    scan.reset();
    machine->Close();
    machine.reset();
    machineChannel.Take(text, true);
    std::filesystem::remove_all(host);
    return result;
}

void BM_Scan(benchmark::State& state) {
    const auto width = static_cast<uint32_t>(state.range(0));
    const auto height = static_cast<uint32_t>(state.range(1));
    uint64_t lines = 0, lost = 0;
    static std::string error; // the reporter reads it after this function returned
    for (auto _ : state) {
        const Result result = RunScan(width, height);
        if (!result.error.empty()) {
            error = result.error;
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(result.seconds);
        lines += result.lines;
        lost += result.lost;
    }
    const double bytes = double(width) * height * double(lines);
    state.SetBytesProcessed(int64_t(bytes));
    state.SetItemsProcessed(int64_t(lines));
    state.counters["lost_frames"] = double(lost);
    state.counters["lines"] = double(lines) / double(state.iterations());
}

// The baseline: the same frames copied with memcpy into a ring of as many blocks.
void BM_Memcpy(benchmark::State& state) {
    const size_t block = size_t(state.range(0)) * size_t(state.range(1));
    std::vector<uint8_t> frame(block);
    for (size_t i = 0; i < block; ++i)
        frame[i] = uint8_t(i % 251);
    void* ring = mmap(nullptr, kFifoBlocks * block, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* blocks = static_cast<uint8_t*>(ring);
    std::memset(blocks, 0, kFifoBlocks * block);
    uint64_t copied = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < kFrames; ++i)
            std::memcpy(blocks + (i % kFifoBlocks) * block, frame.data(), block);
        benchmark::ClobberMemory();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        copied += kFrames;
    }
    munmap(ring, kFifoBlocks * block);
    state.SetBytesProcessed(int64_t(double(block) * double(copied)));
    state.SetItemsProcessed(int64_t(copied));
}

const std::vector<std::vector<int64_t>> kSizes = {{1280, 1024}, {2048, 2048}};

BENCHMARK(BM_Memcpy)->Args(kSizes[0])->Args(kSizes[1])->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Args(kSizes[0])->Args(kSizes[1])->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Collects bytes per second of every run, to print medians and ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            // Single runs, or only the median when the repetitions are aggregated.
            const bool single = run.run_type == Run::RT_Iteration;
            if (!single && run.aggregate_name != "median")
                continue;
            const std::string name = run.run_name.str();
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end())
                (single ? rates : medians)[name].push_back(it->second.value);
            const auto lost = run.counters.find("lost_frames");
            if (single && lost != run.counters.end())
                lostFrames[name] += lost->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double MedianRate(const std::string& name) {
        return rates.count(name) ? Median(rates[name]) : Median(medians[name]);
    }
    std::map<std::string, std::vector<double>> rates, medians;
    std::map<std::string, double> lostFrames;
};

} // namespace

int main(int argc, char** argv) {
    const pid_t client = StartReleasingClient();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    kill(client, SIGKILL);
    waitpid(client, nullptr, 0);
    shm_unlink((std::string("/") + kFifoName).c_str());

    std::printf("\n%-11s %10s %10s %10s %12s %8s\n", "frame", "fps", "GB/s", "memcpy", "ratio",
                "lost");
    for (const auto& size : kSizes) {
        std::string suffix = "/";
        suffix.append(std::to_string(size[0])).append("/").append(std::to_string(size[1]));
        suffix.append("/iterations:1/manual_time");
        const double scan = reporter.MedianRate("BM_Scan" + suffix);
        const double copy = reporter.MedianRate("BM_Memcpy" + suffix);
        const double frameBytes = double(size[0]) * double(size[1]);
        if (scan <= 0 || copy <= 0)
            continue;
        std::printf("%5lldx%-5lld %10.0f %10.2f %10.2f %11.2f%% %8.0f\n",
                    static_cast<long long>(size[0]), static_cast<long long>(size[1]),
                    scan / frameBytes, scan / 1e9, copy / 1e9, 100.0 * scan / copy,
                    reporter.lostFrames["BM_Scan" + suffix]);
    }
    std::printf("(medians; ratio = scan rate into the FIFO / memcpy rate; target: at least 80%%)\n");
    return 0;
}
