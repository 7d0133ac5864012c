// vyxview: shows a preview memory of the camera module live in a window of its own.

#include "host/vyxview/viewer.h"
#include "host/vyxview/viewerlayout.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace {

const char kDescription[] =
    "Shows a preview memory of the camera module live in a window: the picture, its frame "
    "number and frames per second, the minimum, mean and maximum pixel value, a histogram "
    "and the value under the mouse pointer. It reads the shared-memory segment NAME and its "
    "event NAME.event as any client does (host/vyxshm/README.md), from any running server. "
    "Linux with X11 only.";

const char kFooter[] =
    "Start a preview memory first, for example through lintelhost:\n"
    "  1 preview memory start Camera:1 campreview 100\n"
    "and give vyxview the picture's geometry from the probesystem's hardware data\n"
    "(2 receive probe.hardware, section [Camera]):\n"
    "  vyxview campreview --size MEM_WIDTHxMEM_HEIGHT --bpp MEM_BPP --bits BITS_PER_PIXEL\n"
    "          [--clip CLIP_X,CLIP_Y,CLIPSIZE_XxCLIPSIZE_Y]   (when the image is clipped)\n"
    "Keys in the window: + or = zoom in, - zoom out, s save the picture as NAME-FRAME.png in\n"
    "the --output folder (the raw values, 8- or 16-bit grey), q or Escape quit.\n"
    "Shades: the most significant 8 bits of each pixel; 0 is drawn blue and 255 red, so that\n"
    "black and saturated pixels stand out. The frame number counts the pictures this viewer\n"
    "took; the module writes one only after the last was taken, so a second reader of the\n"
    "same preview memory gets only some of them.\n"
    "Exit status: 0 when quit; 1 when the preview memory or the X display cannot be opened\n"
    "(one line on standard error); 2 usage error.";

// "WxH" into two positive numbers.
bool ParseSize(const std::string& text, std::uint32_t& width, std::uint32_t& height) {
    unsigned long w = 0, h = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%lux%lu%c", &w, &h, &end) != 2 || w == 0 || h == 0 ||
        w > 65535 || h > 65535 || text.find_first_of("+- ") != std::string::npos)
        return false;
    width = std::uint32_t(w);
    height = std::uint32_t(h);
    return true;
}

// "4", "1/2": an exponent of two within the zoom steps.
bool ParseZoom(const std::string& text, int& zoom) {
    const bool fraction = text.rfind("1/", 0) == 0;
    const std::string number = fraction ? text.substr(2) : text;
    for (int step = 0; step <= 4; ++step)
        if (number == std::to_string(1 << step)) {
            zoom = fraction ? -step : step;
            return zoom >= vyxview::kMinZoom && zoom <= vyxview::kMaxZoom;
        }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "vyxview"};
    app.footer(kFooter);
    vyxview::ViewerOptions options;
    std::string size, clip, zoom;
    app.add_option("NAME", options.name, "the preview memory's segment, as in /dev/shm")
        ->required();
    app.add_option("--size", size, "the camera's full frame, MEM_WIDTHxMEM_HEIGHT pixels")
        ->required();
    app.add_option("--bpp", options.format.bytesPerPixel, "bytes per pixel, MEM_BPP: 1 or 2")
        ->check(CLI::IsMember({1, 2}));
    app.add_option("--bits", options.format.bits,
                   "significant bits of a pixel, BITS_PER_PIXEL (default 8, or 16 with --bpp 2)")
        ->check(CLI::Range(1, 16));
    app.add_option("--clip", clip, "the picture's clip in the frame, X,Y,WIDTHxHEIGHT");
    app.add_option("--zoom", zoom,
                   "initial zoom: 1/8, 1/4, 1/2, 1, 2, 4, 8 or 16 (default: up "
                   "to 4, as the screen allows)");
    app.add_option("--output", options.outputDirectory, "folder for saved pictures (default .)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& failure) {
        app.exit(failure);
        return 2;
    }
    auto usage = [](const char* problem) {
        std::fprintf(stderr, "vyxview: %s\nRun 'vyxview --help' for more.\n", problem);
        return 2;
    };
    vyxview::PictureFormat& format = options.format;
    if (!ParseSize(size, format.memWidth, format.memHeight))
        return usage("--size must be WIDTHxHEIGHT, e.g. 1280x1024");
    if (app.count("--bits") == 0)
        format.bits = 8 * format.bytesPerPixel;
    if (format.bits > 8 * format.bytesPerPixel)
        return usage("--bits must not exceed 8 for --bpp 1");
    if (!clip.empty()) {
        unsigned long x = 0, y = 0;
        int used = 0;
        if (std::sscanf(clip.c_str(), "%lu,%lu,%n", &x, &y, &used) != 2 || used == 0 || x > 65535 ||
            y > 65535 ||
            !ParseSize(clip.substr(std::size_t(used)), format.clipWidth, format.clipHeight))
            return usage("--clip must be X,Y,WIDTHxHEIGHT, e.g. 320,256,640x512");
        format.clipX = std::uint32_t(x);
        format.clipY = std::uint32_t(y);
    }
    if (!zoom.empty()) {
        if (!ParseZoom(zoom, options.zoom))
            return usage("--zoom must be one of 1/8, 1/4, 1/2, 1, 2, 4, 8, 16");
        options.zoomGiven = true;
    }
    return vyxview::RunViewer(options);
}
