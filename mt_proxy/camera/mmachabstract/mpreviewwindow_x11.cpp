// The preview window as a plain X11 window, drawn through Xlib.
//
// libX11 is loaded when the first window opens, not linked: the module then loads, and runs
// everything but the preview window, on machines without X libraries or display.
//
// Each X connection is used by one thread at a time. The window thread owns the window's
// connection and blocks in XNextEvent on it. Close and Update reach the thread through a second
// connection of the caller's, by sending the window a client message (what a window manager
// does to close it), so the thread needs no other wake-up and never polls.

#include "mt_proxy/camera/mmachabstract/mpreviewstretch.h"
#include "mt_proxy/camera/mmachabstract/mpreviewwindow_os.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

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
    decltype(&XSendEvent) SendEvent;
    decltype(&XSync) Sync;
    decltype(&XCreateGC) CreateGC;
    decltype(&XFreeGC) FreeGC;
    decltype(&XCreateImage) CreateImage;
    decltype(&XPutImage) PutImage;
    decltype(&XSetErrorHandler) SetErrorHandler;
    decltype(&XGetErrorText) GetErrorText;
};

struct XlibLoad {
    Xlib functions{};
    bool loaded = false;
    std::string failure;
};

// The error handler's previous owner, and the connections it answers for.
std::atomic<XErrorHandler> previousErrorHandler{nullptr};
std::atomic<Display*> windowConnection{nullptr};
std::atomic<Display*> controlConnection{nullptr};
// The last X error code met by this thread on one of our connections (0: none).
thread_local int lastXError = 0;

// Xlib's default answer to a protocol error ends the process. Errors on our connections are
// recorded for the request that caused them instead; all others go where they went before.
int OnXError(Display* display, XErrorEvent* event) {
    if (display == windowConnection.load() || display == controlConnection.load()) {
        lastXError = event->error_code;
        return 0;
    }
    XErrorHandler previous = previousErrorHandler.load();
    return previous != nullptr ? previous(display, event) : 0;
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
        VYX_RESOLVE(SendEvent)
        VYX_RESOLVE(Sync)
        VYX_RESOLVE(CreateGC)
        VYX_RESOLVE(FreeGC)
        VYX_RESOLVE(CreateImage)
        VYX_RESOLVE(PutImage)
        VYX_RESOLVE(SetErrorHandler)
        VYX_RESOLVE(GetErrorText)
#undef VYX_RESOLVE
        if (missing != nullptr) {
            result.failure = std::string(kXlibName) + " has no " + missing;
            return result;
        }
        previousErrorHandler = x.SetErrorHandler(OnXError);
        result.loaded = true;
        return result;
    }();
    return load;
}

// What Close and Update send the window; the first data word of the client message.
enum Command : long { kCommandClose = 1, kCommandRepaint = 2 };

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

// The window thread's window: the X resources and the picture sized to the client area.
class Window11 {
public:
    Window11(const Xlib& x, Display* display, Atom command, Atom protocols, Atom deleteWindow)
        : x(x), display(display), command(command), protocols(protocols),
          deleteWindow(deleteWindow) {}

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
    // Handles events until the window closes.
    void Run();
    ::Window Id() const { return window; }

private:
    void Handle(const XEvent& event);
    void Paint();
    bool SizeImage();
    void DropImage();

    const Xlib& x;
    Display* display;
    Atom command, protocols, deleteWindow;
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
    const MPreviewImageDescription& description = previewwindow_description();
    const MMachPreviewPlacement& placement = previewwindow_placement();
    width = placement.width > 0 ? placement.width : description.width;
    height = placement.height > 0 ? placement.height : description.rows;
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
    if (window == 0 || lastXError != 0) {
        MERRLOG("preview_win(): failed to create window: %s",
                ErrorText(x, display, lastXError).c_str());
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
    Atom protocolList[] = {deleteWindow};
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
    while (!closing) {
        XEvent event;
        x.NextEvent(display, &event);
        Handle(event);
        // Everything queued first, so that a burst of exposures and resizes is drawn once.
        while (!closing && x.Pending(display) > 0) {
            x.NextEvent(display, &event);
            Handle(event);
        }
        if (!closing && dirty)
            Paint();
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
        if (event.xclient.message_type == protocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow)
            closing = true;
        else if (event.xclient.message_type == command && event.xclient.data.l[0] == kCommandClose)
            closing = true;
        else if (event.xclient.message_type == command &&
                 event.xclient.data.l[0] == kCommandRepaint)
            dirty = true;
        break;
    default:
        break;
    }
}

void Window11::Paint() {
    dirty = false;
    // The ticket is taken before the pixels are read: this paint shows the buffer as it was
    // when every Update up to the ticket was asked.
    std::uint64_t ticket = previewwindow_paint_begin();
    const MPreviewImageDescription& description = previewwindow_description();
    if (description.pixels != nullptr && SizeImage()) {
        if (scratch.empty()) {
            MPreviewStretch_To32(description, colours, width, height,
                                 reinterpret_cast<std::uint32_t*>(image->data),
                                 static_cast<std::size_t>(image->bytes_per_line) / 4);
        } else {
            MPreviewStretch_To32(description, colours, width, height, scratch.data(),
                                 static_cast<std::size_t>(width));
            for (int y = 0; y < height; ++y)
                for (int column = 0; column < width; ++column)
                    XPutPixel(image, column, y,
                              scratch[static_cast<std::size_t>(y) * width + column]);
        }
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

} // namespace

struct MPreviewWindowOs {
    const Xlib* x = nullptr;
    Display* windowDisplay = nullptr;  // the window thread's, closed by it when it ends
    Display* controlDisplay = nullptr; // Close's and Update's
    Atom command = 0, protocols = 0, deleteWindow = 0;
    // Set by the window thread before it reports the window shown; read by Close and Update
    // only after that report, which orders the two.
    ::Window window = 0;
};

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
    os->controlDisplay = x.OpenDisplay(nullptr);
    if (os->controlDisplay != nullptr)
        os->windowDisplay = x.OpenDisplay(nullptr);
    if (os->windowDisplay == nullptr) {
        MERRTRACE("Open(): cannot connect to the X display \"%s\" named by DISPLAY", name);
        previewwindow_os_release(os);
        return nullptr;
    }
    windowConnection = os->windowDisplay;
    controlConnection = os->controlDisplay;
    // Atoms are the server's, the same on both connections.
    os->command = x.InternAtom(os->controlDisplay, "_VYX_PREVIEW_COMMAND", False);
    os->protocols = x.InternAtom(os->controlDisplay, "WM_PROTOCOLS", False);
    os->deleteWindow = x.InternAtom(os->controlDisplay, "WM_DELETE_WINDOW", False);
    return os;
}

void previewwindow_os_run(MPreviewWindowOs* os) {
    const Xlib& x = *os->x;
    {
        Window11 window(x, os->windowDisplay, os->command, os->protocols, os->deleteWindow);
        if (window.Create()) {
            os->window = window.Id();
            window.Run();
        }
        // Seen closing before the window is destroyed, so that no Update waits for it.
        previewwindow_set_closing();
    }
    windowConnection = nullptr;
    x.CloseDisplay(os->windowDisplay);
    os->windowDisplay = nullptr;
}

namespace {

bool Post(MPreviewWindowOs* os, Command what, const char* caller, int* error) {
    const Xlib& x = *os->x;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = os->window;
    event.xclient.message_type = os->command;
    event.xclient.format = 32;
    event.xclient.data.l[0] = what;
    lastXError = 0;
    // No event mask: the message goes to the client that made the window, our window thread.
    Status sent = x.SendEvent(os->controlDisplay, os->window, False, NoEventMask, &event);
    x.Sync(os->controlDisplay, False);
    if (sent == 0) {
        *error = EINVAL;
        return false;
    }
    if (lastXError == BadWindow) {
        // Destroyed by someone else: the window thread leaves on its destroy notice.
        if (what == kCommandClose)
            return true;
        *error = ENOTCONN;
        return false;
    }
    if (lastXError != 0) {
        MERRTRACE("%s(): X error on the preview window: %s", caller,
                  ErrorText(x, os->controlDisplay, lastXError).c_str());
        *error = EIO;
        return false;
    }
    return true;
}

} // namespace

bool previewwindow_os_post_close(MPreviewWindowOs* os, int* error) {
    return Post(os, kCommandClose, "Close", error);
}

bool previewwindow_os_post_repaint(MPreviewWindowOs* os, int* error) {
    return Post(os, kCommandRepaint, "Update", error);
}

void previewwindow_os_release(MPreviewWindowOs* os) {
    if (os == nullptr)
        return;
    if (os->windowDisplay != nullptr) {
        windowConnection = nullptr;
        os->x->CloseDisplay(os->windowDisplay);
    }
    if (os->controlDisplay != nullptr) {
        controlConnection = nullptr;
        os->x->CloseDisplay(os->controlDisplay);
    }
    delete os;
}
