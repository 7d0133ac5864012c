#include "previewscreen.h"

#include "tests/support/testsupport.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vyx::test {

namespace {

// The image's pixels, row by row: the server runs at 24 bits, 0xRRGGBB being the pixel value.
std::vector<Rgb> Pixels(XImage* image, int width, int height) {
    std::vector<Rgb> pixels;
    for (int y = 0; image != nullptr && y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(RgbOf(XGetPixel(image, x, y)));
    if (image != nullptr)
        XDestroyImage(image);
    return pixels;
}

// Starts an Xvfb that picks its own display number (-displayfd), so that tests running side
// by side never race for a number; the display name once it accepts connections, or empty
// with `failure` saying why.
std::string StartXvfb(int& pid, std::string& failure, bool terminate) {
    int fds[2];
    if (pipe(fds) != 0) {
        failure = std::string("pipe: ") + std::strerror(errno);
        return "";
    }
    std::string writeFd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",        "-displayfd", writeFd.c_str(), "-screen", "0",
                          "1024x768x24", "-nolisten",  "tcp",           nullptr,   nullptr};
    if (terminate)
        argv[8] = "-terminate";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd ? O_WRONLY : O_RDONLY, 0);
    int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        pid = -1;
        close(fds[0]);
        failure = std::string("cannot run Xvfb: ") + std::strerror(rc);
        return "";
    }
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty() || c != '\n') {
        failure = "Xvfb did not report a display within 20 s";
        return "";
    }
    return ":" + number;
}

void EndXvfb(int& pid, int signal) {
    if (pid > 0) {
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

} // namespace

DesktopSession::DesktopSession() {
    const std::string name = StartXvfb(pid, failure, true);
    if (name.empty())
        return;
    keepAlive = XOpenDisplay(name.c_str());
    if (keepAlive == nullptr) {
        failure = "cannot connect to Xvfb on " + name;
        return;
    }
    display = name;
    SetEnvironment("DISPLAY", name.c_str());
}

DesktopSession::~DesktopSession() {
    if (keepAlive != nullptr)
        XCloseDisplay(keepAlive);
    EndXvfb(pid, SIGTERM);
}

PrivateXServer::PrivateXServer() : display(StartXvfb(pid, failure, false)) {}

void PrivateXServer::Kill() {
    EndXvfb(pid, SIGKILL);
}

DisplayVariable::DisplayVariable(const char* value)
    : had(std::getenv("DISPLAY") != nullptr), former(had ? std::getenv("DISPLAY") : "") {
    SetEnvironment("DISPLAY", value);
}

DisplayVariable::~DisplayVariable() {
    SetEnvironment("DISPLAY", had ? former.c_str() : nullptr);
}

PreviewScreen::PreviewScreen(const std::string& display)
    : connection(XOpenDisplay(display.c_str())) {}

bool PreviewScreen::Connected() const {
    return connection != nullptr;
}

PreviewScreen::~PreviewScreen() {
    if (connection != nullptr)
        XCloseDisplay(connection);
}

ScreenWindowId PreviewScreen::FindWindow(const std::string& title) const {
    Window root = 0, parent = 0, found = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(connection, DefaultRootWindow(connection), &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        if (XFetchName(connection, children[i], &name) && name != nullptr) {
            if (title == name)
                found = children[i];
            XFree(name);
        }
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

bool PreviewScreen::Geometry(ScreenWindowId window, int* left, int* top, int* width,
                             int* height) const {
    XWindowAttributes attributes;
    Window child = 0;
    if (!XGetWindowAttributes(connection, window, &attributes) ||
        !XTranslateCoordinates(connection, window, attributes.root, 0, 0, left, top, &child))
        return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
}

bool PreviewScreen::ClientSize(ScreenWindowId window, int* width, int* height) const {
    int left = 0, top = 0;
    return Geometry(window, &left, &top, width, height);
}

std::vector<Rgb> PreviewScreen::Screenshot(ScreenWindowId window, int width, int height) const {
    return Pixels(XGetImage(connection, window, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap),
                  width, height);
}

void PreviewScreen::Resize(ScreenWindowId window, int width, int height) const {
    XResizeWindow(connection, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(connection, False);
}

void PreviewScreen::SendDeleteWindow(ScreenWindowId window) const {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    XSendEvent(connection, window, False, NoEventMask, &event);
    XSync(connection, False);
}

void PreviewScreen::SendKey(ScreenWindowId window, const char* keysym) const {
    XEvent event{};
    event.xkey.type = KeyPress;
    event.xkey.display = connection;
    event.xkey.window = window;
    event.xkey.root = DefaultRootWindow(connection);
    event.xkey.same_screen = True;
    event.xkey.keycode = XKeysymToKeycode(connection, XStringToKeysym(keysym));
    XSendEvent(connection, window, True, KeyPressMask, &event);
    XSync(connection, False);
}

void PreviewScreen::MovePointer(ScreenWindowId window, int x, int y) const {
    XWarpPointer(connection, None, window, 0, 0, 0, 0, x, y);
    XSync(connection, False);
}

std::vector<Rgb> PreviewScreen::RenderText(const std::string& text, const char* font,
                                           unsigned long foreground, unsigned long background,
                                           int* width, int* height) const {
    XFontStruct* loaded = XLoadQueryFont(connection, font);
    if (loaded == nullptr)
        return {};
    *width = XTextWidth(loaded, text.c_str(), int(text.size()));
    *height = loaded->ascent + loaded->descent;
    // The server runs at 24 bits, 0xRRGGBB being the pixel value itself.
    Pixmap pixmap = XCreatePixmap(connection, DefaultRootWindow(connection), unsigned(*width),
                                  unsigned(*height), unsigned(DefaultDepth(connection, 0)));
    XGCValues values{};
    values.font = loaded->fid;
    values.foreground = foreground;
    values.background = background;
    GC gc = XCreateGC(connection, pixmap, GCFont | GCForeground | GCBackground, &values);
    XDrawImageString(connection, pixmap, gc, 0, loaded->ascent, text.c_str(), int(text.size()));
    std::vector<Rgb> pixels = Pixels(XGetImage(connection, pixmap, 0, 0, unsigned(*width),
                                               unsigned(*height), AllPlanes, ZPixmap),
                                     *width, *height);
    XFreeGC(connection, gc);
    XFreePixmap(connection, pixmap);
    XFreeFont(connection, loaded);
    return pixels;
}

} // namespace vyx::test
