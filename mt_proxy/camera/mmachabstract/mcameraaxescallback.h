#pragma once
// The camera machine's permanent image receiver: for every frame, also between measurements,
// it writes the frame counter, the frame time and the camera temperature into the axes
// "trigger_count", "time" and "temp_camera", and it notes broken frames, which the machine
// reports as "resync needed" when the server next polls for asynchronous errors.

#include "mt_proxy/camera/mmachabstract/mcameraaxes.h"
#include "platform/vyx/cimgbuffer.h"

#include <atomic>
#include <cstddef>

class CSensor;
class MClientNotifier;

class MCameraAxesCallback {
public:
    // `axes` and `notifier` outlive this object.
    MCameraAxesCallback(MCameraAxes& axes, MClientNotifier* notifier)
        : axes(axes), notifier(notifier) {}

    // Registers the receiver at `sensor`, after taking away an earlier registration. Failures
    // are written to the error log; the machine then works without these updates.
    void Install(CSensor* sensor);
    // Takes the receiver away from `sensor` (quietly when it is not there).
    void Remove(CSensor* sensor);
    // True once after one or more broken frames arrived.
    bool TakeCameraError() { return cameraError.exchange(false); }

    MCameraAxesCallback(const MCameraAxesCallback&) = delete;
    MCameraAxesCallback& operator=(const MCameraAxesCallback&) = delete;

private:
    static void Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags);

    MCameraAxes& axes;
    MClientNotifier* notifier;
    // Written on the command thread while an earlier registration may still be delivering.
    std::atomic<size_t> triggerCountIndex{MCameraAxes::kNoAxis};
    std::atomic<size_t> timeIndex{MCameraAxes::kNoAxis};
    std::atomic<size_t> temperatureIndex{MCameraAxes::kNoAxis};
    std::atomic<bool> cameraError{false};
};
