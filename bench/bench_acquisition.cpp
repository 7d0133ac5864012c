// Acquisition at full speed: the simulated camera in free run (no frame-rate wait) delivers
// 5000 frames to a scan of the camera machine, polled as the server polls it, into a 64-bit
// image FIFO; a client in another process releases every block as soon as it is written.
// A scan that ends with an error is a failure: it counts with a rate of 0, never left out.
//
// Reported against three copies of the same frames (windows into one pattern a little longer
// than a frame, as the simulated camera makes them), measured in the same run:
//   rotation  into the FIFO's own blocks, in the order the scan used them, right after it
//             (warm pages, the same bytes; the best of three passes): what the scan would
//             cost were the copy all of it;
//   new       into the blocks of a fresh mapping as large as the FIFO, in turn, first-touch
//             page faults included;
//   one slot  into one warm block, over and over: the memory bus's best case.
//
//   bench_acquisition [--benchmark_repetitions=N]   (medians and ratios at the end; lost
//                                                    frames and failed scans over all runs)

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

// The frames the copies copy: windows into one pattern that start a few bytes further on
// each time, as the simulated camera's do.
class Frames {
public:
    explicit Frames(size_t frameBytes) : bytes(frameBytes), pattern(frameBytes + kModulus) {
        for (size_t i = 0; i < pattern.size(); ++i)
            pattern[i] = uint8_t(i % kModulus);
    }
    const uint8_t* operator[](uint64_t counter) const {
        return pattern.data() + counter % kModulus;
    }
    const size_t bytes;

private:
    static constexpr size_t kModulus = 251;
    std::vector<uint8_t> pattern;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Result {
    double seconds = 0;
    uint64_t lines = 0, lost = 0;
    std::string error;
    double rotationSeconds = 0; // the same blocks in the same order, with memcpy
    uint64_t rotationBlocks = 0;
};

// One scan of kFrames frames of width x height on a fresh machine.
Result RunScan(uint32_t width, uint32_t height) {
    // A folder of its own around the host's: a new camera folder is seeded from the
    // installations beside it.
    const std::string root = "/tmp/vyxbench_acquisition_" + std::to_string(getpid());
    const std::string host = root + "/host";
    std::filesystem::remove_all(root);
    const std::string cameraDir = host + "/camera";
    std::filesystem::create_directories(cameraDir + "/VX1280M-SIM/SIM0000001");
    std::ofstream(cameraDir + "/vyxcamera.ini") << "[SimCamera]\nMode=freerun\nWidth=" << width
                                                << "\nHeight=" << height << "\nFrameRate=50\n";
    std::ofstream(cameraDir + "/VX1280M-SIM/SIM0000001/vyxcamera.ini")
        << "[General]\nAlways64Bit=1\n";

    Result result;
    MOutputChannel machineChannel(0), out(1);
    Notifier notifier;
    auto machine =
        std::make_unique<MCameraMachAbstract>("camera", host, &machineChannel, &notifier);
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
    std::vector<uint64_t> rotation; // the blocks the scan wrote, in order
    rotation.reserve(kFrames);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const bool done = scan->IsDone();
        while (scan->ReadNextLine(values)) {
            ++result.lines;
            result.lost += values[1] != 0.0;
            if (values[0] > 0)
                rotation.push_back(uint64_t(values[0]));
        }
        if (done)
            break;
        notifier.Wait(std::chrono::milliseconds(20));
    }
    result.seconds = Seconds(start);
    std::string text;
    out.Take(text, true);
    if (text.find("error") != std::string::npos)
        result.error = text;
    scan.reset();

    // The scan's copies alone, into the same blocks, still warm from it: the best of three
    // passes. The first pass after the scan runs on a processor that mostly slept through it
    // (this thread only polled) and is up to a third slower than the next; the camera's
    // thread had been copying all along.
    if (MMachImagefifo* fifo = machine->FindImageFifo(kFifoName)) {
        auto* blocks = static_cast<uint8_t*>(fifo->ringBuffer64) + 64;
        const Frames frames(block);
        for (int pass = 0; pass < 3; ++pass) {
            const auto copying = std::chrono::steady_clock::now();
            for (size_t i = 0; i < rotation.size(); ++i)
                std::memcpy(blocks + (rotation[i] - 1) * block, frames[i], block);
            benchmark::ClobberMemory();
            const double seconds = Seconds(copying);
            if (pass == 0 || seconds < result.rotationSeconds)
                result.rotationSeconds = seconds;
        }
        result.rotationBlocks = rotation.size();
    }
    machine->Close();
    machine.reset();
    machineChannel.Take(text, true);
    std::filesystem::remove_all(root);
    return result;
}

// Lost frames and failed scans of every run, by frame size: also when only aggregates are
// reported.
std::map<std::pair<int64_t, int64_t>, std::pair<uint64_t, uint64_t>> lostAndFailed;

void BM_Scan(benchmark::State& state) {
    const auto width = static_cast<uint32_t>(state.range(0));
    const auto height = static_cast<uint32_t>(state.range(1));
    const double frameBytes = double(width) * height;
    uint64_t lines = 0, lost = 0, failed = 0, rotated = 0;
    double seconds = 0, rotationSeconds = 0;
    for (auto _ : state) {
        const Result result = RunScan(width, height);
        state.SetIterationTime(result.seconds);
        seconds += result.seconds;
        if (!result.error.empty()) {
            // It counts, with nothing delivered: a rate of 0.
            ++failed;
            std::fprintf(stderr, "scan failed: %s", result.error.c_str());
            continue;
        }
        lines += result.lines;
        lost += result.lost;
        rotated += result.rotationBlocks;
        rotationSeconds += result.rotationSeconds;
    }
    auto& totals = lostAndFailed[{state.range(0), state.range(1)}];
    totals.first += lost;
    totals.second += failed;
    state.SetBytesProcessed(int64_t(frameBytes * double(lines - lost)));
    state.SetItemsProcessed(int64_t(lines));
    state.counters["lost_frames"] = double(lost);
    state.counters["failed_scans"] = double(failed);
    state.counters["rotation_bytes_per_second"] =
        rotationSeconds > 0 ? frameBytes * double(rotated) / rotationSeconds : 0;
}

// Copies kFrames frames into the blocks of a fresh mapping as large as the FIFO, in turn:
// every page is touched for the first time during the copies.
void BM_MemcpyNewSegment(benchmark::State& state) {
    const size_t block = size_t(state.range(0)) * size_t(state.range(1));
    const Frames frames(block);
    uint64_t copied = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        void* ring = mmap(nullptr, kFifoBlocks * block, PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        auto* blocks = static_cast<uint8_t*>(ring);
        for (uint32_t i = 0; i < kFrames; ++i)
            std::memcpy(blocks + (i % kFifoBlocks) * block, frames[i], block);
        benchmark::ClobberMemory();
        state.SetIterationTime(Seconds(start));
        munmap(ring, kFifoBlocks * block);
        copied += kFrames;
    }
    state.SetBytesProcessed(int64_t(double(block) * double(copied)));
    state.SetItemsProcessed(int64_t(copied));
}

// Copies kFrames frames into one block, touched before.
void BM_MemcpyOneSlot(benchmark::State& state) {
    const size_t block = size_t(state.range(0)) * size_t(state.range(1));
    const Frames frames(block);
    std::vector<uint8_t> slot(block, 1);
    uint64_t copied = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < kFrames; ++i)
            std::memcpy(slot.data(), frames[i], block);
        benchmark::ClobberMemory();
        state.SetIterationTime(Seconds(start));
        copied += kFrames;
    }
    state.SetBytesProcessed(int64_t(double(block) * double(copied)));
    state.SetItemsProcessed(int64_t(copied));
}

const std::vector<std::vector<int64_t>> kSizes = {{1280, 1024}, {2048, 2048}};

BENCHMARK(BM_MemcpyNewSegment)
    ->Args(kSizes[0])
    ->Args(kSizes[1])
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyOneSlot)
    ->Args(kSizes[0])
    ->Args(kSizes[1])
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Args(kSizes[0])->Args(kSizes[1])->UseManualTime()->Iterations(1)->Unit(
    benchmark::kMillisecond);

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Collects the rates of every run (bytes per second, and the scans' rotation copies), to
// print medians and ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // Single runs, or only the median when the repetitions are aggregated.
            const bool single = run.run_type == Run::RT_Iteration;
            if (!single && run.aggregate_name != "median")
                continue;
            const std::string name = run.run_name.str();
            for (const char* counter : {"bytes_per_second", "rotation_bytes_per_second"}) {
                const auto it = run.counters.find(counter);
                if (it != run.counters.end())
                    (single ? rates : medians)[name + counter].push_back(it->second.value);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double MedianRate(const std::string& name) {
        return rates.count(name) ? Median(rates[name]) : Median(medians[name]);
    }
    std::map<std::string, std::vector<double>> rates, medians;
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

    std::printf("\n%-11s %7s %6s | GB/s: %6s %8s %6s %8s | ratio to: %8s %6s %8s | %4s %6s\n",
                "frame", "fps", "GB/s", "scan", "rotation", "new", "one slot", "rotation", "new",
                "one slot", "lost", "failed");
    for (const auto& size : kSizes) {
        std::string suffix = "/";
        suffix.append(std::to_string(size[0])).append("/").append(std::to_string(size[1]));
        suffix.append("/iterations:1/manual_time");
        const std::string scanName = "BM_Scan" + suffix;
        const double scan = reporter.MedianRate(scanName + "bytes_per_second");
        const double rotation = reporter.MedianRate(scanName + "rotation_bytes_per_second");
        const double fresh =
            reporter.MedianRate("BM_MemcpyNewSegment" + suffix + "bytes_per_second");
        const double slot = reporter.MedianRate("BM_MemcpyOneSlot" + suffix + "bytes_per_second");
        if (fresh <= 0 || slot <= 0)
            continue;
        const double frameBytes = double(size[0]) * double(size[1]);
        std::printf("%5lldx%-5lld %7.0f %6.2f | %12.2f %8.2f %6.2f %8.2f | %18.2f %6.2f %8.2f | "
                    "%4.0f %6.0f\n",
                    static_cast<long long>(size[0]), static_cast<long long>(size[1]),
                    scan / frameBytes, scan / 1e9, scan / 1e9, rotation / 1e9, fresh / 1e9,
                    slot / 1e9, rotation > 0 ? scan / rotation : 0, scan / fresh, scan / slot,
                    double(lostAndFailed[{size[0], size[1]}].first),
                    double(lostAndFailed[{size[0], size[1]}].second));
    }
    std::printf("(medians over every scan, a failed one at 0; ratio = scan rate / copy rate)\n");
    return 0;
}
