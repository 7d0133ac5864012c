#pragma once
// Stretches the preview window's 8-bit picture to a client area of any size, through a colour
// table, nearest neighbour. Used where the window system draws no stretched picture itself.

#include "mt_proxy/camera/mmachabstract/mpreviewpicture.h"

#include <cstddef>
#include <cstdint>

// Fills `height` rows of `width` 32-bit pixels (row i at out + i * stride) with the picture of
// `description` through `colours`, stretched to that size: flipX takes the source rows from
// the last one, flipY the source columns from the last one. Needs pixels, a positive size of
// both, a stride of at least `width` and a source stride of at least its width; otherwise writes
// nothing and answers false.
bool MPreviewStretch_To32(const MPreviewImageDescription& description,
                          const std::uint32_t colours[256], int width, int height,
                          std::uint32_t* out, std::size_t stride);
