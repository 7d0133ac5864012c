#pragma once
// The camera picture in a window of its own, titled "Preview", run by a thread of its own.
//
// The window shows an 8-bit picture through a fixed palette (0 blue, 1 to 254 grey, 255 red,
// so that black and saturated pixels stand out), stretched to the whole client area and
// optionally flipped. It draws its own copy of the newest frame (Picture()), which the preview
// receiver refreshes whenever the window has drawn the last one; Update draws what came.
//
// One preview window per process: the flips, the placement and the window's flags are
// process-wide, shared without a lock between the caller and the window thread. The caller
// writes them before the thread starts and stops the thread before it changes anything; the
// thread sets window ready, and closing when the window goes (closed by the user, the window
// manager or Close, or its display lost).
//
// Open, Close and Update are meant for one thread at a time (the server's command thread).

#include "lintel/server/machine/mmachrecords.h"
#include "mt_proxy/camera/mmachabstract/mpreviewpicture.h"

#include <cstdint>

struct MPreviewWindowOs;

class MPreviewWindow {
public:
    MPreviewWindow() = default;
    // Closes the window; "~MPreviewWindow(): failed to close preview thread" when it cannot.
    ~MPreviewWindow();
    MPreviewWindow(const MPreviewWindow&) = delete;
    MPreviewWindow& operator=(const MPreviewWindow&) = delete;

    // Starts the window thread, which creates the window at the placement (a non-positive
    // width or height takes the picture's) and shows Picture() with the flips of `style` (its
    // pixels are not read). False with error-trace lines when a thread already runs or none
    // can be started; without a reachable window system (no X display) the line before
    // "Open(): failed to start preview window thread" says why, and no thread starts.
    bool Open(const MPreviewImageDescription& style, const MMachPreviewPlacement& placement);

    // Closes the window and waits for its thread to end; no frame is copied any more. True
    // also when none runs.
    bool Close();

    // Redraws the whole client area from the newest copy when one came since the last paint,
    // and returns once that is done. With nothing new, or before the window is ready, there is
    // nothing to redraw: true. False, with a system error code in `*systemError`, when no
    // window thread runs (ESRCH), the window is gone (ENOTCONN), the redraw cannot be
    // requested, or it does not happen within 5 s (ETIMEDOUT).
    bool Update(int* systemError);

    // The window's copy of the newest frame, which the preview receiver fills.
    MPreviewPicture& Picture() { return picture; }

    // From a successful Open until Close, also after the window has gone on its own.
    bool IsThreadRunning() const { return thread != -1; }
    // The window exists and has been shown.
    bool IsWindowReady() const;
    // The window has been closed (by the user or the window manager) or is closing; the
    // thread is ending or has ended.
    bool IsWindowGone() const;

private:
    MPreviewPicture picture;
    int thread = -1;                // MThread number of the window thread, -1 when none
    MPreviewWindowOs* os = nullptr; // window-system side; owned from Open to Close
};
