#pragma once
// MBitmap2Double: one bit field kept in a double.
//
// The object-lock word the probe manager shares with its sensors is a double, because it
// travels with the channel values; its bits are an integer held in that double. The object
// switches the bits of its mask (bit 1, value 2, after creation and after Reset) on and off
// and caches the state it last set, so that setting the same state twice is noticed.
//
// The double is borrowed: whoever attaches it keeps it alive while the object refers to it.

#include <cstdint>
#include <memory>

class MBitmap2Double {
public:
    explicit MBitmap2Double(double* value) : m_value(value) {}
    MBitmap2Double(const MBitmap2Double&) = delete;
    MBitmap2Double& operator=(const MBitmap2Double&) = delete;

    // Refers to another double; mask and cached state stay.
    void Attach(double* value) { m_value = value; }
    double* GetValue() const { return m_value; }
    // Mask back to bit 1 (value 2) and cached state off; the double is not touched.
    void Reset();
    void SetMask(uint64_t mask) { m_mask = mask; }
    uint64_t GetMask() const { return m_mask; }

    // On: ORs the mask into the double; off: clears the mask bits. False when the cached
    // state already was `on` (nothing changes) or no double is attached.
    bool SetState(bool on);
    // The state last set.
    bool GetState() const { return m_state; }
    // Whether all mask bits are set in the double now.
    bool Test() const;

private:
    static constexpr uint64_t kDefaultMask = 2;

    double* m_value;
    uint64_t m_mask = kDefaultMask;
    bool m_state = false;
};

// A bit object on `value`; null when there is no double to refer to.
std::unique_ptr<MBitmap2Double> MBitmap2Double_Create(double* value);
