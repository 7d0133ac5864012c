#include "mt_proxy/camera/mmachabstract/mpreviewpicture.h"

#include <cstring>
#include <limits>
#include <new>

namespace {

// Largest side of a picture: beyond it the window's 32-bit sizes would overflow.
constexpr std::uint64_t kMaxSide = std::numeric_limits<std::int32_t>::max() / 4;

void ConvertRow(const std::uint8_t* source, std::uint64_t count, std::uint64_t bytesPerPixel,
                std::uint32_t bits, std::uint8_t* out) {
    if (bytesPerPixel == 1) {
        std::memcpy(out, source, count);
        return;
    }
    if (bytesPerPixel == 2) {
        const std::uint32_t significant = bits > 8 && bits <= 16 ? bits : 16;
        const std::uint32_t shift = significant - 8;
        for (std::uint64_t i = 0; i < count; ++i, source += 2) {
            const std::uint32_t value = (source[0] | (std::uint32_t{source[1]} << 8)) >> shift;
            out[i] = static_cast<std::uint8_t>(value > 255 ? 255 : value);
        }
        return;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t sum = 0;
        for (std::uint64_t k = 0; k < bytesPerPixel; ++k)
            sum += *source++;
        out[i] = static_cast<std::uint8_t>(sum / bytesPerPixel);
    }
}

} // namespace

bool MPreviewPicture::Offer(const Vyx::CImgBuffer& image) {
    if (!wanted.load(std::memory_order_acquire) || image.pixels == nullptr)
        return false;
    const std::uint64_t bpp = image.bytesPerPixel;
    const std::uint64_t clipWidth = image.clipWidth != 0 ? image.clipWidth : image.rowPitch;
    const std::uint64_t clipRows = image.clipHeight != 0 ? image.clipHeight : image.rows;
    if (bpp == 0 || bpp > 8 || clipWidth == 0 || clipRows == 0 || clipWidth > kMaxSide ||
        clipRows > kMaxSide || clipWidth > image.rowPitch || clipRows > image.rows ||
        image.offsetX > image.rowPitch - clipWidth || image.offsetY > image.rows - clipRows)
        return false;
    std::lock_guard<std::mutex> guard(mutex);
    if (!wanted.load(std::memory_order_relaxed))
        return false; // refused meanwhile
    const auto newStride = static_cast<std::int32_t>((clipWidth + 3) & ~std::uint64_t{3});
    try {
        pixels.resize(static_cast<std::size_t>(newStride) * clipRows);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::uint64_t pitchBytes = image.rowPitch * bpp;
    const std::uint8_t* source = image.pixels + image.offsetY * pitchBytes + image.offsetX * bpp;
    for (std::uint64_t row = 0; row < clipRows; ++row)
        ConvertRow(source + row * pitchBytes, clipWidth, bpp, image.bitsPerPixel,
                   pixels.data() + row * static_cast<std::size_t>(newStride));
    width = static_cast<std::int32_t>(clipWidth);
    rows = static_cast<std::int32_t>(clipRows);
    stride = newStride;
    fresh = true;
    wanted.store(false, std::memory_order_relaxed);
    return true;
}

void MPreviewPicture::Clear() {
    std::lock_guard<std::mutex> guard(mutex);
    width = rows = stride = 0;
    fresh = false;
}

bool MPreviewPicture::IsFresh() const {
    std::lock_guard<std::mutex> guard(mutex);
    return fresh;
}

void MPreviewPicture::Size(std::int32_t& pictureWidth, std::int32_t& pictureRows) const {
    std::lock_guard<std::mutex> guard(mutex);
    pictureWidth = width;
    pictureRows = rows;
}
