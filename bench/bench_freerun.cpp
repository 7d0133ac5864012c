// The module's own ceiling for the road benchmark (bench/road): the camera machine with the
// simulated camera in free run (frames as fast as the receivers take them) scans into a 64 MiB
// image FIFO, the size the road's clients use, and a reader that costs nothing reads the
// measurand lines on the polling thread itself. For 1280 x 1024 and 2048 x 2048 8-bit frames
// and a one-row camera of 2048 pixels.
//
// The reader holds one block, the last, and releases the one before as each new line comes,
// so that the camera writes into rotating slots as it does for every client of the road,
// whose frames are released some time after they were written. Released at once, each block
// would be the next one written (the ring hands out the first free block from the one handed
// out last), and the ceiling would be a copy into one warm slot, which no client sees.
//
// The rate is the camera's: lines over the span of their frame times, so that it tells how
// fast the module turns frames into lines even where nothing can keep up with it. A one-row
// camera in free run outruns any reader of the measurand FIFO, so its scan may end in
// "measurandfifo overflow"; the label says so, and the lines up to then still count.
//
//   bench_freerun [--benchmark_format=json]   lines per second as items_per_second

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/msharedmem.h"
#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint64_t kFifoBytes = uint64_t(64) << 20;

class QuietNotifier : public MClientNotifier {
public:
    int32_t GetState() override { return 1; }
    void WakeUp() override {} // the reader polls without pause
};

struct Result {
    double seconds = 0;         // wall time of the scan
    double first = 0, last = 0; // frame times of the first and the last line
    uint64_t lines = 0, lost = 0;
    std::string error;
};

Result RunScan(uint32_t width, uint32_t height, uint32_t frames) {
    const std::string host = "/tmp/vyxbench_freerun_" + std::to_string(getpid());
    const std::string fifo = "vyxbench_freerun_" + std::to_string(getpid());
    std::filesystem::remove_all(host);
    std::filesystem::create_directories(host + "/camera");
    std::ofstream(host + "/camera/vyxcamera.ini")
        << "[SimCamera]\nMode=freerun\nWidth=" << width << "\nHeight=" << height
        << "\nClipHeightMin=1\nClipHeightInc=1\nClipYInc=1\nFrameRate=50\n";
    Result result;
    MOutputChannel machineChannel(0), out(1);
    QuietNotifier notifier;
    auto machine =
        std::make_unique<MCameraMachAbstract>("camera", host, &machineChannel, &notifier);
    auto run = [](MMachCommand* command) {
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
    run(machine->NewMMachScandataCommand(&out, {"imageindex", "lock", "time"}));
    run(machine->NewMMachImagefifoCreateCommand(&out, fifo, kFifoBytes));
    run(machine->NewMMachImagefifoSelectCommand(&out, fifo));
    void* ring = MSharedMem_Link(fifo.c_str());
    const bool wide = ring != nullptr && static_cast<uint8_t*>(ring)[0] == 8;

    MMachScanRequest request;
    request.axes["time"] = {(frames + 0.5) * machine->FindAxis("time")->accuracy, 1};
    std::unique_ptr<MMachScanCommand> scan(machine->NewMMachScanCommand(&out, request));
    std::vector<double> values;
    size_t held = 0; // the block of the last line, 0 for none
    auto release = [&](size_t number) {
        if (number == 0)
            return;
        if (wide)
            MMemBlockRingBuffer_Release(ring, number);
        else
            MMemBlockRingBuffer32_Release(ring, uint32_t(number));
    };
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const bool done = scan->IsDone();
        bool any = false;
        while (scan->ReadNextLine(values)) {
            any = true;
            result.last = values[2];
            if (result.lines++ == 0)
                result.first = values[2];
            result.lost += values[1] != 0.0;
            if (values[0] >= 1) {
                release(held);
                held = size_t(values[0]);
            }
        }
        if (done)
            break;
        if (!any)
            std::this_thread::yield();
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string text;
    out.Take(text, true);
    if (const size_t at = text.find("error \""); at != std::string::npos)
        result.error = text.substr(at + 7, text.find('"', at + 7) - at - 7);
    scan.reset();
    release(held);
    if (ring != nullptr)
        MSharedMem_Unlink(ring);
    run(machine->NewMMachImagefifoDeleteCommand(&out, fifo));
    machine->Close();
    machine.reset();
    machineChannel.Take(text, true);
    std::filesystem::remove_all(host);
    return result;
}

void BM_FreeRun(benchmark::State& state) {
    static std::string error; // the reporter reads it after this function returned
    for (auto _ : state) {
        const Result result =
            RunScan(uint32_t(state.range(0)), uint32_t(state.range(1)), uint32_t(state.range(2)));
        if (result.lines < 2 || result.last <= result.first) {
            error = result.error.empty() ? "no lines" : result.error;
            state.SkipWithError(error.c_str());
            return;
        }
        // Manual time: the camera's span, so that items per second is the module's rate.
        state.SetIterationTime(result.last - result.first);
        state.SetItemsProcessed(int64_t(result.lines - 1));
        state.counters["lost_frames"] = double(result.lost);
        state.counters["lines"] = double(result.lines);
        state.counters["read_per_second"] = double(result.lines) / result.seconds;
        if (!result.error.empty())
            state.SetLabel("ended in \"" + result.error + "\"");
    }
}

BENCHMARK(BM_FreeRun)
    ->Args({1280, 1024, 4000})
    ->Args({2048, 2048, 1000})
    ->Args({2048, 1, 400000})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
