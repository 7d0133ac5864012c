#pragma once
// A recording played back as the simulated camera's frames: the images, frame counters, time
// stamps and temperatures of a scan as a recorder wrote them (recording.ini beside one PGM file
// per image; recordings/README.md describes the format). Everything is read and converted once
// at Initialize, so playing a frame hands out a pointer.
//
// The camera delivers a frame for every line the module stored an image for. A counter the
// recording skips (the camera lost that frame) is skipped again, so the module fills in its
// "lock" 1 line as it did when recording; any other "lock" 1 line becomes a frame without
// pixels. Passes after the first continue the counters and time stamps where the recording
// ends, as if the camera had kept running.

#include <cstdint>
#include <string>
#include <vector>

namespace Vyx::sim {

// What the camera takes over from a recording: its sensor, pixel format and frame rate.
struct RecordingInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pixelFormat = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t bytesPerPixel = 0;
    double frameRate = 0;
    bool temperature = false; // the lines carry the camera temperature
    double firstTemperature = 0;
};

// Reads [Recording] of dir/recording.ini; false with a reason naming the file and the key.
bool ReadRecordingInfo(const std::string& dir, RecordingInfo& info, std::string& error);

struct ReplayFrame {
    uint32_t counter = 0;            // in the first pass
    uint64_t timeUs = 0;             // in the first pass, microseconds
    double celsius = 0;              // when the recording has temperatures
    const uint8_t* pixels = nullptr; // a full frame, little-endian samples; null: none
    bool afterLoss = false;          // counters were skipped just before this frame
};

class SimReplay {
public:
    // Reads the whole recording; false with the reason (nothing is kept then).
    bool Load(const std::string& dir, std::string& error);
    void Release();

    const RecordingInfo& Info() const { return m_info; }
    size_t Size() const { return m_frames.size(); }
    const ReplayFrame& Frame(size_t index) const { return m_frames[index]; }

    // Frame index of pass `pass` (0 first), with its counter and time stamp there.
    uint32_t Counter(size_t index, uint64_t pass) const;
    uint64_t TimeUs(size_t index, uint64_t pass) const;
    // Nanoseconds from frame index to the next one; after the last, to the next pass's first.
    int64_t GapAfterNs(size_t index) const;
    // One frame period of the recording, in nanoseconds.
    int64_t PeriodNs() const { return m_periodNs; }

private:
    RecordingInfo m_info;
    std::vector<ReplayFrame> m_frames;
    std::vector<uint8_t> m_pixels;
    uint64_t m_counterSpan = 1; // counters one pass takes
    uint64_t m_timeSpanUs = 0;  // time one pass takes, its last frame period included
    int64_t m_periodNs = 20000000;
    int64_t m_periodUs = 20000;
};

} // namespace Vyx::sim
