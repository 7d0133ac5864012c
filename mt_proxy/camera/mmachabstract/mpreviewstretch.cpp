#include "mt_proxy/camera/mmachabstract/mpreviewstretch.h"

#include <vector>

bool MPreviewStretch_To32(const MPreviewImageDescription& description,
                          const std::uint32_t colours[256], int width, int height,
                          std::uint32_t* out, std::size_t stride) {
    const std::int32_t sourceWidth = description.width;
    const std::int32_t sourceRows = description.rows;
    if (description.pixels == nullptr || sourceWidth <= 0 || sourceRows <= 0 || width <= 0 ||
        height <= 0 || stride < static_cast<std::size_t>(width))
        return false;
    const std::int32_t sourceStride = description.stride > 0 ? description.stride : sourceWidth;
    if (sourceStride < sourceWidth)
        return false;

    // Which source column each target column shows, worked out once per picture.
    std::vector<std::uint32_t> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        auto column = static_cast<std::uint32_t>(static_cast<std::uint64_t>(x) *
                                                 static_cast<std::uint64_t>(sourceWidth) /
                                                 static_cast<std::uint64_t>(width));
        columns[x] =
            description.flipY ? static_cast<std::uint32_t>(sourceWidth) - 1 - column : column;
    }
    for (int y = 0; y < height; ++y) {
        auto row = static_cast<std::uint32_t>(static_cast<std::uint64_t>(y) *
                                              static_cast<std::uint64_t>(sourceRows) /
                                              static_cast<std::uint64_t>(height));
        if (description.flipX)
            row = static_cast<std::uint32_t>(sourceRows) - 1 - row;
        const std::uint8_t* source =
            description.pixels +
            static_cast<std::size_t>(row) * static_cast<std::size_t>(sourceStride);
        std::uint32_t* target = out + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < width; ++x)
            target[x] = colours[source[columns[x]]];
    }
    return true;
}
