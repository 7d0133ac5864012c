#pragma once
// The stream callbacks registered with the GenICam camera, and the delivery of one frame to
// all of them.
//
// One recursive lock guards the list and is held while the callbacks run, so that once
// Remove or Halt returned on another thread a callback runs no more; on the stream's thread
// (a callback that removes a receiver or freezes the camera) the lock is already ours.

#include "platform/vyx/cimgbuffer.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace Vyx::genicam {

class CGenicamReceivers {
public:
    void Add(void* context, ImgStreamCallback callback);
    // False when the pair is not registered.
    bool Remove(void* context, ImgStreamCallback callback);
    void Clear();

    // Hands the frame to every callback in registration order while `deliverable` holds;
    // false when it did not (any more).
    bool Deliver(const CImgBuffer& image, uint32_t flags, const std::atomic<bool>& deliverable);
    // Waits for a delivery in progress on another thread; on the delivering thread itself the
    // frame goes to no further callback. Clear `deliverable` first.
    void Halt();

    // True inside a callback, on the thread that delivers (a stream's thread).
    static bool InCallback();

private:
    struct Receiver {
        void* context;
        ImgStreamCallback callback; // null: removed during a delivery
    };

    std::recursive_mutex m_mutex;
    std::vector<Receiver> m_receivers;
    bool m_delivering = false;
    bool m_halted = false;
    bool m_dirty = false;
};

} // namespace Vyx::genicam
