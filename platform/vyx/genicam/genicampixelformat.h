#pragma once
// The GenICam pixel formats the back end takes: unpacked monochrome ones, whose frames a
// receiver can copy as they are. Packed, Bayer and colour formats are refused.

#include <cstdint>
#include <string>

namespace Vyx::genicam {

struct PixelFormatInfo {
    const char* name; // GenICam (PFNC) name
    uint32_t pfnc;    // PFNC code, as the camera's PixelFormat feature gives it
    uint32_t code;    // pixel format code of CImageInfo / CImgBuffer
    uint32_t bytesPerPixel;
    uint32_t bitsPerPixel;
};

// Null when the format is not taken.
const PixelFormatInfo* FindPixelFormat(uint32_t pfnc);
const PixelFormatInfo* FindPixelFormat(const std::string& name);
// "Mono8, Mono10, Mono12, Mono16"
std::string TakenPixelFormats();

} // namespace Vyx::genicam
