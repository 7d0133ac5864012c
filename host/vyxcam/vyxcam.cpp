// vyxcam: what the camera library sees, for whoever points the module at a camera.
//
//   vyxcam list [--config FILE] [--fake]
//       one line per camera: back end, id (what [GenICam] device takes), maker, model,
//       serial number and, for GigE Vision, the address
//   vyxcam check --config FILE [--frames N]
//       opens the camera FILE chooses (the machine's vyxcamera.ini) as the module would,
//       prints its identity and settings and takes N frames
//
// Exit status: 0 success, 1 failure, 2 usage error.

#include "platform/vyx/ccameralist.h"
#include "platform/vyx/vyxbase.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
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

// Counts the frames of the check.
struct Counter {
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t frames = 0, broken = 0, lost = 0;
    uint32_t lastCounter = 0;
    uint64_t width = 0, height = 0, bytesPerPixel = 0;

    static void Take(void* context, const Vyx::CImgBuffer* image, uint32_t flags) {
        auto* self = static_cast<Counter*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        ++self->frames;
        if (image->pixels == nullptr || image->frameCounter == 0) {
            ++self->broken;
        } else {
            if (self->lastCounter != 0 && image->frameCounter > self->lastCounter + 1 &&
                (flags & Vyx::ImgFlag_FramesLost) != 0)
                self->lost += image->frameCounter - self->lastCounter - 1;
            self->lastCounter = image->frameCounter;
            self->width = image->clipWidth ? image->clipWidth : image->rowPitch;
            self->height = image->clipHeight ? image->clipHeight : image->rows;
            self->bytesPerPixel = image->bytesPerPixel;
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

int Check(const std::string& config, unsigned frames) {
    Vyx::CImgSensors* camera = Vyx::CImgSensors::GetInstance();
    if (camera == nullptr) {
        std::fprintf(stderr, "vyxcam: the camera library offers no camera\n");
        return kFailed;
    }
    const int opened = camera->Initialize(config.c_str(), 0);
    if (opened <= 0) {
        // The library has said why on standard error already.
        std::fprintf(stderr, "vyxcam: %s\n",
                     opened == 0 ? "the camera is open already" : "the camera does not open");
        return kFailed;
    }
    int status = 0;
    std::string xml;
    camera->GetCameraInfo(&xml, 0);
    for (const char* key : {"manufacturer", "devicename", "serialnumber", "productversion",
                            "fpgaversion", "driverversion", "dllversion"})
        std::printf("%-15s %s\n", key, Item(xml, key).c_str());
    Vyx::CImageInfo info;
    double exposure = 0, rate = 0, gain = 0, pixelWidth = 0, pixelHeight = 0;
    if (camera->GetImageInfo(&info, 0))
        std::printf("%-15s %ux%u, region %ux%u%+d%+d, %u byte(s) per pixel, format %u\n", "sensor",
                    info.memoryWidth, info.memoryHeight, info.clipWidth, info.clipHeight,
                    info.clipX, info.clipY, info.memoryBytesPerPixel, info.pixelFormat);
    if (camera->GetExposure(&exposure, 0) && camera->GetFrameRate(&rate, 0) &&
        camera->GetGain(&gain, 0))
        std::printf("%-15s exposure %g ms, %g frames/s, gain %g\n", "settings", exposure, rate,
                    gain);
    if (camera->GetPixelSize(&pixelWidth, &pixelHeight, 0) == 1)
        std::printf("%-15s %g x %g mm\n", "pixel size", pixelWidth, pixelHeight);

    if (frames > 0) {
        Counter counter;
        camera->RegisterImgStreamInput(&counter, Counter::Take, 0);
        const auto start = std::chrono::steady_clock::now();
        bool complete = false;
        if (!camera->Grab(0)) {
            std::fprintf(stderr, "vyxcam: %s\n", camera->GetLastErrorText(0));
        } else {
            // Ten times the frames' time, and at least ten seconds.
            const auto limit = std::chrono::milliseconds(
                std::max<int64_t>(10000, int64_t(10000.0 * frames / (rate > 0 ? rate : 1))));
            std::unique_lock<std::mutex> lock(counter.mutex);
            complete =
                counter.arrived.wait_for(lock, limit, [&] { return counter.frames >= frames; });
            lock.unlock();
            camera->Freeze(0);
        }
        camera->UnregisterImgStreamInput(&counter, Counter::Take, 0);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::lock_guard<std::mutex> lock(counter.mutex);
        std::printf("%-15s %llu in %.2f s (%.1f/s), %llu broken, %llu lost, last %llux%llu x %llu "
                    "byte(s)\n",
                    "frames", static_cast<unsigned long long>(counter.frames), seconds,
                    counter.frames / seconds, static_cast<unsigned long long>(counter.broken),
                    static_cast<unsigned long long>(counter.lost),
                    static_cast<unsigned long long>(counter.width),
                    static_cast<unsigned long long>(counter.height),
                    static_cast<unsigned long long>(counter.bytesPerPixel));
        if (!complete) {
            std::fprintf(stderr, "vyxcam: only %llu of %u frames arrived\n",
                         static_cast<unsigned long long>(counter.frames), frames);
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
    std::string config;
    bool fake = false;
    unsigned frames = 25;

    CLI::App* list = app.add_subcommand("list", "List the cameras: simulated and GenICam");
    list->add_option("--config", config,
                     "Configuration file whose [SimCamera] describes the simulated camera");
    list->add_flag("--fake", fake, "Also list Aravis's test camera (Fake_1)");

    CLI::App* check = app.add_subcommand(
        "check", "Open the camera a configuration file chooses, as the module would, and take "
                 "frames");
    check->add_option("--config", config, "The machine's vyxcamera.ini (or any file like it)")
        ->required()
        ->check(CLI::ExistingFile);
    check->add_option("--frames", frames, "Frames to take (0: none)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageError;
    }
    if (list->parsed())
        return List(config, fake);
    return Check(config, frames);
}
