// The preview window as a user32 window, drawn with gdi32: the window's 8-bit copy of the newest
// frame goes through its palette into a bitmap compatible with the window (SetDIBitsToDevice),
// which StretchBlt puts onto the whole client area, flipped by negative source extents.
//
// The window thread owns the window and its message loop. Close posts the window the message
// a user's close button sends; Update invalidates the client area and has the window thread
// paint it at once (UpdateWindow sends the paint message to the owning thread).

#include "mt_proxy/camera/mmachabstract/mpreviewwindow_os.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"

#include <windows.h>

#include <cerrno>
#include <cstddef>

namespace {

constexpr const char* kClassName = "previewwindow";
constexpr const char* kTitle = "Preview";
constexpr WORD kIconResource = 105;

// A top-down 8-bit picture with its 256 palette entries.
struct PaletteBitmapInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

// The window thread's drawing resources, made once the window exists.
struct Drawing {
    HDC windowDc = nullptr;
    HBITMAP bitmap = nullptr; // of the picture's size, made again when the camera's changes
    int width = 0, rows = 0;
    PaletteBitmapInfo info{};

    bool Fit(int pictureWidth, int pictureRows) {
        if (bitmap != nullptr && width == pictureWidth && rows == pictureRows)
            return true;
        if (bitmap != nullptr)
            DeleteObject(bitmap);
        bitmap = windowDc != nullptr ? CreateCompatibleBitmap(windowDc, pictureWidth, pictureRows)
                                     : nullptr;
        width = bitmap != nullptr ? pictureWidth : 0;
        rows = bitmap != nullptr ? pictureRows : 0;
        return bitmap != nullptr;
    }
};

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

void BuildBitmapInfo(PaletteBitmapInfo& info) {
    info.header.biSize = sizeof info.header;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = 256;
    for (int index = 0; index < 256; ++index) {
        MPreviewRgb rgb = previewwindow_palette(static_cast<std::uint8_t>(index));
        info.colours[index] = {rgb.blue, rgb.green, rgb.red, 0};
    }
}

void Paint(HWND window, Drawing& drawing) {
    // BeginPaint validates the window: an Update that invalidates it later gets a paint of its
    // own. The ticket is taken after that and before the picture is read, so this paint shows
    // the newest copy as it was when every Update up to the ticket was asked.
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    std::uint64_t ticket = previewwindow_paint_begin();
    // The copy's rows are whole 32-bit words, as a device-independent bitmap has them.
    auto draw = [&](const MPreviewImageDescription& picture) {
        if (dc == nullptr || picture.pixels == nullptr || !drawing.Fit(picture.width, picture.rows))
            return;
        RECT client;
        GetClientRect(window, &client);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ previous = SelectObject(memory, drawing.bitmap);
        const int width = picture.width, rows = picture.rows;
        drawing.info.header.biWidth = width;
        drawing.info.header.biHeight = -rows; // top row first
        SetDIBitsToDevice(memory, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(rows), 0, 0,
                          0, static_cast<UINT>(rows), picture.pixels,
                          reinterpret_cast<const BITMAPINFO*>(&drawing.info), DIB_RGB_COLORS);
        // flipY mirrors left and right, flipX top and bottom: the source runs backwards from
        // its far edge.
        const int sourceLeft = picture.flipY ? width - 1 : 0;
        const int sourceWidth = picture.flipY ? -width : width;
        const int sourceTop = picture.flipX ? rows - 1 : 0;
        const int sourceHeight = picture.flipX ? -rows : rows;
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, 0, 0, client.right, client.bottom, memory, sourceLeft, sourceTop,
                   sourceWidth, sourceHeight, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    };
    previewwindow_picture().Draw(previewwindow_style(), draw);
    EndPaint(window, &paint);
    GdiFlush();
    previewwindow_paint_end(ticket);
}

LRESULT CALLBACK PreviewWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        previewwindow_set_closing();
        return 0;
    case WM_PAINT: {
        auto* drawing = reinterpret_cast<Drawing*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (drawing != nullptr) {
            Paint(window, *drawing);
            return 0;
        }
        break;
    }
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterPreviewClass(HMODULE module) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = PreviewWndProc;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconA(module, MAKEINTRESOURCEA(kIconResource));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    // A second window of the process finds the class registered by the first.
    return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

int SystemError() {
    DWORD code = GetLastError();
    return code != 0 ? static_cast<int>(code) : EIO;
}

} // namespace

struct MPreviewWindowOs {
    HMODULE module = nullptr;
    // Set by the window thread before it reports the window shown; read by Close and Update
    // only after that report, which orders the two.
    HWND window = nullptr;
};

MPreviewWindowOs* previewwindow_os_connect() {
    HMODULE module = ThisModule();
    if (module == nullptr) {
        MERRTRACE("preview_win(): failed to get module handle: %d", SystemError());
        return nullptr;
    }
    auto* os = new MPreviewWindowOs;
    os->module = module;
    return os;
}

void previewwindow_os_run(MPreviewWindowOs* os) {
    if (!RegisterPreviewClass(os->module)) {
        MERRLOG("preview_win(): failed to register the window class: %d", SystemError());
        return;
    }
    const MMachPreviewPlacement& placement = previewwindow_placement();
    std::int32_t pictureWidth = 0, pictureRows = 0;
    previewwindow_picture().Size(pictureWidth, pictureRows);
    int width = placement.width > 0 ? placement.width : pictureWidth;
    int height = placement.height > 0 ? placement.height : pictureRows;
    HWND window =
        CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, placement.left, placement.top,
                        width, height, nullptr, nullptr, os->module, nullptr);
    if (window == nullptr) {
        MERRLOG("preview_win(): failed to create window: %d", SystemError());
        return;
    }
    Drawing drawing;
    drawing.windowDc = GetDC(window);
    BuildBitmapInfo(drawing.info);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&drawing));

    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    os->window = window;
    if (previewwindow_window_shown())
        DestroyWindow(window); // Close came first
    MSG message;
    while (!previewwindow_is_closing() && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // Paints reach the drawing only while it exists.
    const bool open = IsWindow(window);
    if (open)
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    if (drawing.bitmap != nullptr)
        DeleteObject(drawing.bitmap);
    if (drawing.windowDc != nullptr)
        ReleaseDC(window, drawing.windowDc);
    if (open)
        DestroyWindow(window);
}

bool previewwindow_os_post_close(MPreviewWindowOs* os, int* error) {
    if (PostMessageA(os->window, WM_CLOSE, 0, 0))
        return true;
    // Destroyed meanwhile: its thread leaves on the destroy message.
    if (!IsWindow(os->window))
        return true;
    *error = SystemError();
    return false;
}

bool previewwindow_os_post_repaint(MPreviewWindowOs* os, int* error) {
    if (!IsWindow(os->window)) {
        *error = ENOTCONN;
        return false;
    }
    if (!InvalidateRect(os->window, nullptr, FALSE) || !UpdateWindow(os->window)) {
        *error = IsWindow(os->window) ? SystemError() : ENOTCONN;
        return false;
    }
    return true;
}

void previewwindow_os_release(MPreviewWindowOs* os) {
    delete os;
}
