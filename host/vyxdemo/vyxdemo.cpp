// vyxdemo: what the camera module does today, on the simulated camera.
//
// Part 1 drives the module the way the Lintel server does: loads it (libvyxcamera.so or
// vyxcamera.dll), creates the machine, opens it, runs a few protocol transactions and closes it.
// The camera machine cannot open yet, so parts 2 to 5 drive the libraries the module is made of
// directly (the module itself exports only its three entry points): the probe manager and
// the camera sensor, the camera's settings, and a measurement into an image FIFO in shared
// memory with one measurand line per frame, which the demo then reads back as a client.
//
// Exit status: 0 success, 1 a failure (its message on standard error), 2 a usage error.

#include "host/vyxdemo/camerastack.h"
#include "host/vyxdemo/demoreport.h"
#include "host/vyxdemo/imageacquisition.h"
#include "host/vyxdemo/servermachine.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mfileio/mfileops.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "mt_proxy/camera/misc/csensorvyxcamera.h"
#include "platform/trace/mtrace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

namespace {

const char kUsage[] =
    "usage: vyxdemo [--dir DIRECTORY] [--frames N] [--segment NAME] [--keep]\n"
    "               [--trace LEVEL] [--module PATH]\n"
    "\n"
    "  --dir DIRECTORY  the host's directory; the camera's configuration goes to\n"
    "                   DIRECTORY/camera (default: a fresh folder in the system's temporary\n"
    "                   folder, removed at the end)\n"
    "  --frames N       frames to acquire, 1 to 10000 (default 25: half a second at 50 fps)\n"
    "  --segment NAME   shared-memory segment of the image FIFO (default vyxdemo_images)\n"
    "  --keep           leave the segment, and a fresh directory, for a look with vyxshm\n"
    "  --trace LEVEL    trace level 0 to 5 (trace lines go to the file named by VYX_TRACE_FILE)\n"
    "  --module PATH    the module to load (default: the one built with this demo)\n";

// Settings the demo gives the camera; the frame rate stays at the camera's default.
constexpr double kGain = 6.0;
constexpr double kShutterMs = 8.0;
constexpr double kFrameRate = 50.0;
// Blocks of the image FIFO, and how many of them the demo's client keeps in use.
constexpr size_t kBlocks = 8;
constexpr size_t kHeldBlocks = 4;

struct DemoOptions {
    std::string modulePath = VYX_MODULE_PATH;
    std::string directory; // empty: a fresh one
    std::string segment = "vyxdemo_images";
    uint32_t frames = 25;
    int traceLevel = -1;
    bool keep = false;
};

int Usage(const char* problem, const char* argument) {
    std::fprintf(stderr, "vyxdemo: %s%s\n%s", problem, argument, kUsage);
    return 2;
}

// 0 when the options are good, else the exit status.
int ParseOptions(int argc, char** argv, DemoOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--keep") == 0) {
            options.keep = true;
            continue;
        }
        if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "--help") == 0) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        const bool takesValue =
            std::strcmp(option, "--dir") == 0 || std::strcmp(option, "--frames") == 0 ||
            std::strcmp(option, "--segment") == 0 || std::strcmp(option, "--trace") == 0 ||
            std::strcmp(option, "--module") == 0;
        if (!takesValue)
            return Usage("unknown option ", option);
        if (i + 1 >= argc)
            return Usage("a value is missing after ", option);
        const char* value = argv[++i];
        char* end = nullptr;
        if (std::strcmp(option, "--dir") == 0) {
            options.directory = value;
        } else if (std::strcmp(option, "--segment") == 0) {
            options.segment = value;
        } else if (std::strcmp(option, "--module") == 0) {
            options.modulePath = value;
        } else if (std::strcmp(option, "--frames") == 0) {
            const long frames = std::strtol(value, &end, 10);
            if (*value == '\0' || *end != '\0' || frames < 1 || frames > 10000)
                return Usage("--frames takes a number from 1 to 10000, not ", value);
            options.frames = static_cast<uint32_t>(frames);
        } else {
            const long level = std::strtol(value, &end, 10);
            if (*value == '\0' || *end != '\0' || level < 0 || level > 5)
                return Usage("--trace takes a level from 0 to 5, not ", value);
            options.traceLevel = static_cast<int>(level);
        }
    }
    return 0;
}

void Section(const char* title) {
    std::printf("\n== %s ==\n", title);
}

// The host's directory: the one given, or a fresh one that is removed again unless kept.
class DemoDirectory {
public:
    bool Settle(const std::string& given, bool keepFresh) {
        if (!given.empty()) {
            path = given;
            return true;
        }
        // A name nobody else has: created here, or tried again with another.
        std::error_code error;
        const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && !error; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "vyxdemo.%08x", static_cast<unsigned>(random()));
            std::filesystem::path candidate = temp / name;
            if (std::filesystem::create_directory(candidate, error)) {
                path = candidate.string();
                fresh = !keepFresh;
                return true;
            }
        }
        return DemoFailed("cannot create a folder under %s: %s", temp.string().c_str(),
                          error ? error.message().c_str() : "every name taken");
    }
    ~DemoDirectory() {
        std::error_code ignored;
        if (fresh)
            std::filesystem::remove_all(path, ignored);
    }
    const std::string& Path() const { return path; }
    bool Removed() const { return fresh; }

private:
    std::string path;
    bool fresh = false; // ours to remove
};

// Prints what the measurement gave; false when the demo did not work as it should.
bool PrintSummary(const AcquisitionResult& result, uint32_t frames, double frameRate, void* ring) {
    const auto& lines = result.lines;
    if (lines.empty())
        return DemoFailed("no measurand line arrived: the camera delivered no frame");
    uint64_t lost = 0;
    uint32_t previous = 0;
    for (const MeasurandLine& line : lines) {
        const auto counter = static_cast<uint32_t>(line.counter);
        if (counter != 0 && previous != 0 && counter > previous + 1)
            lost += counter - previous - 1;
        if (counter != 0)
            previous = counter;
    }
    std::printf("  frames              %zu, frame counters %.0f to %.0f\n", lines.size(),
                lines.front().counter, lines.back().counter);
    std::printf("  lost frames         %llu\n", static_cast<unsigned long long>(lost));
    if (result.withoutImage != 0)
        std::printf("  frames w/o image    %u\n", result.withoutImage);
    std::printf("  images checked      %u, %u match the camera's test pattern\n",
                result.imagesChecked, result.imagesChecked - result.imagesWrong);
    if (lines.size() > 1) {
        const double period =
            (lines.back().time - lines.front().time) / double(lines.size() - 1) * 1000.0;
        std::printf("  mean frame period   %.2f ms (configured %g fps: %.2f ms)\n", period,
                    frameRate, 1000.0 / frameRate);
    }
    std::printf("  blocks in use       %zu of %zu:", MMemBlockRingBuffer_GetNumUsed(ring),
                MMemBlockRingBuffer_GetNumEntries(ring));
    for (size_t i = 0; i < result.heldBlocks.size(); ++i) {
        const double counter = lines[lines.size() - result.heldBlocks.size() + i].counter;
        std::printf(" %zu (frame %.0f)", result.heldBlocks[i], counter);
    }
    std::printf("\n");

    if (result.timedOut)
        return DemoFailed("only %zu of %u frames arrived in time", lines.size(), frames);
    if (result.lineFifoFull)
        return DemoFailed("the measurand line FIFO ran full");
    if (result.noFreeBlock != 0)
        return DemoFailed("%u frames found no free block in the image FIFO", result.noFreeBlock);
    if (result.imagesChecked == 0 || result.imagesWrong != 0)
        return DemoFailed("%u of %u images differ from the test pattern", result.imagesWrong,
                          result.imagesChecked);
    return true;
}

bool RunCameraStack(const DemoOptions& options, const std::string& cameraDirectory) {
    MErrTraceContext context(__FILE__);
    CameraStack stack;
    if (!stack.Open(cameraDirectory))
        return false;
    stack.PrintCamera();

    Section("3. Camera settings through the sensor");
    if (!stack.ApplySettings(kGain, kShutterMs, kFrameRate))
        return false;

    Section("4. A measurement into the image FIFO and the measurand FIFO");
    const CVyxImageGeometry& geometry = stack.Camera().GetImageGeometry();
    const size_t imageBytes =
        size_t(geometry.imageWidth) * geometry.imageHeight * geometry.memoryBytesPerPixel;
    ImageFifo fifo;
    if (!fifo.Create(options.segment, kBlocks, imageBytes))
        return false;
    std::printf("image FIFO \"%s\": %zu blocks of %zu bytes (%u x %u pixels, %u byte each),\n"
                "  a shared-memory segment of %zu bytes\n",
                options.segment.c_str(), kBlocks, imageBytes, geometry.imageWidth,
                geometry.imageHeight, geometry.memoryBytesPerPixel, fifo.SegmentSize());
    std::printf("measurand FIFO: %u lines of (frame counter, time in s, block number), in "
                "process memory\n",
                options.frames);
    std::printf("acquiring %u frames; the camera thread fills a block and a line per frame, the "
                "demo reads\nthe lines as a client, checks each image and releases its block, "
                "keeping the newest %zu\n",
                options.frames, kHeldBlocks);
    AcquisitionResult result;
    if (!AcquireFrames(stack.Camera(), fifo, options.frames, stack.FrameRate(), kHeldBlocks,
                       result))
        return false;
    if (!PrintSummary(result, options.frames, stack.FrameRate(), fifo.Base()))
        return false;

    Section("5. The images with vyxshm");
    const size_t newest = result.heldBlocks.empty() ? 1 : result.heldBlocks.back();
    std::printf("  %s info %s\n", VYX_SHM_PATH, options.segment.c_str());
    std::printf("  %s read %s %zu -o frame.raw\n", VYX_SHM_PATH, options.segment.c_str(), newest);
    std::printf("frame.raw is then the newest image: %u x %u pixels, %u byte each, row after "
                "row, no header\n",
                geometry.imageWidth, geometry.imageHeight, geometry.memoryBytesPerPixel);
    if (options.keep) {
        fifo.Keep();
        std::printf("segment \"%s\" kept: it stays until it is removed (rm /dev/shm/%s) or the "
                    "machine reboots\n",
                    options.segment.c_str(), options.segment.c_str());
    } else {
        std::printf(
            "(run the demo with --keep to leave the segment for that; this run removes it)\n");
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    DemoOptions options;
    if (int status = ParseOptions(argc, argv, options))
        return status;
    if (options.traceLevel >= 0)
        _MTrace_SetLevel("default", options.traceLevel);
    DemoDirectory directory;
    if (!directory.Settle(options.directory, options.keep))
        return 1;

    Section("1. The module, as the server drives it");
    if (!RunServerMachine(options.modulePath, directory.Path(), options.traceLevel))
        return 1;

    Section("2. The camera stack, through the module's libraries");
    std::printf("The camera machine cannot open yet, so this part uses the libraries inside the "
                "module\ndirectly, as the camera machine will.\n");
    if (!RunCameraStack(options, file_join(directory.Path(), "camera")))
        return 1;

    std::printf("\ndone; %s %s\n", directory.Removed() ? "removing" : "leaving",
                directory.Path().c_str());
    return 0;
}
