#pragma once
// How vyxview lays out its window (the tests look for things where this says they are).
//
//   +--------------------------------------+
//   | the picture, zoomed, from (0, 0)      |
//   +--------------------------------------+
//   | status lines, kFont, from x = kMargin |   frame, fps / min, mean, max / zoom, pointer /
//   | ...                                   |   the last message
//   | histogram: 256 bars, one per shade,   |   kHistogramHeight high for the fullest shade
//   +--------------------------------------+
//
// Texts are drawn with kText on kBackground, bars with kBar; colours are 0xRRGGBB.

namespace vyxview {

constexpr const char* kFont = "fixed";
constexpr int kMargin = 4;
constexpr int kStatusLines = 4;
constexpr int kHistogramHeight = 64;
constexpr int kHistogramWidth = 256;
constexpr unsigned long kBackground = 0x202020;
constexpr unsigned long kText = 0xffffff;
constexpr unsigned long kBar = 0x60b0ff;

// The top of the histogram's bar area in a window whose zoomed picture is `pictureHeight`
// high, with text lines `lineHeight` high.
constexpr int HistogramTop(int pictureHeight, int lineHeight) {
    return pictureHeight + kMargin + kStatusLines * lineHeight + kMargin;
}

// Zoom steps: a picture pixel takes 2^zoom window pixels along each side (1/2^-zoom below 0).
constexpr int kMinZoom = -3;
constexpr int kMaxZoom = 4;

} // namespace vyxview
