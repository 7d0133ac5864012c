#pragma once
// Window-system side of MPreviewWindow (mpreviewwindow_x11.cpp, mpreviewwindow_win32.cpp; a
// stand-in where the Linux build has no window system, mpreviewwindow_headless.cpp).
//
// The portable side (mpreviewwindow.cpp) owns the thread and the process-wide state; the
// window-system side owns the window, its connection to the window system and the drawing.

#include "mt_proxy/camera/mmachabstract/mpreviewwindow.h"

#include <cstdint>

// --- Implemented by the window-system side ---------------------------------------------------

// Caller's thread, in Open, before the window thread starts: reaches the window system. Null
// with error-trace lines saying why when it cannot (no display, no window-system library).
MPreviewWindowOs* previewwindow_os_connect();

// The window thread's work: creates the window from the process-wide style and placement,
// calls previewwindow_window_shown once it is on screen and runs its loop until the window
// closes or its window system is lost. Sets nothing itself on leaving: the portable side sets
// closing afterwards.
void previewwindow_os_run(MPreviewWindowOs* os);

// Any thread but the window's, only after previewwindow_window_shown: asks the window thread to
// close the window (the message the window manager would send). False with a system error.
bool previewwindow_os_post_close(MPreviewWindowOs* os, int* error);

// Any thread but the window's, only after previewwindow_window_shown: asks the window thread to
// redraw the whole client area; it then calls previewwindow_paint_begin/_end. False with a
// system error.
bool previewwindow_os_post_repaint(MPreviewWindowOs* os, int* error);

// After the window thread has ended, or when it never started: frees what connect made.
void previewwindow_os_release(MPreviewWindowOs* os);

// --- Implemented by the portable side, for the window thread ---------------------------------

// The flips and the placement Open was given; unchanged while the thread runs.
const MPreviewImageDescription& previewwindow_style();
const MMachPreviewPlacement& previewwindow_placement();
// The picture to draw (MPreviewPicture::Draw with the style above); the copy of the window
// that Open started.
MPreviewPicture& previewwindow_picture();

// The window is on screen: sets window ready. True when Close has already asked for the window
// to close, in which case the thread closes it at once (Close posts nothing before this).
bool previewwindow_window_shown();

// The window is being destroyed (closed by the user, the window manager or Close).
void previewwindow_set_closing();

// True once the window is closing.
bool previewwindow_is_closing();

// A paint that reads the picture after this call answers every Update asked for before it:
// paint_begin returns the ticket to hand to paint_end once the picture is on screen.
std::uint64_t previewwindow_paint_begin();
void previewwindow_paint_end(std::uint64_t ticket);

// The palette of the 8-bit picture: 0 blue, 1 to 254 grey, 255 red.
struct MPreviewRgb {
    std::uint8_t red, green, blue;
};
constexpr MPreviewRgb previewwindow_palette(std::uint8_t index) {
    if (index == 0)
        return {0, 0, 255};
    if (index == 255)
        return {255, 0, 0};
    return {index, index, index};
}
