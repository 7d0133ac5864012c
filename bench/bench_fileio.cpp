// Fast file reading against a plain read() of the same bytes, timed side by side in each
// iteration (order alternated so neither profits from the other's cache state). The files
// sit in the page cache, so the figures show the library's own cost over the system call.
// Counters: MB/s of each side and "ratio" = fast time / plain time (1.0 is as fast as read).

#include "msl/mfileio/mfastfile.h"
#include "msl/mfileio/mfastfilereader.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A file in the temporary folder, removed at exit.
class BenchFile {
public:
    explicit BenchFile(const std::string& bytes) {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp != nullptr ? tmp : "/tmp") + "/vyxbench_fileio_XXXXXX";
        int fd = ::mkstemp(path.data());
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
            std::abort();
        ::close(fd);
        size = bytes.size();
    }
    ~BenchFile() { ::unlink(path.c_str()); }
    std::string path;
    std::size_t size = 0;
};

// An INI-like text: lines of 20 to 80 bytes, CR LF ends.
std::string IniText(std::size_t size) {
    std::string text;
    text.reserve(size + 100);
    for (unsigned i = 0; text.size() < size; ++i) {
        text += "Entry" + std::to_string(i) + "=";
        text.append(10 + (i * 37) % 60, char('a' + i % 26));
        text += "\r\n";
    }
    return text;
}

// The baseline: one open, one read of the whole file, one close.
void PlainRead(const std::string& path, std::vector<char>& into) {
    int fd = ::open(path.c_str(), O_RDONLY);
    std::size_t done = 0;
    ssize_t n;
    while ((n = ::read(fd, into.data() + done, into.size() - done)) > 0)
        done += std::size_t(n);
    ::close(fd);
    benchmark::DoNotOptimize(into.data());
}

void SideBySide(benchmark::State& state, const BenchFile& file, const std::function<void()>& fast) {
    std::vector<char> plain(file.size);
    PlainRead(file.path, plain); // fault the pages in
    double fastSeconds = 0, plainSeconds = 0;
    bool fastFirst = true;
    for (auto _ : state) {
        Clock::duration fastTime{}, plainTime{};
        for (int pass = 0; pass < 2; ++pass) {
            auto start = Clock::now();
            if ((pass == 0) == fastFirst) {
                fast();
                fastTime = Clock::now() - start;
            } else {
                PlainRead(file.path, plain);
                plainTime = Clock::now() - start;
            }
        }
        fastFirst = !fastFirst;
        state.SetIterationTime(Seconds(fastTime));
        fastSeconds += Seconds(fastTime);
        plainSeconds += Seconds(plainTime);
    }
    double megabytes = double(file.size) * double(state.iterations()) / 1e6;
    state.SetBytesProcessed(int64_t(file.size) * state.iterations());
    state.counters["fast_MB/s"] = megabytes / fastSeconds;
    state.counters["read_MB/s"] = megabytes / plainSeconds;
    state.counters["ratio"] = fastSeconds / plainSeconds;
}

void BM_ReadAtOnce(benchmark::State& state) {
    BenchFile file(IniText(std::size_t(state.range(0))));
    std::string data;
    SideBySide(state, file, [&] {
        MFastFile_ReadAtOnce(file.path.c_str(), data);
        benchmark::DoNotOptimize(data.data());
    });
}

void BM_ReaderReadLine(benchmark::State& state) {
    BenchFile file(IniText(std::size_t(state.range(0))));
    std::string line;
    SideBySide(state, file, [&] {
        MFastFileReader reader(file.path.c_str());
        std::size_t total = 0;
        while (!reader.IsEOF()) {
            reader.ReadLine(line);
            total += line.size();
        }
        benchmark::DoNotOptimize(total);
    });
}

void BM_ReaderReadCharNL(benchmark::State& state) {
    BenchFile file(IniText(std::size_t(state.range(0))));
    SideBySide(state, file, [&] {
        MFastFileReader reader(file.path.c_str());
        char c;
        std::size_t lines = 0;
        while (reader.ReadCharNL(c) == 1)
            lines += c == '\n';
        benchmark::DoNotOptimize(lines);
    });
}

void BM_ReaderBlocks64KiB(benchmark::State& state) {
    BenchFile file(IniText(std::size_t(state.range(0))));
    std::vector<char> block(64 << 10);
    SideBySide(state, file, [&] {
        MFastFileReader reader(file.path.c_str());
        while (reader.Read(block.data(), block.size()) > 0)
            benchmark::DoNotOptimize(block.data());
    });
}

void BM_ReadLinesAtOnce(benchmark::State& state) {
    BenchFile file(IniText(std::size_t(state.range(0))));
    std::string text;
    SideBySide(state, file, [&] {
        MFastFile_ReadLinesAtOnce(file.path.c_str(), text);
        benchmark::DoNotOptimize(text.data());
    });
}

// A typical INI file (16 KiB) and a large one (16 MiB).
#define FILEIO_BENCH(fn) BENCHMARK(fn)->Arg(16 << 10)->Arg(16 << 20)->UseManualTime()

FILEIO_BENCH(BM_ReadAtOnce);
FILEIO_BENCH(BM_ReadLinesAtOnce);
FILEIO_BENCH(BM_ReaderReadLine);
FILEIO_BENCH(BM_ReaderReadCharNL);
FILEIO_BENCH(BM_ReaderBlocks64KiB);

} // namespace

BENCHMARK_MAIN();
