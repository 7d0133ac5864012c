#pragma once
// One acquisition of the GenICam camera, from Grab to Freeze: an Aravis stream with a pool of
// buffers, whose thread hands every finished buffer to the registered callbacks without
// copying and gives it back to the stream.
//
// Frames are numbered and stamped by CFrameNumbering and CFrameClock. A buffer that arrives
// incomplete, with an error status or not as an image of the expected format becomes a broken
// frame (no pixels, counter 0), or is counted as lost when the configuration says so.

#include "platform/vyx/cimgbuffer.h"
#include "platform/vyx/cstreamstatistics.h"
#include "platform/vyx/genicam/genicamframes.h"
#include "platform/vyx/genicam/genicampixelformat.h"
#include "platform/vyx/genicam/genicamreceivers.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct _ArvCamera ArvCamera;
typedef struct _ArvStream ArvStream;
typedef struct _ArvBuffer ArvBuffer;

namespace Vyx::genicam {

// Frame records handed to the callbacks; each stays unchanged for this many further frames.
constexpr size_t kRecordCount = 16;
using FrameRecords = std::array<CImgBuffer, kRecordCount>;

// How a GigE Vision stream receives; other streams have no such choices.
struct NetworkOptions {
    uint32_t socketBufferBytes = 0; // 0: one frame
    bool packetResend = true;
    size_t frameBytes = 0;
    std::string description; // what else was chosen for the stream, for its statistics
};

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
    NetworkOptions network;
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

    // What the stream's thread reports (an ArvStreamCallbackType).
    void OnStreamEvent(int type);

    // The figures of a GigE Vision stream so far, with its setup as the stream reports it;
    // false for other streams.
    bool Statistics(CStreamStatistics& statistics) const;

private:
    explicit CGenicamSession(const SessionSetup& setup);
    // Where the image lies in a buffer.
    struct Image {
        const uint8_t* pixels = nullptr; // null: no usable image
        uint64_t rowPitch = 0, width = 0, height = 0;
    };
    void Handle(ArvBuffer* buffer);
    Image Describe(ArvBuffer* buffer) const;

    SessionSetup m_setup;
    // Set once the stream exists; its thread reads it without a lock that sanitizers can see.
    std::atomic<ArvStream*> m_stream{nullptr};
    std::atomic<bool> m_deliverable{true};

    // The stream's thread only.
    CFrameNumbering m_numbering;
    CFrameClock m_clock;
    size_t m_nextRecord = 0;
};

} // namespace Vyx::genicam
