#include "platform/vyx/genicam/genicamframes.h"

#include "platform/vyx/cimgbuffer.h"

namespace Vyx::genicam {

namespace {

constexpr uint64_t kBlockIdRange = 65535; // GigE Vision block ids 1..65535

} // namespace

int64_t FrameIdDistance(uint64_t from, uint64_t to) {
    if (from >= 1 && from <= kBlockIdRange && to >= 1 && to <= kBlockIdRange) {
        const uint64_t ahead = (to + kBlockIdRange - from) % kBlockIdRange;
        return ahead > kBlockIdRange / 2 ? static_cast<int64_t>(ahead) - int64_t(kBlockIdRange)
                                         : static_cast<int64_t>(ahead);
    }
    return static_cast<int64_t>(to - from);
}

uint32_t FrameCounterOf(uint64_t index) {
    return static_cast<uint32_t>((index - 1) % 0xFFFFFFFFull + 1);
}

CFrameNumbering::Frame CFrameNumbering::Complete(uint64_t frameId) {
    Frame frame;
    uint64_t index = 0;
    if (!m_started) {
        // Frames that came broken before the first whole one were exposures too.
        index = m_brokenSince + 1;
        m_started = true;
    } else {
        const int64_t distance = FrameIdDistance(m_lastId, frameId);
        if (distance <= 0) {
            ++m_late;
            return frame;
        }
        const uint64_t skipped = static_cast<uint64_t>(distance) - 1;
        if (skipped > m_brokenSince) {
            frame.flags |= ImgFlag_FramesLost;
            m_lost += skipped - m_brokenSince;
        }
        index = m_lastIndex + static_cast<uint64_t>(distance);
    }
    m_lastId = frameId;
    m_lastIndex = index;
    m_brokenSince = 0;
    frame.deliver = true;
    frame.counter = FrameCounterOf(index);
    return frame;
}

CFrameNumbering::Frame CFrameNumbering::Incomplete() {
    ++m_incomplete;
    Frame frame;
    if (m_incompleteAsLost)
        return frame;
    ++m_brokenSince;
    frame.deliver = true;
    frame.flags = ImgFlag_NoPixels;
    return frame;
}

uint64_t CFrameClock::Stamp(uint64_t cameraNs, uint64_t arrivalNs) {
    if (cameraNs == 0)
        return arrivalNs;
    if (!m_anchored || cameraNs < m_lastCameraNs) {
        m_offsetNs = static_cast<int64_t>(arrivalNs - cameraNs);
        m_anchored = true;
    }
    m_lastCameraNs = cameraNs;
    return cameraNs + static_cast<uint64_t>(m_offsetNs);
}

} // namespace Vyx::genicam
