// The preview window's picture.
//
// Its drawing: a 1280 x 1024 camera frame stretched through the palette into the 32-bit image
// of the client area, against a plain palette lookup of the same frame at its own size (no
// stretching) in the same run. These report "Mpixel/s" (target pixels per second) and
// "vs_lookup", their Mpixel/s divided by the lookup's.
//
// What the preview receiver pays on the camera thread for the window's own copy: a frame
// offered while the window waits for none (it has not drawn the last copy yet), and the copy
// of a 1280 x 1024 frame of 1 or 2 bytes per pixel into the window's 8-bit picture, against a
// memcpy of the frame's bytes in the same run. These report "ns/frame" and "vs_memcpy", their
// time divided by that memcpy's.
//
// Times are processor time of this process, so that other load on the machine does not skew
// the ratios.
#include "mt_proxy/camera/mmachabstract/mpreviewpicture.h"
#include "mt_proxy/camera/mmachabstract/mpreviewstretch.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr int kWidth = 1280;
constexpr int kRows = 1024;

struct Frame {
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(kWidth * kRows);
    std::uint32_t colours[256];
    Frame() {
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>(i * 7 + i / kWidth);
        for (int i = 0; i < 256; ++i)
            colours[i] = 0x010101u * static_cast<std::uint32_t>(i);
    }
};

const Frame& TheFrame() {
    static const Frame frame;
    return frame;
}

double g_lookupMpixels = 0; // set by BM_Lookup, which runs first

template <typename Step> double Run(benchmark::State& state, std::int64_t pixels, Step step) {
    const std::clock_t start = std::clock();
    for (auto _ : state)
        step();
    const double spent = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    const double mpixels = static_cast<double>(state.iterations() * pixels) / spent / 1e6;
    state.counters["Mpixel/s"] = mpixels;
    if (g_lookupMpixels > 0)
        state.counters["vs_lookup"] = mpixels / g_lookupMpixels;
    return mpixels;
}

void BM_Lookup(benchmark::State& state) {
    const Frame& frame = TheFrame();
    std::vector<std::uint32_t> out(frame.pixels.size());
    g_lookupMpixels = Run(state, kWidth * kRows, [&] {
        for (std::size_t i = 0; i < frame.pixels.size(); ++i)
            out[i] = frame.colours[frame.pixels[i]];
        benchmark::ClobberMemory();
    });
    state.counters["vs_lookup"] = 1.0;
}

// Arguments: client width and height, flipped (both ways) or not.
void BM_Stretch(benchmark::State& state) {
    const Frame& frame = TheFrame();
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::uint8_t flip = static_cast<std::uint8_t>(state.range(2));
    MPreviewImageDescription description{frame.pixels.data(), kWidth, kRows, flip, flip};
    std::vector<std::uint32_t> out(static_cast<std::size_t>(width) * height);
    Run(state, std::int64_t{width} * height, [&] {
        benchmark::DoNotOptimize(MPreviewStretch_To32(description, frame.colours, width, height,
                                                      out.data(), static_cast<std::size_t>(width)));
        benchmark::ClobberMemory();
    });
}

// ---- The receiver's copy ----

double g_memcpyNs[3] = {}; // by bytes per pixel; set by BM_Memcpy, which runs first

// A camera frame of `bytesPerPixel` bytes per pixel, unclipped.
struct CameraFrame {
    std::vector<std::uint8_t> pixels;
    Vyx::CImgBuffer record;
    explicit CameraFrame(std::uint64_t bytesPerPixel)
        : pixels(std::size_t(kWidth) * kRows * bytesPerPixel) {
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>(i * 7 + i / kWidth);
        record.rowPitch = kWidth;
        record.rows = kRows;
        record.bytesPerPixel = bytesPerPixel;
        record.bitsPerPixel = static_cast<std::uint32_t>(8 * bytesPerPixel);
        record.pixels = pixels.data();
    }
};

template <typename Step> double NsPerIteration(benchmark::State& state, Step step) {
    const std::clock_t start = std::clock();
    for (auto _ : state)
        step();
    const double spent = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    const double ns = spent * 1e9 / static_cast<double>(state.iterations());
    state.counters["ns/frame"] = ns;
    return ns;
}

void ReportVsMemcpy(benchmark::State& state, double ns, int bytesPerPixel) {
    if (g_memcpyNs[bytesPerPixel] > 0)
        state.counters["vs_memcpy"] = ns / g_memcpyNs[bytesPerPixel];
}

// Argument: bytes per pixel.
void BM_Memcpy(benchmark::State& state) {
    const int bytesPerPixel = static_cast<int>(state.range(0));
    const CameraFrame frame(static_cast<std::uint64_t>(bytesPerPixel));
    std::vector<std::uint8_t> out(frame.pixels.size());
    g_memcpyNs[bytesPerPixel] = NsPerIteration(state, [&] {
        std::memcpy(out.data(), frame.pixels.data(), out.size());
        benchmark::ClobberMemory();
    });
    state.counters["vs_memcpy"] = 1.0;
}

// The window has not drawn its last copy: the frame is passed over.
void BM_ReceiverNothingWanted(benchmark::State& state) {
    const CameraFrame frame(1);
    MPreviewPicture picture;
    ReportVsMemcpy(
        state,
        NsPerIteration(state, [&] { benchmark::DoNotOptimize(picture.Offer(frame.record)); }), 1);
}

// The window wants a picture: the frame is copied. Argument: bytes per pixel.
void BM_ReceiverCopy(benchmark::State& state) {
    const int bytesPerPixel = static_cast<int>(state.range(0));
    const CameraFrame frame(static_cast<std::uint64_t>(bytesPerPixel));
    MPreviewPicture picture;
    ReportVsMemcpy(state,
                   NsPerIteration(state,
                                  [&] {
                                      picture.Want();
                                      benchmark::DoNotOptimize(picture.Offer(frame.record));
                                      benchmark::ClobberMemory();
                                  }),
                   bytesPerPixel);
}

} // namespace

BENCHMARK(BM_Memcpy)->Arg(1)->Arg(2);
BENCHMARK(BM_ReceiverNothingWanted);
BENCHMARK(BM_ReceiverCopy)->Arg(1)->Arg(2);
BENCHMARK(BM_Lookup);
BENCHMARK(BM_Stretch)
    ->Args({1280, 1024, 0})
    ->Args({1280, 1024, 1})
    ->Args({640, 512, 0})
    ->Args({1920, 1200, 0});

BENCHMARK_MAIN();
