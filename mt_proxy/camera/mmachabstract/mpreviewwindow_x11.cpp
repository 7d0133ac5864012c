// The preview window as a plain X11 window, drawn through Xlib.
//
// libX11 is loaded when the first window opens, not linked: the module then loads, and runs
// everything but the preview window, on machines without X libraries or display.
//
// The window thread owns the window's connection, the only one the module makes; Close and
// Update reach the thread through an eventfd that it waits on beside the connection. A lost
// display (the X server ends, or drops the connection) therefore meets the window thread
// alone: Xlib's answer to it would end the process, so the connection's exit handler only
// marks it lost, and the thread ends the window.

#include "mt_proxy/camera/mmachabstract/mpreviewstretch.h"
#include "mt_proxy/camera/mmachabstract/mpreviewwindow_os.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char* kXlibName = "libX11.so.6";

// The Xlib functions the window uses, looked up in the loaded library.
struct Xlib {
    decltype(&XOpenDisplay) OpenDisplay;
    decltype(&XCloseDisplay) CloseDisplay;
    decltype(&XDisplayName) DisplayName;
    decltype(&XInternAtom) InternAtom;
    decltype(&XCreateWindow) CreateWindow;
    decltype(&XDestroyWindow) DestroyWindow;
    decltype(&XStoreName) StoreName;
    decltype(&XSetClassHint) SetClassHint;
    decltype(&XSetWMNormalHints) SetWMNormalHints;
    decltype(&XSetWMProtocols) SetWMProtocols;
    decltype(&XChangeProperty) ChangeProperty;
    decltype(&XMapWindow) MapWindow;
    decltype(&XNextEvent) NextEvent;
    decltype(&XPending) Pending;
    decltype(&XSync) Sync;
    decltype(&XCreateGC) CreateGC;
    decltype(&XFreeGC) FreeGC;
    decltype(&XCreateImage) CreateImage;
    decltype(&XPutImage) PutImage;
    decltype(&XSetErrorHandler) SetErrorHandler;
    decltype(&XSetIOErrorHandler) SetIOErrorHandler;
    decltype(&XGetErrorText) GetErrorText;
    // libX11 1.7 and newer; without it a lost display ends the process.
    decltype(&XSetIOErrorExitHandler) SetIOErrorExitHandler;
};

struct XlibLoad {
    Xlib functions{};
    bool loaded = false;
    std::string failure;
};

// The error handlers' previous owners, and the connection they answer for.
std::atomic<XErrorHandler> previousErrorHandler{nullptr};
std::atomic<XIOErrorHandler> previousIOErrorHandler{nullptr};
std::atomic<Display*> windowConnection{nullptr};
// The last X error code met by this thread on the window's connection (0: none).
thread_local int lastXError = 0;

// Xlib's default answer to a protocol error ends the process. Errors on our connection are
// recorded for the request that caused them instead; all others go where they went before.
int OnXError(Display* display, XErrorEvent* event) {
    if (display == windowConnection.load()) {
        lastXError = event->error_code;
        return 0;
    }
    XErrorHandler previous = previousErrorHandler.load();
    return previous != nullptr ? previous(display, event) : 0;
}

// A lost connection of ours is no news for standard error: the window's exit handler takes it.
int OnXIOError(Display* display) {
    if (display == windowConnection.load())
        return 0;
    XIOErrorHandler previous = previousIOErrorHandler.load();
    return previous != nullptr ? previous(display) : 0;
}

// Called by Xlib instead of exit() once the window's connection is lost; Xlib calls return
// from then on without reaching the server.
void OnConnectionLost(Display*, void* lost) {
    static_cast<std::atomic<bool>*>(lost)->store(true);
}

template <typename F> bool Resolve(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

// Loads libX11 once per process; it stays loaded, so threads never meet it unloaded.
const XlibLoad& LoadXlib() {
    static XlibLoad load = [] {
        XlibLoad result;
        void* library = dlopen(kXlibName, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* reason = dlerror();
            result.failure = reason != nullptr ? reason : "unknown reason";
            return result;
        }
        Xlib& x = result.functions;
        const char* missing = nullptr;
#define VYX_RESOLVE(name)                                                                          \
    if (missing == nullptr && !Resolve(library, "X" #name, x.name))                                \
        missing = "X" #name;
        VYX_RESOLVE(OpenDisplay)
        VYX_RESOLVE(CloseDisplay)
        VYX_RESOLVE(DisplayName)
        VYX_RESOLVE(InternAtom)
        VYX_RESOLVE(CreateWindow)
        VYX_RESOLVE(DestroyWindow)
        VYX_RESOLVE(StoreName)
        VYX_RESOLVE(SetClassHint)
        VYX_RESOLVE(SetWMNormalHints)
        VYX_RESOLVE(SetWMProtocols)
        VYX_RESOLVE(ChangeProperty)
        VYX_RESOLVE(MapWindow)
        VYX_RESOLVE(NextEvent)
        VYX_RESOLVE(Pending)
        VYX_RESOLVE(Sync)
        VYX_RESOLVE(CreateGC)
        VYX_RESOLVE(FreeGC)
        VYX_RESOLVE(CreateImage)
        VYX_RESOLVE(PutImage)
        VYX_RESOLVE(SetErrorHandler)
        VYX_RESOLVE(SetIOErrorHandler)
        VYX_RESOLVE(GetErrorText)
#undef VYX_RESOLVE
        if (missing != nullptr) {
            result.failure = std::string(kXlibName) + " has no " + missing;
            return result;
        }
        Resolve(library, "XSetIOErrorExitHandler", x.SetIOErrorExitHandler);
        previousErrorHandler = x.SetErrorHandler(OnXError);
        previousIOErrorHandler = x.SetIOErrorHandler(OnXIOError);
        result.loaded = true;
        return result;
    }();
    return load;
}

std::string ErrorText(const Xlib& x, Display* display, int code) {
    char text[128] = "";
    x.GetErrorText(display, code, text, sizeof text);
    return text;
}

// The pixel value of each palette entry in a true-colour visual.
bool BuildColours(const Visual* visual, std::uint32_t colours[256]) {
    if (visual->c_class != TrueColor && visual->c_class != DirectColor)
        return false;
    auto channel = [](unsigned long mask, std::uint8_t value) -> std::uint32_t {
        if (mask == 0)
            return 0;
        int shift = std::countr_zero(mask);
        unsigned long top = mask >> shift;
        return static_cast<std::uint32_t>(((value * top + 127) / 255) << shift);
    };
    for (int index = 0; index < 256; ++index) {
        MPreviewRgb rgb = previewwindow_palette(static_cast<std::uint8_t>(index));
        colours[index] = channel(visual->red_mask, rgb.red) |
                         channel(visual->green_mask, rgb.green) |
                         channel(visual->blue_mask, rgb.blue);
    }
    return true;
}

} // namespace

struct MPreviewWindowOs {
    const Xlib* x = nullptr;
    Display* display = nullptr; // the window thread's once it runs; closed by it when it ends
    Atom protocols = 0, deleteWindow = 0;
    int wake = -1; // eventfd: Close and Update ask, the window thread acts
    std::atomic<bool> closeAsked{false};
    std::atomic<bool> repaintAsked{false};
    std::atomic<bool> lost{false}; // the connection is gone (set by Xlib's exit handler)
};

namespace {

// The window thread's window: the X resources and the picture sized to the client area.
class Window11 {
public:
    explicit Window11(MPreviewWindowOs& os) : os(os), x(*os.x), display(os.display) {}

    ~Window11() {
        DropImage();
        if (gc != nullptr)
            x.FreeGC(display, gc);
        if (window != 0 && !destroyed)
            x.DestroyWindow(display, window);
        x.Sync(display, False);
    }

    // Creates and shows the window; false (error-log line) when it cannot.
    bool Create();
    // Handles events and the caller's requests until the window closes or the display is lost.
    void Run();

private:
    void Handle(const XEvent& event);
    void Paint();
    bool SizeImage();
    void DropImage();
    bool Lost() const { return os.lost.load(); }

    MPreviewWindowOs& os;
    const Xlib& x;
    Display* display;
    ::Window window = 0;
    GC gc = nullptr;
    Visual* visual = nullptr;
    int depth = 0;
    std::uint32_t colours[256] = {};
    int width = 0, height = 0; // the client area
    XImage* image = nullptr;   // the picture at the client area's size; its data is `pixels`
    std::vector<char> pixels;
    std::vector<std::uint32_t> scratch; // rows for XPutPixel where the image is not 32-bit
    bool dirty = false;
    bool closing = false;
    bool destroyed = false; // by someone else: nothing left to destroy
};

bool Window11::Create() {
    int screen = DefaultScreen(display);
    visual = DefaultVisual(display, screen);
    depth = DefaultDepth(display, screen);
    if (!BuildColours(visual, colours)) {
        MERRLOG("preview_win(): the X display has no true-colour visual");
        return false;
    }
    const MMachPreviewPlacement& placement = previewwindow_placement();
    std::int32_t pictureWidth = 0, pictureRows = 0;
    previewwindow_picture().Size(pictureWidth, pictureRows);
    width = placement.width > 0 ? placement.width : pictureWidth;
    height = placement.height > 0 ? placement.height : pictureRows;
    if (width <= 0 || height <= 0) {
        width = 320;
        height = 240;
    }

    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None; // every paint covers the whole client area
    attributes.bit_gravity = ForgetGravity;
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    lastXError = 0;
    window =
        x.CreateWindow(display, RootWindow(display, screen), placement.left, placement.top,
                       static_cast<unsigned>(width), static_cast<unsigned>(height), 0, depth,
                       InputOutput, visual, CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    x.Sync(display, False);
    if (window == 0 || lastXError != 0 || Lost()) {
        MERRLOG("preview_win(): failed to create window: %s",
                Lost() ? "the X display is lost" : ErrorText(x, display, lastXError).c_str());
        window = lastXError != 0 ? 0 : window;
        return false;
    }

    x.StoreName(display, window, "Preview");
    char className[] = "previewwindow";
    XClassHint classHint{className, className};
    x.SetClassHint(display, window, &classHint);
    // The placement is the caller's choice, not a default a window manager may override.
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = placement.left;
    hints.y = placement.top;
    hints.width = width;
    hints.height = height;
    x.SetWMNormalHints(display, window, &hints);
    Atom protocolList[] = {os.deleteWindow};
    x.SetWMProtocols(display, window, protocolList, 1);
    // A user time of 0 asks the window manager to show the window without activating it.
    long userTime = 0;
    x.ChangeProperty(display, window, x.InternAtom(display, "_NET_WM_USER_TIME", False),
                     XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&userTime),
                     1);
    gc = x.CreateGC(display, window, 0, nullptr);
    x.MapWindow(display, window);
    Paint();
    return true;
}

void Window11::Run() {
    closing = previewwindow_window_shown();
    pollfd waits[2] = {{ConnectionNumber(display), POLLIN, 0}, {os.wake, POLLIN, 0}};
    while (!closing && !Lost()) {
        // Everything queued first, so that a burst of exposures and resizes is drawn once.
        // XPending reads what the server sent without blocking; once it answers 0, whatever
        // comes next wakes the poll below.
        while (!closing && x.Pending(display) > 0 && !Lost()) {
            XEvent event;
            x.NextEvent(display, &event);
            Handle(event);
        }
        if (os.closeAsked.exchange(false))
            closing = true;
        if (os.repaintAsked.exchange(false))
            dirty = true;
        if (closing || Lost())
            break;
        if (dirty) {
            Paint();
            continue;
        }
        if (poll(waits, 2, -1) < 0 && errno != EINTR)
            break;
        if ((waits[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            if (read(os.wake, &count, sizeof count) < 0) {
                // EAGAIN: nothing came since the last read; the flags above say what was asked.
            }
        }
    }
}

void Window11::Handle(const XEvent& event) {
    switch (event.type) {
    case Expose:
        dirty = true;
        break;
    case ConfigureNotify:
        if (event.xconfigure.window == window &&
            (event.xconfigure.width != width || event.xconfigure.height != height)) {
            width = event.xconfigure.width;
            height = event.xconfigure.height;
            dirty = true;
        }
        break;
    case DestroyNotify:
        if (event.xdestroywindow.window == window) {
            destroyed = true;
            closing = true;
        }
        break;
    case ClientMessage:
        if (event.xclient.message_type == os.protocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == os.deleteWindow)
            closing = true;
        break;
    default:
        break;
    }
}

void Window11::Paint() {
    dirty = false;
    // The ticket is taken before the picture is read: this paint shows the newest copy as it
    // was when every Update up to the ticket was asked.
    std::uint64_t ticket = previewwindow_paint_begin();
    bool drawn = false;
    previewwindow_picture().Draw(
        previewwindow_style(), [&](const MPreviewImageDescription& picture) {
            if (picture.pixels == nullptr || !SizeImage())
                return;
            if (scratch.empty()) {
                MPreviewStretch_To32(picture, colours, width, height,
                                     reinterpret_cast<std::uint32_t*>(image->data),
                                     static_cast<std::size_t>(image->bytes_per_line) / 4);
            } else {
                MPreviewStretch_To32(picture, colours, width, height, scratch.data(),
                                     static_cast<std::size_t>(width));
            }
            drawn = true;
        });
    if (drawn) {
        if (!scratch.empty())
            for (int y = 0; y < height; ++y)
                for (int column = 0; column < width; ++column)
                    XPutPixel(image, column, y,
                              scratch[static_cast<std::size_t>(y) * width + column]);
        x.PutImage(display, window, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width),
                   static_cast<unsigned>(height));
    }
    // Once the server has drawn it, a screenshot from any connection shows it.
    x.Sync(display, False);
    previewwindow_paint_end(ticket);
}

bool Window11::SizeImage() {
    if (image != nullptr && image->width == width && image->height == height)
        return true;
    DropImage();
    image = x.CreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                          static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (image == nullptr)
        return false;
    pixels.assign(static_cast<std::size_t>(image->bytes_per_line) * height, 0);
    image->data = pixels.data();
    // Written directly where the image is 32-bit in this machine's byte order, else pixel by
    // pixel through Xlib.
    bool direct =
        image->bits_per_pixel == 32 &&
        image->byte_order == (std::endian::native == std::endian::little ? LSBFirst : MSBFirst);
    if (!direct)
        scratch.assign(static_cast<std::size_t>(width) * height, 0);
    else
        scratch.clear();
    return true;
}

void Window11::DropImage() {
    if (image == nullptr)
        return;
    image->data = nullptr; // ours, not Xlib's to free
    XDestroyImage(image);
    image = nullptr;
}

// Wakes the window thread to look at what was asked.
bool Wake(MPreviewWindowOs* os, int* error) {
    const std::uint64_t one = 1;
    if (write(os->wake, &one, sizeof one) == static_cast<ssize_t>(sizeof one))
        return true;
    *error = errno;
    return false;
}

} // namespace

MPreviewWindowOs* previewwindow_os_connect() {
    const XlibLoad& load = LoadXlib();
    if (!load.loaded) {
        MERRTRACE("Open(): cannot load %s for the preview window: %s", kXlibName,
                  load.failure.c_str());
        return nullptr;
    }
    const Xlib& x = load.functions;
    const char* name = x.DisplayName(nullptr);
    if (name == nullptr || *name == '\0') {
        MERRTRACE("Open(): no X display for the preview window: DISPLAY is not set");
        return nullptr;
    }
    auto* os = new MPreviewWindowOs;
    os->x = &x;
    os->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (os->wake < 0) {
        MERRTRACE("Open(): cannot make the preview window's wake-up: %d", errno);
        previewwindow_os_release(os);
        return nullptr;
    }
    os->display = x.OpenDisplay(nullptr);
    if (os->display == nullptr) {
        MERRTRACE("Open(): cannot connect to the X display \"%s\" named by DISPLAY", name);
        previewwindow_os_release(os);
        return nullptr;
    }
    windowConnection = os->display;
    if (x.SetIOErrorExitHandler != nullptr)
        x.SetIOErrorExitHandler(os->display, OnConnectionLost, &os->lost);
    else
        MERRLOG("Open(): %s is older than 1.7: losing the X display will end the process",
                kXlibName);
    os->protocols = x.InternAtom(os->display, "WM_PROTOCOLS", False);
    os->deleteWindow = x.InternAtom(os->display, "WM_DELETE_WINDOW", False);
    return os;
}

void previewwindow_os_run(MPreviewWindowOs* os) {
    {
        Window11 window(*os);
        if (window.Create())
            window.Run();
        // Seen closing before the window is destroyed, so that no Update waits for it.
        previewwindow_set_closing();
        if (os->lost.load())
            MERRLOG("preview_win(): the X display is lost; the preview window ends");
    }
    windowConnection = nullptr;
    os->x->CloseDisplay(os->display);
    os->display = nullptr;
}

bool previewwindow_os_post_close(MPreviewWindowOs* os, int* error) {
    os->closeAsked = true;
    return Wake(os, error);
}

bool previewwindow_os_post_repaint(MPreviewWindowOs* os, int* error) {
    if (os->lost.load()) {
        *error = ENOTCONN;
        return false;
    }
    os->repaintAsked = true;
    return Wake(os, error);
}

void previewwindow_os_release(MPreviewWindowOs* os) {
    if (os == nullptr)
        return;
    if (os->display != nullptr) {
        windowConnection = nullptr;
        os->x->CloseDisplay(os->display);
    }
    if (os->wake >= 0)
        close(os->wake);
    delete os;
}
