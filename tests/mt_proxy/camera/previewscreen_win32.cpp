#include "previewscreen.h"

#include <windows.h>
// The method's name, not user32's macro.
#undef FindWindow

namespace vyx::test {

namespace {

HWND AsWindow(ScreenWindowId window) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
}

} // namespace

DesktopSession::DesktopSession() : display("desktop") {}

DesktopSession::~DesktopSession() = default;

PreviewScreen::PreviewScreen(const std::string&) {}

PreviewScreen::~PreviewScreen() = default;

// Every process of the session sees its desktop's windows.
bool PreviewScreen::Connected() const {
    return true;
}

ScreenWindowId PreviewScreen::FindWindow(const std::string& title) const {
    // This process's own window only: test processes share the session's desktop.
    struct Search {
        const std::string& title;
        HWND found;
    } search{title, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* search = reinterpret_cast<Search*>(context);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            char text[256] = "";
            if (process != GetCurrentProcessId() || GetWindowTextA(window, text, sizeof text) < 0 ||
                search->title != text)
                return TRUE;
            search->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return reinterpret_cast<uintptr_t>(search.found);
}

bool PreviewScreen::Geometry(ScreenWindowId window, int* left, int* top, int* width,
                             int* height) const {
    RECT rect;
    if (!GetWindowRect(AsWindow(window), &rect))
        return false;
    *left = rect.left;
    *top = rect.top;
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    return true;
}

bool PreviewScreen::ClientSize(ScreenWindowId window, int* width, int* height) const {
    RECT rect;
    if (!GetClientRect(AsWindow(window), &rect))
        return false;
    *width = rect.right;
    *height = rect.bottom;
    return true;
}

std::vector<Rgb> PreviewScreen::Screenshot(ScreenWindowId window, int width, int height) const {
    std::vector<Rgb> pixels;
    HDC windowDc = GetDC(AsWindow(window));
    if (windowDc == nullptr)
        return pixels;
    // Copied from the window's own device context into a 32-bit top-down picture of ours.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP picture = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory != nullptr && picture != nullptr) {
        HGDIOBJ previous = SelectObject(memory, picture);
        if (BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY)) {
            GdiFlush();
            const auto* words = static_cast<const uint32_t*>(bits);
            for (int i = 0; i < width * height; ++i)
                pixels.push_back(RgbOf(words[i]));
        }
        SelectObject(memory, previous);
    }
    if (picture != nullptr)
        DeleteObject(picture);
    if (memory != nullptr)
        DeleteDC(memory);
    ReleaseDC(AsWindow(window), windowDc);
    return pixels;
}

void PreviewScreen::Resize(ScreenWindowId window, int width, int height) const {
    HWND handle = AsWindow(window);
    RECT rect{0, 0, width, height};
    AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongPtrA(handle, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(handle, GWL_EXSTYLE)));
    SetWindowPos(handle, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PreviewScreen::SendDeleteWindow(ScreenWindowId window) const {
    PostMessageA(AsWindow(window), WM_CLOSE, 0, 0);
}

} // namespace vyx::test
