// The preview window in a build without a window system: there is nothing to open.

#include "mt_proxy/camera/mmachabstract/mpreviewwindow_os.h"
#include "platform/trace/merrtrace.h"

#include <cerrno>

MPreviewWindowOs* previewwindow_os_connect() {
    MERRTRACE("Open(): this build has no window system for the preview window");
    return nullptr;
}

void previewwindow_os_run(MPreviewWindowOs*) {}

bool previewwindow_os_post_close(MPreviewWindowOs*, int* error) {
    *error = ENOSYS;
    return false;
}

bool previewwindow_os_post_repaint(MPreviewWindowOs*, int* error) {
    *error = ENOSYS;
    return false;
}

void previewwindow_os_release(MPreviewWindowOs*) {}
