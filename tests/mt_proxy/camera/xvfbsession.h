#pragma once
// A private X server (Xvfb) for tests that open windows, and screenshots of those windows.

#include <cstdint>
#include <string>
#include <vector>

struct _XDisplay;

namespace vyx::test {

// An X window id (Xlib's Window; its header's macros clash with GoogleTest's names).
using XWindowId = unsigned long;

// The process's Xvfb, started on first use on a display number it picks itself, 24-bit colour.
// It ends with its last client, and the session holds one connection until the process ends,
// so it goes also when a test process dies. Display() is empty when it could not start;
// Failure() says why.
class XvfbSession {
public:
    static XvfbSession& Get();
    const std::string& Display() const { return display; }
    const std::string& Failure() const { return failure; }

private:
    XvfbSession();
    ~XvfbSession();
    std::string display;
    std::string failure;
    int pid = -1;
    _XDisplay* keepAlive = nullptr;
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

struct Rgb {
    int red, green, blue;
    bool operator==(const Rgb&) const = default;
};

// A connection of the test's own to the X server, to look at windows as a user would.
class XScreen {
public:
    explicit XScreen(const std::string& display);
    ~XScreen();
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    bool Connected() const { return connection != nullptr; }
    // The top-level window with this title, 0 when there is none.
    XWindowId FindWindow(const std::string& title) const;
    // Size and position on the screen; false when the window does not exist.
    bool Geometry(XWindowId window, int* left, int* top, int* width, int* height) const;
    // The window's client area as the server shows it, row by row; empty on failure.
    std::vector<Rgb> Screenshot(XWindowId window, int width, int height) const;
    // What a user does through the window manager: resize the window, close it.
    void Resize(XWindowId window, int width, int height) const;
    void SendDeleteWindow(XWindowId window) const;

private:
    _XDisplay* connection = nullptr;
};

} // namespace vyx::test
