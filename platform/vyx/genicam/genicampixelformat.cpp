#include "platform/vyx/genicam/genicampixelformat.h"

namespace Vyx::genicam {

namespace {

// Codes 2, 4 and 6 are the library's own for 8, 10 and 12 bits; 16 stands for 16 bits.
const PixelFormatInfo kFormats[] = {
    {"Mono8", 0x01080001, 2, 1, 8},
    {"Mono10", 0x01100003, 4, 2, 10},
    {"Mono12", 0x01100005, 6, 2, 12},
    {"Mono16", 0x01100007, 16, 2, 16},
};

} // namespace

const PixelFormatInfo* FindPixelFormat(uint32_t pfnc) {
    for (const PixelFormatInfo& format : kFormats)
        if (format.pfnc == pfnc)
            return &format;
    return nullptr;
}

const PixelFormatInfo* FindPixelFormat(const std::string& name) {
    for (const PixelFormatInfo& format : kFormats)
        if (name == format.name)
            return &format;
    return nullptr;
}

std::string TakenPixelFormats() {
    std::string list;
    for (const PixelFormatInfo& format : kFormats)
        list += (list.empty() ? "" : ", ") + std::string(format.name);
    return list;
}

} // namespace Vyx::genicam
