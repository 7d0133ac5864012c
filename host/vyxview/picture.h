#pragma once
// What vyxview does with a picture of a preview memory, without any window: where it lies in
// the segment, its pixel values, its statistics and how it is shown in eight bits.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vyxview {

// The camera's image memory, as the probesystem's hardware data gives it ("receive
// probe.hardware": mem_width, mem_height, mem_bpp, bits_per_pixel, clip_x, clip_y,
// clipsize_x, clipsize_y).
struct PictureFormat {
    std::uint32_t memWidth = 0, memHeight = 0;
    std::uint32_t bytesPerPixel = 1; // 1 or 2 (little-endian)
    std::uint32_t bits = 8;          // significant bits of a pixel
    std::uint32_t clipX = 0, clipY = 0;
    std::uint32_t clipWidth = 0, clipHeight = 0; // 0: the memory's
};

// The width and height the picture has (the clip's, or the memory's without one).
std::uint32_t PictureWidth(const PictureFormat& format);
std::uint32_t PictureHeight(const PictureFormat& format);
// Where the picture starts in the segment: its clip's place in the full frame, in bytes, in
// 32 bits as the module computes it. Its rows follow one another without gaps.
std::uint64_t PictureOffset(const PictureFormat& format);
std::uint64_t PictureBytes(const PictureFormat& format);
// Empty when the format fits a segment of `size` bytes, else why not.
std::string CheckFormat(const PictureFormat& format, std::uint64_t size);

struct Picture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint16_t> values; // row after row
    std::uint16_t At(std::uint32_t x, std::uint32_t y) const { return values[y * width + x]; }
};

// The picture's values, copied out of the segment (which CheckFormat accepted).
Picture TakePicture(const std::uint8_t* segment, const PictureFormat& format);

// The eight most significant of `bits` bits of a value: what the window shows, and the
// histogram's bin.
std::uint8_t Shade(std::uint32_t value, std::uint32_t bits);

struct Statistics {
    std::uint32_t min = 0, max = 0;
    double mean = 0;
    std::array<std::uint32_t, 256> histogram{}; // pixels per shade
};
Statistics Measure(const Picture& picture, std::uint32_t bits);

// The colour of a shade: 0 blue, 255 red (black and saturated pixels stand out, as in the
// module's preview window), grey between; 0xRRGGBB.
std::uint32_t ShadeColour(std::uint8_t shade);

} // namespace vyxview
