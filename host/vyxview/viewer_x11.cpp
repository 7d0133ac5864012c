// vyxview's window, drawn with Xlib: one thread, which waits on the X connection and looks at
// the preview memory's event every few milliseconds (a client may poll the state word).

#include "host/vyxview/pngfile.h"
#include "host/vyxview/previewsource.h"
#include "host/vyxview/viewer.h"
#include "host/vyxview/viewerlayout.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

namespace vyxview {

namespace {

using Clock = std::chrono::steady_clock;

// How often the event is looked at while nothing else happens.
constexpr int kPollMs = 5;

// A true-colour pixel value of 0xRRGGBB.
unsigned long Pixel(const Visual* visual, unsigned long rgb) {
    auto channel = [](unsigned long mask, unsigned long value) -> unsigned long {
        if (mask == 0)
            return 0;
        const int shift = std::countr_zero(mask);
        const unsigned long top = mask >> shift;
        return ((value * top + 127) / 255) << shift;
    };
    return channel(visual->red_mask, (rgb >> 16) & 0xff) |
           channel(visual->green_mask, (rgb >> 8) & 0xff) | channel(visual->blue_mask, rgb & 0xff);
}

std::string ZoomText(int zoom) {
    return zoom >= 0 ? std::to_string(1 << zoom) : "1/" + std::to_string(1 << -zoom);
}

class Viewer {
public:
    Viewer(const ViewerOptions& options, PreviewSource& source, Display* display)
        : options(options), source(source), display(display) {}
    ~Viewer();
    bool Create(std::string& error);
    void Run();

private:
    int Zoomed(std::uint32_t length) const {
        return zoom >= 0 ? int(length) << zoom : std::max(1, int(length) >> -zoom);
    }
    int PictureWidth() const { return Zoomed(vyxview::PictureWidth(options.format)); }
    int PictureHeight() const { return Zoomed(vyxview::PictureHeight(options.format)); }
    int LineHeight() const { return font->ascent + font->descent; }
    int StatusTop() const { return PictureHeight(); }
    int HistogramTop() const { return vyxview::HistogramTop(PictureHeight(), LineHeight()); }
    void Fit();
    void TakePicture();
    void Handle(XEvent& event);
    void DrawPicture();
    void DrawStatus();
    void Save();

    const ViewerOptions& options;
    PreviewSource& source;
    Display* display;
    Window window = 0;
    GC gc = nullptr;
    XFontStruct* font = nullptr;
    bool ownFont = false;
    Visual* visual = nullptr;
    int depth = 0;
    unsigned long colours[256] = {};
    unsigned long background = 0, text = 0, bar = 0;
    Atom deleteWindow = 0;
    XImage* image = nullptr;
    std::vector<char> imageBytes;

    int zoom = 0;
    Picture picture;
    Statistics statistics;
    std::uint64_t frames = 0;
    std::deque<Clock::time_point> recent; // when the pictures of the last second came
    int pointerX = -1, pointerY = -1;     // in the window; -1: elsewhere
    std::string message;
    bool offered = true;
    bool quit = false;
};

Viewer::~Viewer() {
    if (image != nullptr) {
        image->data = nullptr; // ours
        XDestroyImage(image);
    }
    if (font != nullptr && ownFont)
        XFreeFont(display, font);
    if (gc != nullptr)
        XFreeGC(display, gc);
    if (window != 0)
        XDestroyWindow(display, window);
}

bool Viewer::Create(std::string& error) {
    const int screen = DefaultScreen(display);
    visual = DefaultVisual(display, screen);
    depth = DefaultDepth(display, screen);
    if (visual->c_class != TrueColor && visual->c_class != DirectColor) {
        error = "the X display has no true-colour visual";
        return false;
    }
    for (int shade = 0; shade < 256; ++shade)
        colours[shade] = Pixel(visual, ShadeColour(std::uint8_t(shade)));
    background = Pixel(visual, kBackground);
    text = Pixel(visual, kText);
    bar = Pixel(visual, kBar);
    font = XLoadQueryFont(display, kFont);
    ownFont = font != nullptr;
    if (font == nullptr)
        font = XQueryFont(display, XGContextFromGC(DefaultGC(display, screen)));
    if (font == nullptr) {
        error = "the X display has no font";
        return false;
    }

    if (options.zoomGiven) {
        zoom = options.zoom;
    } else {
        // The largest zoom, up to 4, at which the picture fits three quarters of the screen.
        zoom = 2;
        while (zoom > kMinZoom && (PictureWidth() > DisplayWidth(display, screen) * 3 / 4 ||
                                   PictureHeight() > DisplayHeight(display, screen) * 3 / 4))
            --zoom;
    }
    XSetWindowAttributes attributes{};
    attributes.background_pixel = background;
    attributes.event_mask =
        ExposureMask | KeyPressMask | PointerMotionMask | LeaveWindowMask | StructureNotifyMask;
    window = XCreateWindow(display, RootWindow(display, screen), 0, 0, 1, 1, 0, depth, InputOutput,
                           visual, CWBackPixel | CWEventMask, &attributes);
    const std::string title = "vyxview " + options.name;
    XStoreName(display, window, title.c_str());
    deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XGCValues values{};
    values.font = font->fid;
    values.foreground = text;
    values.background = background;
    gc = XCreateGC(display, window, GCFont | GCForeground | GCBackground, &values);
    Fit();
    XMapWindow(display, window);
    return true;
}

// Sizes the window and its picture image for the zoom.
void Viewer::Fit() {
    const int width = std::max(PictureWidth(), kHistogramWidth + 2 * kMargin);
    const int height = HistogramTop() + kHistogramHeight + kMargin;
    XResizeWindow(display, window, unsigned(width), unsigned(height));
    if (image != nullptr) {
        image->data = nullptr;
        XDestroyImage(image);
    }
    image = XCreateImage(display, visual, unsigned(depth), ZPixmap, 0, nullptr,
                         unsigned(PictureWidth()), unsigned(PictureHeight()), 32, 0);
    imageBytes.assign(std::size_t(image->bytes_per_line) * PictureHeight(), 0);
    image->data = imageBytes.data();
}

void Viewer::Run() {
    pollfd wait{ConnectionNumber(display), POLLIN, 0};
    auto lastCheck = Clock::now();
    while (!quit) {
        while (!quit && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            Handle(event);
        }
        if (quit)
            break;
        if (source.Signalled()) {
            TakePicture();
            DrawPicture();
            DrawStatus();
        }
        const auto now = Clock::now();
        if (now - lastCheck >= std::chrono::milliseconds(500)) {
            // Frames per second fall as pictures stop coming; a stopped preview says so.
            lastCheck = now;
            const bool stillOffered = source.StillOffered();
            if (!stillOffered && offered)
                message = "the preview memory has stopped";
            offered = stillOffered;
            DrawStatus();
        }
        XFlush(display);
        poll(&wait, 1, kPollMs);
    }
}

void Viewer::TakePicture() {
    picture = vyxview::TakePicture(source.Bytes(), options.format);
    source.Reset();
    statistics = Measure(picture, options.format.bits);
    ++frames;
    const auto now = Clock::now();
    recent.push_back(now);
    while (!recent.empty() && now - recent.front() > std::chrono::seconds(1))
        recent.pop_front();
}

void Viewer::Handle(XEvent& event) {
    switch (event.type) {
    case Expose:
        if (event.xexpose.count == 0) {
            DrawPicture();
            DrawStatus();
        }
        break;
    case MotionNotify:
        pointerX = event.xmotion.x;
        pointerY = event.xmotion.y;
        DrawStatus();
        break;
    case LeaveNotify:
        pointerX = pointerY = -1;
        DrawStatus();
        break;
    case KeyPress: {
        char typed[8] = "";
        KeySym key = 0;
        XLookupString(&event.xkey, typed, sizeof typed, &key, nullptr);
        if (key == XK_q || key == XK_Escape) {
            quit = true;
        } else if ((key == XK_plus || key == XK_equal || key == XK_KP_Add) && zoom < kMaxZoom) {
            ++zoom;
            Fit();
        } else if ((key == XK_minus || key == XK_KP_Subtract) && zoom > kMinZoom) {
            --zoom;
            Fit();
        } else if (key == XK_s) {
            Save();
        }
        DrawPicture();
        DrawStatus();
        break;
    }
    case ClientMessage:
        if (Atom(event.xclient.data.l[0]) == deleteWindow)
            quit = true;
        break;
    default:
        break;
    }
}

void Viewer::DrawPicture() {
    if (picture.values.empty())
        return;
    const int width = PictureWidth(), height = PictureHeight();
    const bool direct =
        image->bits_per_pixel == 32 &&
        image->byte_order == (std::endian::native == std::endian::little ? LSBFirst : MSBFirst);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t sourceY =
            zoom >= 0 ? std::uint32_t(y) >> zoom : std::uint32_t(y) << -zoom;
        auto* row =
            reinterpret_cast<std::uint32_t*>(image->data + std::size_t(y) * image->bytes_per_line);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t sourceX =
                zoom >= 0 ? std::uint32_t(x) >> zoom : std::uint32_t(x) << -zoom;
            const unsigned long colour =
                colours[Shade(picture.At(sourceX, sourceY), options.format.bits)];
            if (direct)
                row[x] = std::uint32_t(colour);
            else
                XPutPixel(image, x, y, colour);
        }
    }
    XPutImage(display, window, gc, image, 0, 0, 0, 0, unsigned(width), unsigned(height));
}

void Viewer::DrawStatus() {
    const int top = StatusTop();
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    XSetForeground(display, gc, background);
    XFillRectangle(display, window, gc, 0, top, unsigned(std::max(attributes.width, 1)),
                   unsigned(std::max(attributes.height - top, 1)));
    XSetForeground(display, gc, text);

    char lines[kStatusLines][160] = {};
    if (frames == 0) {
        std::snprintf(lines[0], sizeof lines[0], "%s: waiting for the first picture",
                      options.name.c_str());
    } else {
        std::snprintf(lines[0], sizeof lines[0], "frame %llu  %zu fps",
                      static_cast<unsigned long long>(frames), recent.size());
        std::snprintf(lines[1], sizeof lines[1], "min %u  mean %.2f  max %u", statistics.min,
                      statistics.mean, statistics.max);
    }
    int length = std::snprintf(lines[2], sizeof lines[2], "zoom %s", ZoomText(zoom).c_str());
    if (!picture.values.empty() && pointerX >= 0 && pointerX < PictureWidth() && pointerY >= 0 &&
        pointerY < PictureHeight()) {
        const std::uint32_t x =
            zoom >= 0 ? std::uint32_t(pointerX) >> zoom : std::uint32_t(pointerX) << -zoom;
        const std::uint32_t y =
            zoom >= 0 ? std::uint32_t(pointerY) >> zoom : std::uint32_t(pointerY) << -zoom;
        std::snprintf(lines[2] + length, sizeof lines[2] - std::size_t(length), "  (%u, %u) = %u",
                      x, y, unsigned(picture.At(x, y)));
    }
    std::snprintf(lines[3], sizeof lines[3], "%s", message.c_str());
    for (int i = 0; i < kStatusLines; ++i)
        if (lines[i][0] != '\0')
            XDrawImageString(display, window, gc, kMargin,
                             top + kMargin + i * LineHeight() + font->ascent, lines[i],
                             int(std::strlen(lines[i])));

    if (frames == 0)
        return;
    const std::uint32_t fullest =
        *std::max_element(statistics.histogram.begin(), statistics.histogram.end());
    XSetForeground(display, gc, bar);
    const int bottom = HistogramTop() + kHistogramHeight;
    for (int shade = 0; shade < 256; ++shade) {
        const int height = int(std::uint64_t{statistics.histogram[shade]} * kHistogramHeight /
                               std::max<std::uint32_t>(fullest, 1));
        if (height > 0)
            XFillRectangle(display, window, gc, kMargin + shade, bottom - height, 1,
                           unsigned(height));
    }
    XSetForeground(display, gc, text);
}

void Viewer::Save() {
    const std::string path =
        options.outputDirectory + "/" + options.name + "-" + std::to_string(frames) + ".png";
    std::string error;
    if (SavePng(path, picture, options.format.bits, error)) {
        message = "saved " + path;
        std::printf("vyxview: saved %s\n", path.c_str());
        std::fflush(stdout);
    } else {
        message = "not saved: " + error;
        std::fprintf(stderr, "vyxview: %s not saved: %s\n", path.c_str(), error.c_str());
    }
}

} // namespace

int RunViewer(const ViewerOptions& options) {
    PreviewSource source;
    std::string error;
    if (!source.Open(options.name, error)) {
        std::fprintf(stderr, "vyxview: %s\n", error.c_str());
        return 1;
    }
    error = CheckFormat(options.format, source.Size());
    if (!error.empty()) {
        std::fprintf(stderr, "vyxview: %s: %s\n", options.name.c_str(), error.c_str());
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        const char* name = XDisplayName(nullptr);
        std::fprintf(stderr, "vyxview: cannot open the X display \"%s\"%s\n", name,
                     *name == '\0' ? " (DISPLAY is not set)" : "");
        return 1;
    }
    int status = 0;
    {
        Viewer viewer(options, source, display);
        if (viewer.Create(error)) {
            viewer.Run();
        } else {
            std::fprintf(stderr, "vyxview: %s\n", error.c_str());
            status = 1;
        }
    }
    XCloseDisplay(display);
    return status;
}

} // namespace vyxview
