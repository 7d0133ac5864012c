// vyxcam: what the camera library sees, for whoever points the module at a camera.
//
//   vyxcam list [--config FILE] [--fake]
//       one line per camera: back end, id (what [GenICam] device takes), maker, model,
//       serial number and, for GigE Vision, the address
//   vyxcam check --config FILE [--frames N] [--max-lost N] [--rate FPS] [--size WxH]
//       opens the camera FILE chooses (the machine's vyxcamera.ini) as the module would,
//       prints its identity and settings, takes N frames and prints what a camera maker's
//       tools print: frames per second, complete, incomplete and lost frames, resent packets
//       and MB/s
//
// Exit status: 0 success, 1 failure (also more than --max-lost frames incomplete or lost),
// 2 usage error.

#include "platform/trace/printfformat.h"
#include "platform/vyx/ccameralist.h"
#include "platform/vyx/cstreamstatistics.h"
#include "platform/vyx/vyxbase.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

int List(const std::string& config, bool fake) {
    std::vector<Vyx::CCameraEntry> cameras;
    std::string genicamError, error;
    if (!Vyx::CCameraList::Enumerate(config.empty() ? nullptr : config.c_str(), fake, &cameras,
                                     &genicamError, &error)) {
        std::fprintf(stderr, "vyxcam: %s\n", error.c_str());
        return kFailed;
    }
    const char* headings[] = {"BACKEND", "ID", "MANUFACTURER", "MODEL", "SERIAL", "ADDRESS"};
    std::vector<std::vector<std::string>> rows = {{headings, headings + 6}};
    for (const Vyx::CCameraEntry& c : cameras)
        rows.push_back({c.backEnd, c.id, c.manufacturer, c.model, c.serialNumber, c.address});
    std::vector<size_t> widths(6, 0);
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i)
            line +=
                row[i] + std::string(i + 1 < row.size() ? widths[i] - row[i].size() + 2 : 0, ' ');
        line.erase(line.find_last_not_of(' ') + 1);
        std::printf("%s\n", line.c_str());
    }
    if (!genicamError.empty())
        std::fprintf(stderr, "vyxcam: no GenICam cameras listed: %s\n", genicamError.c_str());
    return 0;
}

// Counts the frames of the check as the module would see them: complete ones, incomplete
// ones (no pixels, or counter 0) and lost ones (counter jumps beyond the incomplete ones).
struct Counter {
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t complete = 0, incomplete = 0, lost = 0;
    uint64_t incompleteSinceLast = 0;
    uint32_t lastCounter = 0;
    uint64_t frameBytes = 0;
    // Frames beyond these, which come before the camera has stopped, do not count.
    uint64_t wanted = UINT64_MAX;

    uint64_t Exposures() const { return complete + incomplete + lost; }

    static void Take(void* context, const Vyx::CImgBuffer* image, uint32_t) {
        auto* self = static_cast<Counter*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        if (self->Exposures() >= self->wanted)
            return;
        if (image->pixels == nullptr || image->frameCounter == 0) {
            ++self->incomplete;
            ++self->incompleteSinceLast;
        } else if (image->frameCounter > self->lastCounter) {
            // Counters count exposures from 1 at Grab; the incomplete ones are among them.
            const uint64_t skipped = image->frameCounter - self->lastCounter - 1;
            self->lost +=
                skipped > self->incompleteSinceLast ? skipped - self->incompleteSinceLast : 0;
            self->incompleteSinceLast = 0;
            self->lastCounter = image->frameCounter;
            ++self->complete;
            const uint64_t width = image->clipWidth ? image->clipWidth : image->rowPitch;
            const uint64_t height = image->clipHeight ? image->clipHeight : image->rows;
            self->frameBytes = width * height * image->bytesPerPixel;
        }
        self->arrived.notify_all();
    }
};

std::string Item(const std::string& xml, const char* key) {
    const std::string wide(xml);
    std::wstring text(wide.begin(), wide.end());
    Vyx::CXmlNode root, node;
    std::wstring value;
    const std::string path = std::string("/Info/Item[@key='") + key + "']";
    const std::wstring xpath(path.begin(), path.end());
    if (root.LoadFromString(text.c_str()) != 0 || root.GetNode(xpath.c_str(), node) != 0 ||
        node.GetValue(L"value", value) != 0)
        return "-";
    std::string out;
    for (wchar_t c : value)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

struct CheckOptions {
    std::string config;
    unsigned frames = 25;
    uint64_t maxLost = 0;
    double rate = 0;                // 0: the camera's own
    uint32_t width = 0, height = 0; // 0: the camera's own region
};

void PrintFigure(const char* label, const char* format, ...) VYX_PRINTF_FORMAT(2, 3);

void PrintFigure(const char* label, const char* format, ...) {
    char value[512];
    va_list args;
    va_start(args, format);
    vsnprintf(value, sizeof value, format, args);
    va_end(args);
    std::printf("%-15s %s\n", label, value);
}

// Takes the frames and prints the figures one compares with the camera maker's tools; false
// when fewer than asked for came.
bool TakeFrames(Vyx::CImgSensors* camera, const CheckOptions& options, double rate,
                Counter& counter, double& seconds) {
    camera->RegisterImgStreamInput(&counter, Counter::Take, 0);
    const auto start = std::chrono::steady_clock::now();
    bool all = false;
    if (!camera->Grab(0)) {
        std::fprintf(stderr, "vyxcam: %s\n", camera->GetLastErrorText(0));
    } else {
        // Ten times the frames' time, and at least ten seconds.
        const auto limit = std::chrono::milliseconds(
            std::max<int64_t>(10000, int64_t(10000.0 * options.frames / (rate > 0 ? rate : 1))));
        std::unique_lock<std::mutex> lock(counter.mutex);
        all = counter.arrived.wait_for(lock, limit,
                                       [&] { return counter.Exposures() >= options.frames; });
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        lock.unlock();
        camera->Freeze(0);
    }
    camera->UnregisterImgStreamInput(&counter, Counter::Take, 0);
    return all;
}

int Check(const CheckOptions& options) {
    Vyx::CImgSensors* camera = Vyx::CImgSensors::GetInstance();
    if (camera == nullptr) {
        std::fprintf(stderr, "vyxcam: the camera library offers no camera\n");
        return kFailed;
    }
    const int opened = camera->Initialize(options.config.c_str(), 0);
    if (opened <= 0) {
        if (opened == 0)
            std::fprintf(stderr, "vyxcam: the camera is open already\n");
        else
            std::fprintf(stderr, "vyxcam: the camera does not open: %s\n",
                         camera->GetLastErrorText(0));
        return kFailed;
    }
    std::string xml;
    camera->GetCameraInfo(&xml, 0);
    for (const char* key : {"manufacturer", "devicename", "serialnumber", "productversion",
                            "fpgaversion", "driverversion", "dllversion"})
        PrintFigure(key, "%s", Item(xml, key).c_str());
    int status = 0;
    if ((options.rate > 0 && !camera->SetFrameRate(options.rate, 0)) ||
        (options.width > 0 && !camera->SetClippingRegion(0, 0, options.width, options.height, 0))) {
        std::fprintf(stderr, "vyxcam: %s\n", camera->GetLastErrorText(0));
        camera->Uninitialize(0);
        return kFailed;
    }
    Vyx::CImageInfo info;
    double exposure = 0, rate = 0, gain = 0, pixelWidth = 0, pixelHeight = 0;
    if (camera->GetImageInfo(&info, 0))
        PrintFigure("sensor", "%ux%u, region %ux%u%+d%+d, %u byte(s) per pixel, format %u",
                    info.memoryWidth, info.memoryHeight, info.clipWidth, info.clipHeight,
                    info.clipX, info.clipY, info.memoryBytesPerPixel, info.pixelFormat);
    if (camera->GetExposure(&exposure, 0) && camera->GetFrameRate(&rate, 0) &&
        camera->GetGain(&gain, 0))
        PrintFigure("settings", "exposure %g ms, %g frames/s, gain %g", exposure, rate, gain);
    if (camera->GetPixelSize(&pixelWidth, &pixelHeight, 0) == 1)
        PrintFigure("pixel size", "%g x %g mm", pixelWidth, pixelHeight);

    if (options.frames > 0) {
        Counter counter;
        counter.wanted = options.frames;
        double seconds = 0;
        const bool all = TakeFrames(camera, options, rate, counter, seconds);
        Vyx::CStreamStatistics stream;
        std::string why;
        const bool network = Vyx::CStreamStatistics::Read(&stream, &why);
        std::lock_guard<std::mutex> lock(counter.mutex);
        const auto count = [](uint64_t n) { return static_cast<unsigned long long>(n); };
        PrintFigure("frames", "%llu of %u", count(counter.Exposures()), options.frames);
        PrintFigure("seconds", "%.2f", seconds);
        PrintFigure("fps", "%.2f", seconds > 0 ? counter.complete / seconds : 0.0);
        PrintFigure("complete", "%llu", count(counter.complete));
        PrintFigure("incomplete", "%llu", count(counter.incomplete));
        PrintFigure("lost", "%llu", count(counter.lost));
        if (network) {
            PrintFigure("resent packets", "%llu", count(stream.resentPackets));
            PrintFigure("missing packets", "%llu", count(stream.missingPackets));
        } else {
            PrintFigure("resent packets", "-");
        }
        PrintFigure("MB/s", "%.2f",
                    seconds > 0 ? counter.complete * counter.frameBytes / seconds / 1e6 : 0.0);
        if (network)
            PrintFigure("stream", "%s; to %s from %s", stream.setup.c_str(),
                        stream.interfaceAddress.c_str(), stream.cameraAddress.c_str());
        if (!all) {
            std::fprintf(stderr, "vyxcam: only %llu of %u frames arrived\n",
                         count(counter.Exposures()), options.frames);
            if (network && stream.receivedPackets == 0)
                std::fprintf(stderr,
                             "vyxcam: no packet of the stream reached %s from the camera at %s: "
                             "is the camera on a network this machine is on, and does a "
                             "firewall let its stream in? packet_socket = off in [GenICam] "
                             "tells whether the packet socket is to blame\n",
                             stream.interfaceAddress.c_str(), stream.cameraAddress.c_str());
            status = kFailed;
        } else if (counter.incomplete + counter.lost > options.maxLost) {
            std::fprintf(stderr,
                         "vyxcam: %llu of %llu frames incomplete or lost, more than --max-lost "
                         "%llu\n",
                         count(counter.incomplete + counter.lost), count(counter.Exposures()),
                         count(options.maxLost));
            status = kFailed;
        }
    }
    camera->Uninitialize(0);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"What the camera library sees: the cameras it can reach, and a check of the "
                 "camera a configuration chooses."};
    app.require_subcommand(1);
    std::string config, size;
    bool fake = false;
    CheckOptions options;

    CLI::App* list = app.add_subcommand("list", "List the cameras: simulated and GenICam");
    list->add_option("--config", config,
                     "Configuration file whose [SimCamera] describes the simulated camera");
    list->add_flag("--fake", fake, "Also list Aravis's test camera (Fake_1)");

    CLI::App* check = app.add_subcommand(
        "check", "Open the camera a configuration file chooses, as the module would, and take "
                 "frames");
    check
        ->add_option("--config", options.config,
                     "The machine's vyxcamera.ini (or any file like it)")
        ->required()
        ->check(CLI::ExistingFile);
    check->add_option("--frames", options.frames, "Frames to take (0: none)");
    check->add_option("--max-lost", options.maxLost,
                      "Incomplete and lost frames allowed before the check fails");
    check->add_option("--rate", options.rate, "Frames per second to set first")
        ->check(CLI::PositiveNumber);
    check->add_option("--size", size, "Image WIDTHxHEIGHT to set first, at the sensor's corner");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageError;
    }
    if (list->parsed())
        return List(config, fake);
    if (!size.empty()) {
        char x = 0, rest = 0;
        if (std::sscanf(size.c_str(), "%u%c%u%c", &options.width, &x, &options.height, &rest) !=
                3 ||
            (x != 'x' && x != 'X') || options.width == 0 || options.height == 0) {
            std::fprintf(stderr, "vyxcam: --size takes WIDTHxHEIGHT, such as 640x480\n");
            return kUsageError;
        }
    }
    return Check(options);
}
