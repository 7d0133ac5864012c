#include "mt_proxy/camera/mmachabstract/mcamerapreviewmemory.h"

#include "msl/mipc/msharedmem.h"
#include "mt_proxy/camera/mmachabstract/mcameraframe.h"
#include "mt_proxy/camera/mmachabstract/mcamerameasurement.h"

#include <cstring>

MCameraPreviewMemory::~MCameraPreviewMemory() {
    close_event(event);
    if (segment != nullptr)
        MSharedMem_Unlink(segment);
}

void MCameraPreviewMemory::Callback(void* context, const Vyx::CImgBuffer* image, uint32_t) {
    static_cast<MCameraPreviewMemory*>(context)->OnFrame(*image);
}

void MCameraPreviewMemory::OnFrame(const Vyx::CImgBuffer& image) {
    callbackClock.Restart();
    const bool first = !firstImageSeen.load(std::memory_order_relaxed);
    if (!first) {
        if (static_cast<uint32_t>(interval->Elapsed() * 1000.0) < minIntervalMs)
            return;
        if (wait_for_event(event, 0))
            return; // the client has not taken the last image yet
    }
    if (image.pixels != nullptr) {
        // The clip rectangle, its rows packed, where the machine placed it.
        {
            std::lock_guard<std::mutex> guard(segmentLock);
            if (offset < segmentSize)
                MCameraMeasurement::CopyClipped(image, segment + offset, segmentSize - offset);
        }
        wake_up_clients(event);
        interval->Restart();
    } else if (image.frameCounter == 0) {
        cameraError.store(true, std::memory_order_release);
    }
    // Only now: the start waiting for the first image returns once it is in the segment.
    if (first)
        firstImageSeen.store(true, std::memory_order_release);
}

void MCameraPreviewMemory::Clear(uint32_t pictureOffset) {
    std::lock_guard<std::mutex> guard(segmentLock);
    offset = pictureOffset;
    if (segment != nullptr)
        std::memset(segment, 0, segmentSize);
}
