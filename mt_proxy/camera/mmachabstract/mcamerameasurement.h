#pragma once
// One camera measurement: the image receiver that, for every frame on the camera thread,
// copies the clipped image into a free block of the target image FIFO and writes one
// measurand line (one double per axis) into the measurand FIFO, filling in lines for frames
// the camera lost. Errors are kept as a code for the command thread to report; the callback
// never talks to a client and allocates nothing.
//
// The machine prepares a Setup and starts and stops the measurement from its command thread;
// the callback runs between Start and Stop. Error and remaining images are shared with the
// command thread; everything else in the context belongs to the callback while it runs.

#include "msl/mipc/mstopwatch.h"
#include "mt_proxy/camera/mmachabstract/mcameracallbackclock.h"
#include "platform/vyx/cimgbuffer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class CSensor;
class MClientNotifier;

// Measurement error codes.
enum : int32_t {
    kMeasurementOk = 0,
    kMeasurementRingbufferOverflow = 1,
    kMeasurementMeasurandfifoOverflow = 2,
    kMeasurementBlocksTooSmall = 3,
    kMeasurementNoImages = 4,
    kMeasurementCameraError = 5,
    kMeasurementInvalidImage = 6,
    kMeasurementRingbufferDamaged = 7,
};

class MCameraMeasurement {
public:
    static constexpr size_t kNoColumn = ~size_t{0};

    // What the measurement writes and where; column numbers are axis indexes.
    struct Setup {
        void* ringBuffer64 = nullptr;  // the target image FIFO, or none of the two
        void* ringBuffer32 = nullptr;  // (images are then dropped)
        size_t segmentSize = 0;        // of the FIFO's segment: the header must fit it
        void* measurandFifo = nullptr; // linked line FIFO of one double per axis
        size_t clock = kNoColumn;
        size_t time = kNoColumn;
        size_t lock = kNoColumn;
        size_t imageIndex = kNoColumn;
        size_t triggerCount = kNoColumn;
        size_t temperature = kNoColumn; // kNoColumn: not written
        double timeAccuracy = 0.0;
        uint32_t images = 0;
    };

    // `clock` and `notifier` outlive the measurement.
    MCameraMeasurement(MCameraCallbackClock& clock, MClientNotifier* notifier)
        : callbackClock(clock), notifier(notifier) {}
    ~MCameraMeasurement();

    // Takes the setup and registers the callback at `sensor`; false (and nothing registered)
    // when the sensor refuses it or a measurement is running.
    bool Start(CSensor* sensor, const Setup& setup);
    // Removes the callback from `sensor`, the sensor it was registered at, and ends the
    // measurement. Afterwards the measurement is never registered, so that the next Start
    // works even when the removal failed (a callback the sensor does not have is not called).
    bool Stop(CSensor* sensor);
    // Stop, but the measurement stays held (IsHeld) until Stop: its command has not seen the
    // end yet and may still hand out its lines.
    bool Detach(CSensor* sensor);
    // Stop without a word to the error trace (the machine is closing).
    void Abandon(CSensor* sensor);
    bool IsRegistered() const { return registered; }
    bool IsHeld() const { return held; }
    // Counts the measurements started: a command's measurement is the current one while the
    // number it got at its start is still this one.
    uint64_t Number() const { return startCount; }

    int32_t Error() const { return error.load(std::memory_order_acquire); }
    void SetError(int32_t code) { error.store(code, std::memory_order_release); }
    uint32_t Remaining() const { return remaining.load(std::memory_order_acquire); }
    // The image FIFO of the last measurement (null, null when it kept no images).
    const Setup& GetSetup() const { return setup; }

    // The text of a measurement error code, null for 0.
    static const char* ErrorText(int32_t code);
    // Copies the clip rectangle of `image` into `block` row after row without gaps; the
    // bytes copied, or 0 when they would not fit `blockSize`.
    static size_t CopyClipped(const Vyx::CImgBuffer& image, uint8_t* block, size_t blockSize);

    MCameraMeasurement(const MCameraMeasurement&) = delete;
    MCameraMeasurement& operator=(const MCameraMeasurement&) = delete;

private:
    static void Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags);
    void OnFrame(const Vyx::CImgBuffer& image);
    // Writes the lines for one frame; false when an error was set.
    bool write_lines(const Vyx::CImgBuffer& image);
    // A block of the target FIFO holding the image: its number, 0 after an error.
    size_t store_image(const Vyx::CImgBuffer& image);
    void notify();

    MCameraCallbackClock& callbackClock;
    MClientNotifier* notifier;
    Setup setup;
    size_t blockSize = 0;
    double clock = 0.0;
    uint32_t expectedCounter = 0;
    std::atomic<int32_t> error{kMeasurementOk};
    std::atomic<uint32_t> remaining{0};
    bool registered = false;
    bool held = false; // from Start to Stop
    uint64_t startCount = 0;
    bool woken = false; // the host heard of this measurement's lines at least once
    MStopwatch sinceNotification;
};
