#pragma once
// One acquisition of the GenICam camera, from Grab to Freeze: an Aravis stream with a pool of
// buffers, whose thread hands every finished buffer to the registered callbacks without
// copying and gives it back to the stream.
//
// Frames are numbered and stamped by CFrameNumbering and CFrameClock. A buffer that arrives
// incomplete, with an error status or not as an image of the expected format becomes a broken
// frame (no pixels, counter 0), or is counted as lost when the configuration says so.

#include "platform/vyx/cimgbuffer.h"
#include "platform/vyx/genicam/genicamframes.h"
#include "platform/vyx/genicam/genicampixelformat.h"
#include "platform/vyx/genicam/genicamreceivers.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

typedef struct _ArvCamera ArvCamera;
typedef struct _ArvStream ArvStream;
typedef struct _ArvBuffer ArvBuffer;

namespace Vyx::genicam {

// Frame records handed to the callbacks; each stays unchanged for this many further frames.
constexpr size_t kRecordCount = 16;
using FrameRecords = std::array<CImgBuffer, kRecordCount>;

struct SessionSetup {
    ArvCamera* camera = nullptr;    // borrowed
    std::vector<uint8_t*> memory;   // one block per stream buffer, kept by the camera object
    size_t bufferBytes = 0;         // size of each block (at least the payload)
    uint32_t width = 0, height = 0; // the image the camera was told to send
    const PixelFormatInfo* format = nullptr;
    bool incompleteAsLost = false;
    CGenicamReceivers* receivers = nullptr; // borrowed
    FrameRecords* records = nullptr;        // borrowed, kept by the camera object
    // The camera temperature for the frames, when the camera has one; called on the stream's
    // thread, it must not block.
    std::function<bool(double& celsius)> temperature;
};

struct SessionStats {
    uint64_t delivered = 0; // frames handed to the callbacks, broken ones included
    uint64_t broken = 0;
    uint64_t lost = 0;
    uint64_t late = 0;
};

class CGenicamSession {
public:
    // Creates the stream and fills it with buffers; the camera is not started. Null with the
    // reason on failure.
    static std::unique_ptr<CGenicamSession> Create(const SessionSetup& setup, std::string& error);
    // Ends the stream's thread. Not on that thread.
    ~CGenicamSession();
    CGenicamSession(const CGenicamSession&) = delete;
    CGenicamSession& operator=(const CGenicamSession&) = delete;

    // From now on no frame reaches the callbacks; on another thread, a frame being delivered
    // has reached them all when this returns.
    void Halt();
    bool OnStreamThread() const { return std::this_thread::get_id() == m_threadId.load(); }
    SessionStats Stats() const;

    // What the stream's thread reports (an ArvStreamCallbackType).
    void OnStreamEvent(int type);

private:
    explicit CGenicamSession(const SessionSetup& setup);
    void Handle(ArvBuffer* buffer);
    // Fills the next record; false when the buffer holds no usable image.
    bool Describe(ArvBuffer* buffer, CImgBuffer& record) const;

    SessionSetup m_setup;
    // Set once the stream exists; its thread reads it without a lock that sanitizers can see.
    std::atomic<ArvStream*> m_stream{nullptr};
    std::atomic<bool> m_deliverable{true};
    std::atomic<std::thread::id> m_threadId{};

    // The stream's thread only.
    CFrameNumbering m_numbering;
    CFrameClock m_clock;
    size_t m_nextRecord = 0;

    std::atomic<uint64_t> m_delivered{0};
    std::atomic<uint64_t> m_broken{0};
    std::atomic<uint64_t> m_lost{0};
    std::atomic<uint64_t> m_late{0};
};

} // namespace Vyx::genicam
