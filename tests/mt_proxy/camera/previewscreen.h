#pragma once
// The desktop that tests open windows on, and what a user sees of those windows there
// (previewscreen_x11.cpp: a private X server, Xvfb; previewscreen_win32.cpp: the session's own
// desktop, which Wine draws into the X server it was started on).

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct _XDisplay;

namespace vyx::test {

// An X window id (Xlib's Window; its header's macros clash with GoogleTest's names), or a
// window handle.
using ScreenWindowId = unsigned long long;

// On Linux the process's Xvfb, started on first use on a display number it picks itself,
// 24-bit colour, and named in DISPLAY from then on, as a user's session names its display. It
// ends with its last client, and the session holds one connection until the process ends, so
// it goes also when a test process dies. Display() is empty when it could not start; Failure()
// says why. On Windows the desktop is always there.
class DesktopSession {
public:
    static DesktopSession& Get() {
        static DesktopSession session;
        return session;
    }
    const std::string& Display() const { return display; }
    const std::string& Failure() const { return failure; }

private:
    DesktopSession();
    ~DesktopSession();
    std::string display;
    std::string failure;
    int pid = -1;
    _XDisplay* keepAlive = nullptr;
};

#if !defined(_WIN32)
// An X server of one test's own (Xvfb), which the test may kill: what a user's display does
// when it goes away under a program.
class PrivateXServer {
public:
    PrivateXServer();
    ~PrivateXServer() { Kill(); }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    // Empty when it could not start; Failure() says why.
    const std::string& Display() const { return display; }
    const std::string& Failure() const { return failure; }
    // Ends it at once (SIGKILL) and waits for it.
    void Kill();

private:
    int pid = -1;
    std::string failure;
    std::string display;
};

// Sets DISPLAY (unsets it for a null value) and restores the former value when it goes.
class DisplayVariable {
public:
    explicit DisplayVariable(const char* value);
    ~DisplayVariable();
    DisplayVariable(const DisplayVariable&) = delete;
    DisplayVariable& operator=(const DisplayVariable&) = delete;

private:
    bool had = false;
    std::string former;
};
#endif

struct Rgb {
    int red, green, blue;
    bool operator==(const Rgb&) const = default;
};

// A pixel value 0xRRGGBB.
inline Rgb RgbOf(unsigned long pixel) {
    return {int(pixel >> 16 & 0xff), int(pixel >> 8 & 0xff), int(pixel & 0xff)};
}

// The preview window's palette: 0 blue, 255 red, the grey of that level between.
inline Rgb PaletteColour(unsigned value) {
    const int v = int(value);
    return v == 0 ? Rgb{0, 0, 255} : v == 255 ? Rgb{255, 0, 0} : Rgb{v, v, v};
}

// Polls `condition` until it holds (true) or 20 s have passed (false): windows come and go on
// threads and in processes of their own.
inline bool WaitUntil(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

// A connection of the test's own to the window system, to look at windows as a user would.
class PreviewScreen {
public:
    explicit PreviewScreen(const std::string& display);
    ~PreviewScreen();
    PreviewScreen(const PreviewScreen&) = delete;
    PreviewScreen& operator=(const PreviewScreen&) = delete;

    bool Connected() const;
    // The top-level window with this title, 0 when there is none.
    ScreenWindowId FindWindow(const std::string& title) const;
    // Position and size on the screen, frame included; false when the window does not exist.
    bool Geometry(ScreenWindowId window, int* left, int* top, int* width, int* height) const;
    // The size of the client area, where the picture goes (without the frame that Windows
    // draws inside the window's size; the same as Geometry's on a bare X server).
    bool ClientSize(ScreenWindowId window, int* width, int* height) const;
    // The window's client area as the window system shows it, row by row; empty on failure.
    std::vector<Rgb> Screenshot(ScreenWindowId window, int width, int height) const;
    // What a user does through the window manager: resize the client area, close the window.
    void Resize(ScreenWindowId window, int width, int height) const;
    void SendDeleteWindow(ScreenWindowId window) const;
#if !defined(_WIN32)
    // A key press (a keysym name such as "s" or "minus") sent to the window, and the pointer
    // moved to (x, y) of the window, as a user types and points.
    void SendKey(ScreenWindowId window, const char* keysym) const;
    void MovePointer(ScreenWindowId window, int x, int y) const;
    // `text` as the font draws it with XDrawImageString (colours 0xRRGGBB), its cells only;
    // its size in `width` and `height` (ascent plus descent). Empty when the font is missing.
    std::vector<Rgb> RenderText(const std::string& text, const char* font, unsigned long foreground,
                                unsigned long background, int* width, int* height) const;
#endif

private:
    _XDisplay* connection = nullptr; // X only
};

} // namespace vyx::test
