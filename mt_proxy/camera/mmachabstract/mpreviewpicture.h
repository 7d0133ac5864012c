#pragma once
// The preview window's own copy of the newest camera frame.
//
// Camera libraries reuse or free a frame's buffer once its callback has returned (a GenICam
// stream buffer goes back to the stream), so the window never draws from the camera's memory.
// The preview receiver copies the frame's clip rectangle here, as the 8-bit picture the window
// shows, and the window draws this copy.
//
// A copy is made only when the window asks for one: once it has drawn the last copy, or when a
// preview starts. Frames are so copied at most at the rate the window draws, and a receiver
// whose window waits for nothing pays one atomic load per frame.
//
// Offer runs on the camera thread, Draw on the window thread, the rest anywhere; the lock
// guards the picture, the flag is read without it.

#include "platform/vyx/cimgbuffer.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// A picture as the window draws it.
struct MPreviewImageDescription {
    const std::uint8_t* pixels = nullptr; // rows of `width` bytes, top row first; none: no picture
    std::int32_t width = 0;               // bytes per row
    std::int32_t rows = 0;
    std::uint8_t flipX = 0;  // non-zero: upside down (the last row on top)
    std::uint8_t flipY = 0;  // non-zero: mirrored left to right
    std::int32_t stride = 0; // bytes from one row to the next; 0: `width`
};

class MPreviewPicture {
public:
    // Camera thread: copies the clip rectangle of `image` when a copy is wanted, one byte per
    // pixel: 8-bit pixels as they are, 2-byte pixels (little-endian) the eight most
    // significant of their bits per pixel, wider ones the mean of their bytes. True when it
    // did; false for a frame without pixels, a clip that does not fit the frame, or when no
    // copy is wanted.
    bool Offer(const Vyx::CImgBuffer& image);

    // The next frame offered is copied.
    void Want() { wanted.store(true, std::memory_order_release); }
    // No frame is copied until the next Want.
    void Refuse() { wanted.store(false, std::memory_order_release); }
    bool IsWanted() const { return wanted.load(std::memory_order_acquire); }
    // Forgets the picture: nothing to draw until the next copy.
    void Clear();

    // Window thread: calls draw(picture) under the lock, with the pixels, size and stride of
    // the newest copy (pixels null when there is none yet) and the flips of `style`; then asks
    // for the next frame.
    template <class Drawer> void Draw(const MPreviewImageDescription& style, Drawer&& draw) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            MPreviewImageDescription picture = style;
            picture.pixels = rows > 0 ? pixels.data() : nullptr;
            picture.width = width;
            picture.rows = rows;
            picture.stride = stride;
            fresh = false;
            draw(static_cast<const MPreviewImageDescription&>(picture));
        }
        Want();
    }

    // A copy came since the last Draw.
    bool IsFresh() const;
    // Width and rows of the newest copy, 0 when there is none.
    void Size(std::int32_t& width, std::int32_t& rows) const;

private:
    std::atomic<bool> wanted{false};
    mutable std::mutex mutex;
    std::vector<std::uint8_t> pixels; // rows of `stride` bytes, the first `width` of them used
    std::int32_t width = 0, rows = 0;
    std::int32_t stride = 0; // whole 32-bit words, as Windows bitmaps need their rows
    bool fresh = false;
};
