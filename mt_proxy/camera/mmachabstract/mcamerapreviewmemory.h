#pragma once
// One preview memory: camera images, at most one per minimum interval, copied into a named
// shared-memory segment for a client process that draws the picture itself. After each image
// the named event "<segment>.event" is signalled; the client resets it once it took the
// image, and while it is signalled no new image is written, so a slow client never slows the
// camera: frames are dropped instead.
//
// The machine owns the record and does the starting and stopping; the image receiver below
// runs on the camera thread while the record is registered at the sensor.

#include "msl/mipc/mstopwatch.h"
#include "mt_proxy/camera/mmachabstract/mcameracallbackclock.h"
#include "mt_proxy/camera/mmachabstract/mcameraevent.h"
#include "platform/vyx/cimgbuffer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class MOutputChannel;

class MCameraPreviewMemory {
public:
    // `clock` outlives the record; the camera lock guards it.
    explicit MCameraPreviewMemory(MCameraCallbackClock& clock) : callbackClock(clock) {}
    // Releases the event and the segment link if they are still held.
    ~MCameraPreviewMemory();

    // The receiver's pair, for SetPropertyData of the sensor.
    void* Context() { return this; }
    static void Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags);

    // Zeroes the whole segment (the picture no longer matches the camera's settings); the
    // pictures from now on start at byte `pictureOffset` of the segment.
    void Clear(uint32_t pictureOffset);
    uint32_t PictureOffset() const { return offset; }
    bool HasFirstImage() const { return firstImageSeen.load(std::memory_order_acquire); }
    bool HasCameraError() const { return cameraError.load(std::memory_order_acquire); }

    // Set up by the machine before the receiver is registered.
    uint8_t* segment = nullptr; // the view of the segment (its link), or none
    size_t segmentSize = 0;
    MOutputChannel* reply = nullptr; // of the command that started the preview
    uint32_t minIntervalMs = 0;
    MCameraEvent* event = nullptr;
    std::unique_ptr<MStopwatch> interval; // since the last image written
    bool registered = false;

    MCameraPreviewMemory(const MCameraPreviewMemory&) = delete;
    MCameraPreviewMemory& operator=(const MCameraPreviewMemory&) = delete;

private:
    void OnFrame(const Vyx::CImgBuffer& image);

    MCameraCallbackClock& callbackClock;
    std::atomic<bool> firstImageSeen{false};
    std::atomic<bool> cameraError{false};
    std::mutex segmentLock; // the camera thread's copy against Clear on the command thread
    uint32_t offset = 0;    // where the picture starts; guarded by segmentLock
};
