#include "platform/vyx/simpattern.h"

#include <new>

namespace Vyx::sim {

uint32_t SimPattern::Modulus(uint32_t bytesPerPixel, uint32_t bitsPerPixel) {
    if (bytesPerPixel != 2)
        return 251;
    if (bitsPerPixel == 10)
        return 1021;
    if (bitsPerPixel == 12)
        return 4093;
    return 65521;
}

namespace {

// Bytes of a pixel of value v: 2-byte pixels hold v itself, others one shade per byte.
uint32_t Encode(uint32_t bytesPerPixel, uint32_t v) {
    if (bytesPerPixel == 2)
        return v;
    uint32_t packed = 0;
    for (uint32_t k = 0; k < bytesPerPixel; ++k)
        packed |= ((v + 85 * k) & 0xFF) << (8 * k);
    return packed;
}

} // namespace

bool SimPattern::Build(uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                       uint32_t bitsPerPixel) {
    m_modulus = Modulus(bytesPerPixel, bitsPerPixel);
    m_bytesPerPixel = bytesPerPixel;
    // A frame starts up to modulus - 1 pixels into the pattern.
    uint64_t pixels = static_cast<uint64_t>(width) * height + m_modulus;
    try {
        m_data.assign(pixels * bytesPerPixel, 0);
    } catch (const std::bad_alloc&) {
        m_data.clear();
        return false;
    }
    uint8_t* out = m_data.data();
    uint32_t v = 0;
    for (uint64_t i = 0; i < pixels; ++i) {
        uint32_t packed = Encode(bytesPerPixel, v);
        for (uint32_t k = 0; k < bytesPerPixel; ++k)
            *out++ = static_cast<uint8_t>(packed >> (8 * k));
        if (++v == m_modulus)
            v = 0;
    }
    return true;
}

void SimPattern::Release() {
    m_data.clear();
    m_data.shrink_to_fit();
}

uint32_t SimPattern::Pixel(uint32_t bytesPerPixel, uint32_t bitsPerPixel, uint64_t rowPitch,
                           uint64_t phase, uint64_t x, uint64_t y) {
    uint32_t modulus = Modulus(bytesPerPixel, bitsPerPixel);
    uint64_t v = (y * rowPitch + x + phase % modulus) % modulus;
    return Encode(bytesPerPixel, static_cast<uint32_t>(v));
}

} // namespace Vyx::sim
