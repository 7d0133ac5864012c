#pragma once
// Frame counters and time stamps of a GenICam camera's frames, as the camera library hands
// them out: counters count from 1 at Grab and jump where the camera's frame ids jump, time
// stamps are nanoseconds on the host's monotonic clock. One pair of objects per acquisition,
// used on the stream's thread only.

#include <cstdint>

namespace Vyx::genicam {

// Signed distance from frame id `from` to frame id `to`. Ids that both fit in 16 bits are
// taken as GigE Vision block ids, which count 1 to 65535 and then start again at 1 (0 is
// never used): a distance of more than half that range is a step back. Other ids (USB3
// Vision, GigE Vision extended ids) are plain 64-bit counts.
int64_t FrameIdDistance(uint64_t from, uint64_t to);

// The 32-bit frame counter of the index-th exposure since Grab (index from 1); it skips 0,
// which marks broken frames.
uint32_t FrameCounterOf(uint64_t index);

class CFrameNumbering {
public:
    struct Frame {
        bool deliver = false; // false: a frame that arrived after a later one (already counted)
        uint32_t counter = 0; // 0: broken
        uint32_t flags = 0;   // ImgFlag_ bits
    };

    // incompleteAsLost: incomplete frames are not delivered but counted as lost.
    explicit CFrameNumbering(bool incompleteAsLost) : m_incompleteAsLost(incompleteAsLost) {}

    // A complete frame and the camera's id of it.
    Frame Complete(uint64_t frameId);
    // A frame that arrived incomplete or with an error status. Its id is not used: a buffer
    // whose leader was lost still carries the id of the frame it held before.
    Frame Incomplete();

    uint64_t LostFrames() const { return m_lost; } // exposures neither delivered nor broken
    uint64_t LateFrames() const { return m_late; } // complete frames behind a later one
    uint64_t Incompletes() const { return m_incomplete; }

private:
    bool m_incompleteAsLost;
    bool m_started = false;
    uint64_t m_lastId = 0;      // camera id of the last counted complete frame
    uint64_t m_lastIndex = 0;   // its exposure index since Grab
    uint64_t m_brokenSince = 0; // broken frames delivered since then
    uint64_t m_lost = 0;
    uint64_t m_late = 0;
    uint64_t m_incomplete = 0;
};

// Camera time stamps (their own clock, in nanoseconds) moved onto the host's monotonic clock:
// the first stamped frame of an acquisition fixes the offset, so later frames keep the
// camera's exact spacing. A frame without a stamp gets its arrival time; a camera clock that
// runs backwards (a reset) fixes the offset anew.
class CFrameClock {
public:
    uint64_t Stamp(uint64_t cameraNs, uint64_t arrivalNs);

private:
    bool m_anchored = false;
    uint64_t m_lastCameraNs = 0;
    int64_t m_offsetNs = 0;
};

} // namespace Vyx::genicam
