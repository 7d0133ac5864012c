#pragma once
// The moving test pattern of the simulated camera. It is drawn once, a little
// longer than a frame, and every frame is a window into it that starts a few
// pixels further on: producing a frame costs a pointer, not a drawing.

#include <cstdint>
#include <vector>

namespace Vyx::sim {

class SimPattern {
public:
    // Draws the pattern for frames of width x height pixels; false when the
    // memory cannot be had.
    bool Build(uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint32_t bitsPerPixel);
    void Release();

    // Pixels of the frame whose counter (or exposure number) is phase.
    const uint8_t* Frame(uint64_t phase) const {
        return m_data.data() + (phase % m_modulus) * m_bytesPerPixel;
    }

    static uint32_t Modulus(uint32_t bytesPerPixel, uint32_t bitsPerPixel);
    // Value of pixel (x, y), bytes little-endian.
    static uint32_t Pixel(uint32_t bytesPerPixel, uint32_t bitsPerPixel, uint64_t rowPitch,
                          uint64_t phase, uint64_t x, uint64_t y);

private:
    std::vector<uint8_t> m_data;
    uint32_t m_modulus = 1;
    uint32_t m_bytesPerPixel = 1;
};

} // namespace Vyx::sim
