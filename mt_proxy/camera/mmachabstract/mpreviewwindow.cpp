#include "mt_proxy/camera/mmachabstract/mpreviewwindow.h"

#include "msl/mipc/mthread.h"
#include "mt_proxy/camera/mmachabstract/mpreviewwindow_os.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// How long Update waits for the window thread to redraw. A thread that is not scheduled within
// this time is stuck, and the machine then closes the window.
constexpr std::chrono::seconds kRepaintTimeout{5};

// The process-wide window state. Style, placement and picture are written by Open before the
// thread starts and stay unchanged until Close has joined it, so the thread reads them without
// a lock; the rest is guarded by `mutex` or atomic for the lock-free queries.
struct WindowState {
    MPreviewImageDescription style;
    MMachPreviewPlacement placement;
    MPreviewPicture* picture = nullptr;
    std::atomic<bool> windowReady{false};
    std::atomic<bool> closing{false};
    const MPreviewWindow* owner = nullptr; // whose thread runs; one preview window per process

    std::mutex mutex;
    std::condition_variable changed; // a paint finished or the window is closing
    bool closeAsked = false;         // Close came before the window was shown
    std::uint64_t repaintsAsked = 0; // tickets of Update, counted over the whole process
    std::uint64_t repaintsDone = 0;  // the newest ticket a finished paint answered
};

// Never destroyed: a window thread left running at process exit never meets a dead state.
WindowState& State() {
    static WindowState* state = new WindowState;
    return *state;
}

std::uint32_t preview_win(void* argument) {
    previewwindow_os_run(static_cast<MPreviewWindowOs*>(argument));
    // Also when the window could not be made: Update and the queries then see it gone.
    previewwindow_set_closing();
    return 0;
}

} // namespace

const MPreviewImageDescription& previewwindow_style() {
    return State().style;
}

MPreviewPicture& previewwindow_picture() {
    return *State().picture;
}

const MMachPreviewPlacement& previewwindow_placement() {
    return State().placement;
}

bool previewwindow_window_shown() {
    WindowState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.windowReady = true;
    return state.closeAsked;
}

void previewwindow_set_closing() {
    WindowState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.closing = true;
    }
    state.changed.notify_all();
}

bool previewwindow_is_closing() {
    return State().closing;
}

std::uint64_t previewwindow_paint_begin() {
    WindowState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.repaintsAsked;
}

void previewwindow_paint_end(std::uint64_t ticket) {
    WindowState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (ticket > state.repaintsDone)
            state.repaintsDone = ticket;
    }
    state.changed.notify_all();
}

MPreviewWindow::~MPreviewWindow() {
    if (!Close())
        MERRTRACE("~MPreviewWindow(): failed to close preview thread");
}

bool MPreviewWindow::Open(const MPreviewImageDescription& style,
                          const MMachPreviewPlacement& placement) {
    WindowState& state = State();
    if (thread != -1 || state.owner != nullptr) {
        MERRTRACE("Open(): preview window thread already running");
        return false;
    }
    // Reaching the window system here, before any thread, lets a missing display fail the call
    // itself instead of a thread that would end unseen.
    MPreviewWindowOs* connection = previewwindow_os_connect();
    if (connection == nullptr) {
        MERRTRACE("Open(): failed to start preview window thread");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.windowReady = false;
        state.closing = false;
        state.closeAsked = false;
        state.style = MPreviewImageDescription{};
        state.style.flipX = style.flipX;
        state.style.flipY = style.flipY;
        state.placement = placement;
        state.picture = &picture;
        state.owner = this;
    }
    int number = MThread_Create(preview_win, connection);
    if (number == -1) {
        previewwindow_os_release(connection);
        state.owner = nullptr;
        MERRTRACE("Open(): failed to start preview window thread");
        return false;
    }
    thread = number;
    os = connection;
    MTRACE(4, "Open(): preview window thread started");
    return true;
}

bool MPreviewWindow::Close() {
    picture.Refuse();
    if (thread == -1)
        return true;
    WindowState& state = State();
    bool shown = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.closeAsked = true;
        shown = state.windowReady && !state.closing;
    }
    // A window not shown yet has nobody to post to: its thread sees closeAsked when it shows it.
    int error = 0;
    if (shown && !previewwindow_os_post_close(os, &error)) {
        MERRTRACE("Close(): failed to send the close message to the preview window: %d", error);
        return false;
    }
    if (!MThread_Join(thread))
        return false;
    previewwindow_os_release(os);
    os = nullptr;
    thread = -1;
    state.owner = nullptr;
    state.picture = nullptr;
    MTRACE(4, "Close(): preview window thread closed");
    return true;
}

bool MPreviewWindow::Update(int* systemError) {
    int unused = 0;
    int& error = systemError != nullptr ? *systemError : unused;
    if (thread == -1) {
        error = ESRCH;
        return false;
    }
    WindowState& state = State();
    std::uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.closing) {
            error = ENOTCONN;
            return false;
        }
        if (!state.windowReady)
            return true; // its first paint shows the picture as it is then
        if (!picture.IsFresh())
            return true; // the window shows the newest copy already
        ticket = ++state.repaintsAsked;
    }
    if (!previewwindow_os_post_repaint(os, &error))
        return false;
    std::unique_lock<std::mutex> lock(state.mutex);
    state.changed.wait_for(lock, kRepaintTimeout, [&state, ticket] {
        return state.repaintsDone >= ticket || state.closing;
    });
    if (state.repaintsDone >= ticket)
        return true;
    error = state.closing ? ENOTCONN : ETIMEDOUT;
    return false;
}

bool MPreviewWindow::IsWindowReady() const {
    return thread != -1 && State().windowReady;
}

bool MPreviewWindow::IsWindowGone() const {
    return thread != -1 && State().closing;
}
