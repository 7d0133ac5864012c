#include "platform/vyx/genicam/genicamreceivers.h"

#include <algorithm>

namespace Vyx::genicam {

namespace {

thread_local bool t_inCallback = false;

} // namespace

bool CGenicamReceivers::InCallback() {
    return t_inCallback;
}

void CGenicamReceivers::Add(void* context, ImgStreamCallback callback) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_receivers.push_back({context, callback});
}

bool CGenicamReceivers::Remove(void* context, ImgStreamCallback callback) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (auto it = m_receivers.begin(); it != m_receivers.end(); ++it) {
        if (it->callback != callback || it->context != context)
            continue;
        if (m_delivering) {
            // Only the delivering thread gets here; its loop runs over the vector.
            it->callback = nullptr;
            m_dirty = true;
        } else {
            m_receivers.erase(it);
        }
        return true;
    }
    return false;
}

void CGenicamReceivers::Clear() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_delivering) {
        for (Receiver& receiver : m_receivers)
            receiver.callback = nullptr;
        m_dirty = true;
    } else {
        m_receivers.clear();
    }
}

bool CGenicamReceivers::Deliver(const CImgBuffer& image, uint32_t flags,
                                const std::atomic<bool>& deliverable) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // A Halt that took the lock first has the last word.
    if (!deliverable.load())
        return false;
    m_delivering = true;
    m_halted = false;
    t_inCallback = true;
    // By index: a callback may add receivers, which may move the vector.
    for (size_t i = 0; i < m_receivers.size() && !m_halted; ++i) {
        const Receiver receiver = m_receivers[i];
        if (receiver.callback != nullptr)
            receiver.callback(receiver.context, &image, flags);
    }
    t_inCallback = false;
    m_delivering = false;
    if (m_dirty) {
        std::erase_if(m_receivers, [](const Receiver& r) { return r.callback == nullptr; });
        m_dirty = false;
    }
    return true;
}

void CGenicamReceivers::Halt() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_delivering)
        m_halted = true;
}

} // namespace Vyx::genicam
