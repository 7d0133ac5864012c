#include "host/vyxview/picture.h"

namespace vyxview {

std::uint32_t PictureWidth(const PictureFormat& format) {
    return format.clipWidth != 0 ? format.clipWidth : format.memWidth;
}

std::uint32_t PictureHeight(const PictureFormat& format) {
    return format.clipHeight != 0 ? format.clipHeight : format.memHeight;
}

std::uint64_t PictureOffset(const PictureFormat& format) {
    return std::uint32_t((format.clipY * format.memWidth + format.clipX) * format.bytesPerPixel);
}

std::uint64_t PictureBytes(const PictureFormat& format) {
    return std::uint64_t{PictureWidth(format)} * PictureHeight(format) * format.bytesPerPixel;
}

std::string CheckFormat(const PictureFormat& format, std::uint64_t size) {
    if (format.memWidth == 0 || format.memHeight == 0)
        return "the memory size (--size) must be at least 1x1";
    if (format.bytesPerPixel != 1 && format.bytesPerPixel != 2)
        return "--bpp must be 1 or 2";
    if (format.bits < 1 || format.bits > 8 * format.bytesPerPixel)
        return "--bits must be 1 to " + std::to_string(8 * format.bytesPerPixel);
    if (std::uint64_t{format.clipX} + PictureWidth(format) > format.memWidth ||
        std::uint64_t{format.clipY} + PictureHeight(format) > format.memHeight)
        return "the clip lies outside the memory";
    const std::uint64_t end = PictureOffset(format) + PictureBytes(format);
    if (end > size)
        return "the segment has " + std::to_string(size) + " bytes; the picture needs " +
               std::to_string(end);
    return "";
}

Picture TakePicture(const std::uint8_t* segment, const PictureFormat& format) {
    Picture picture;
    picture.width = PictureWidth(format);
    picture.height = PictureHeight(format);
    const std::size_t count = std::size_t{picture.width} * picture.height;
    picture.values.resize(count);
    const std::uint8_t* source = segment + PictureOffset(format);
    if (format.bytesPerPixel == 1) {
        for (std::size_t i = 0; i < count; ++i)
            picture.values[i] = source[i];
    } else {
        for (std::size_t i = 0; i < count; ++i)
            picture.values[i] = std::uint16_t(source[2 * i] | source[2 * i + 1] << 8);
    }
    return picture;
}

std::uint8_t Shade(std::uint32_t value, std::uint32_t bits) {
    const std::uint32_t shaded = bits > 8 ? value >> (bits - 8) : value;
    return std::uint8_t(shaded > 255 ? 255 : shaded);
}

Statistics Measure(const Picture& picture, std::uint32_t bits) {
    Statistics result;
    if (picture.values.empty())
        return result;
    result.min = result.max = picture.values[0];
    std::uint64_t sum = 0;
    for (std::uint16_t value : picture.values) {
        result.min = value < result.min ? value : result.min;
        result.max = value > result.max ? value : result.max;
        sum += value;
        ++result.histogram[Shade(value, bits)];
    }
    result.mean = double(sum) / double(picture.values.size());
    return result;
}

std::uint32_t ShadeColour(std::uint8_t shade) {
    if (shade == 0)
        return 0x0000ff;
    if (shade == 255)
        return 0xff0000;
    return std::uint32_t{shade} * 0x010101u;
}

} // namespace vyxview
