#pragma once
// vyxview's window: the live picture of one preview memory with its statistics.

#include "host/vyxview/picture.h"

#include <string>

namespace vyxview {

struct ViewerOptions {
    std::string name; // the preview memory's segment
    PictureFormat format;
    int zoom = 0; // exponent (viewerlayout.h); used when zoomGiven
    bool zoomGiven = false;
    std::string outputDirectory = "."; // where the key s saves PNG files
};

// Shows the preview memory until the user quits (q, Escape or the window's close button).
// The exit status: 0, or 1 after a line on standard error when the preview memory or the X
// display cannot be opened.
int RunViewer(const ViewerOptions& options);

} // namespace vyxview
