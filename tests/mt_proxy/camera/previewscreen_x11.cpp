#include "previewscreen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
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

DesktopSession& DesktopSession::Get() {
    static DesktopSession session;
    return session;
}

DesktopSession::DesktopSession() {
    // With -displayfd the server picks a free display number and writes it once it accepts
    // connections, so tests running side by side never race for a number.
    int fds[2];
    if (pipe(fds) != 0) {
        failure = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    std::string writeFd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",       "-displayfd", writeFd.c_str(), "-screen",    "0",
                          "640x480x24", "-nolisten",  "tcp",           "-terminate", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        pid = -1;
        close(fds[0]);
        failure = std::string("cannot run Xvfb: ") + std::strerror(rc);
        return;
    }
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty() || c != '\n') {
        failure = "Xvfb did not report a display within 20 s";
        return;
    }
    keepAlive = XOpenDisplay((":" + number).c_str());
    if (keepAlive == nullptr) {
        failure = "cannot connect to Xvfb on :" + number;
        return;
    }
    display = ":" + number;
}

DesktopSession::~DesktopSession() {
    if (keepAlive != nullptr)
        XCloseDisplay(keepAlive);
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

DisplayVariable::DisplayVariable(const char* value) {
    if (const char* now = std::getenv("DISPLAY")) {
        had = true;
        former = now;
    }
    if (value != nullptr)
        setenv("DISPLAY", value, 1);
    else
        unsetenv("DISPLAY");
}

DisplayVariable::~DisplayVariable() {
    if (had)
        setenv("DISPLAY", former.c_str(), 1);
    else
        unsetenv("DISPLAY");
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
    std::vector<Rgb> pixels;
    XImage* image = XGetImage(connection, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return pixels;
    // The server runs at 24 bits: eight bits each of red, green and blue.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            pixels.push_back({int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)});
        }
    XDestroyImage(image);
    return pixels;
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

} // namespace vyx::test
