#include "csensor/sensors/mbitmap2double.h"

namespace {

// The double holds a non-negative integer; anything else counts as no bits set.
uint64_t bits_of(double value) {
    return value >= 1.0 && value < 18446744073709551616.0 ? static_cast<uint64_t>(value) : 0;
}

} // namespace

void MBitmap2Double::Reset() {
    m_mask = kDefaultMask;
    m_state = false;
}

bool MBitmap2Double::SetState(bool on) {
    if (!m_value || on == m_state)
        return false;
    uint64_t bits = bits_of(*m_value);
    bits = on ? (bits | m_mask) : (bits & ~m_mask);
    *m_value = static_cast<double>(bits);
    m_state = on;
    return true;
}

bool MBitmap2Double::Test() const {
    return m_value && (bits_of(*m_value) & m_mask) == m_mask && m_mask != 0;
}

std::unique_ptr<MBitmap2Double> MBitmap2Double_Create(double* value) {
    if (!value)
        return nullptr;
    return std::make_unique<MBitmap2Double>(value);
}
