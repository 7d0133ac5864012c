// INI documents: load (Open) and save of a generated 5 MB file of 20,000 sections, in MB/s.
// Baseline: reading the same file and splitting it into lines with the same reader, the part
// of Open that is not parsing. "x_baseline" is each benchmark's CPU time per run divided by
// the baseline's, measured in the same run (CPU time, since the build machine is shared; the
// MB/s figures are per CPU second too).

#include "msl/mfileio/mfastfilereader.h"
#include "msl/mutil/minidata.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int kSections = 20000;
constexpr size_t kTargetBytes = 5u << 20;

struct Files {
    std::filesystem::path dir;
    std::string input, output;
    size_t size = 0;

    Files() {
        dir = std::filesystem::temp_directory_path() /
              ("bench_minidata_" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(dir);
        input = (dir / "in.ini").string();
        output = (dir / "out.ini").string();
        std::string text = Generate();
        std::ofstream(input, std::ios::binary).write(text.data(), std::streamsize(text.size()));
        size = text.size();
    }
    ~Files() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // Probe-database-like sections: a header with a note, a comment line and numeric
    // entries, as many as fit the share of 5 MB that falls to each section.
    static std::string Generate() {
        const size_t perSection = kTargetBytes / kSections;
        std::string text;
        text.reserve(kTargetBytes + 4096);
        text += "; generated probe database\r\n";
        char line[160];
        for (int s = 0; s < kSections; ++s) {
            const size_t start = text.size();
            std::snprintf(line, sizeof line, "[Probe_%05d]  ; tip set %d\r\n", s, s % 7);
            text += line;
            text += "; geometry in mm\r\n";
            for (int e = 0;; ++e) {
                int n = std::snprintf(line, sizeof line, "value%02d = %.17g\r\n", e,
                                      s * 0.001 + e / 3.0);
                if (text.size() + size_t(n) - start > perSection)
                    break;
                text += line;
            }
        }
        return text;
    }
};

Files& files() {
    static Files instance;
    return instance;
}

double baselineSecondsPerRun = 0;

// Runs `body` for the benchmark's iterations, reports bytes and the ratio to the baseline.
template <class Body> void Measure(benchmark::State& state, bool isBaseline, Body body) {
    std::clock_t start = std::clock();
    for (auto _ : state)
        body();
    double perRun = double(std::clock() - start) / CLOCKS_PER_SEC / double(state.iterations());
    if (isBaseline)
        baselineSecondsPerRun = perRun;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(files().size));
    if (baselineSecondsPerRun > 0)
        state.counters["x_baseline"] = perRun / baselineSecondsPerRun;
}

void BM_Baseline_ReadSplitLines(benchmark::State& state) {
    Measure(state, true, [] {
        MFastFileReader reader;
        if (!reader.Open(files().input.c_str()))
            std::abort();
        std::string line;
        size_t lines = 0;
        while (!reader.IsEOF()) {
            reader.ReadLine(line);
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    });
}

void BM_Open(benchmark::State& state) {
    Measure(state, false, [] {
        MIniData ini;
        if (!ini.Open(files().input))
            std::abort();
        benchmark::DoNotOptimize(ini.GetEntryCount("Probe_00000"));
    });
}

void BM_Save(benchmark::State& state) {
    std::filesystem::copy_file(files().input, files().output,
                               std::filesystem::copy_options::overwrite_existing);
    MIniData ini;
    if (!ini.Open(files().output))
        std::abort();
    Measure(state, false, [&] {
        if (!ini.Save())
            std::abort();
    });
}

// The whole cycle of a database change: load, change one value, save.
void BM_OpenChangeSave(benchmark::State& state) {
    std::filesystem::copy_file(files().input, files().output,
                               std::filesystem::copy_options::overwrite_existing);
    Measure(state, false, [] {
        MIniData ini;
        if (!ini.Open(files().output) || !ini.SetLongEntry("Probe_10000", "value00", 7) ||
            !ini.Save())
            std::abort();
    });
}

} // namespace

BENCHMARK(BM_Baseline_ReadSplitLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenChangeSave)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
