#include "mt_proxy/camera/mmachabstract/mcamerameasurement.h"

#include "csensor/sensors/csensor.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/mmemlinefifo.h"
#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "mt_proxy/camera/mmachabstract/mcameraframe.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cstring>

namespace {

// The host hears of new lines at most this often while images keep coming.
constexpr double kNotifyInterval = 0.05;

// Frame counters run from 1 to 2^32 - 1 and then start at 1 again: 0 marks broken frames.
constexpr uint64_t kCounterRange = 0xFFFFFFFFull;

// The lines one frame stands for when `expected` was due: the frames lost before it and its
// own, counted across a wrap of the counter. A counter more than half the range ahead lies
// behind instead, and gives one line for the expected counter.
uint64_t LinesForFrame(uint32_t expected, uint32_t counter) {
    const uint64_t ahead = (uint64_t{counter} + kCounterRange - expected) % kCounterRange;
    return ahead < kCounterRange / 2 ? ahead + 1 : 1;
}

} // namespace

MCameraMeasurement::~MCameraMeasurement() = default;

bool MCameraMeasurement::Start(CSensor* sensor, const Setup& newSetup) {
    if (registered) {
        MERRTRACE("StartCameraMeasurement(): a measurement is already running");
        return false;
    }
    setup = newSetup;
    blockSize = setup.ringBuffer64 != nullptr ? MMemBlockRingBuffer_GetBlockSize(setup.ringBuffer64)
                : setup.ringBuffer32 != nullptr
                    ? MMemBlockRingBuffer32_GetBlockSize(setup.ringBuffer32)
                    : 0;
    clock = 0.0;
    expectedCounter = 0;
    woken = false; // the first frame wakes the host, however soon it comes
    ++startCount;
    error.store(kMeasurementOk);
    remaining.store(setup.images);
    callbackClock.Restart();
    const CImageReceiver receiver{&MCameraMeasurement::Callback, this};
    if (sensor == nullptr || !sensor->SetPropertyData(0, &receiver)) {
        remaining.store(0);
        MERRTRACE("StartCameraMeasurement(): failed to register callback");
        return false;
    }
    registered = held = true;
    MTRACE(3, "StartCameraMeasurement(): camera measurement started");
    return true;
}

bool MCameraMeasurement::Stop(CSensor* sensor) {
    held = false;
    return Detach(sensor);
}

bool MCameraMeasurement::Detach(CSensor* sensor) {
    if (!registered) {
        remaining.store(0);
        return true; // stopped already, by the machine or an earlier call
    }
    registered = false;
    const CImageReceiver receiver{&MCameraMeasurement::Callback, this};
    const bool removed = sensor != nullptr && sensor->SetPropertyData(1, &receiver);
    // Only now: a frame handled until the removal may still have counted down.
    remaining.store(0);
    if (!removed) {
        MERRTRACE("StopCameraMeasurement(): failed to unregister callbacks");
        return false;
    }
    MTRACE(3, "StopCameraMeasurement(): camera measurement stopped");
    return true;
}

void MCameraMeasurement::Abandon(CSensor* sensor) {
    MErrTrace_BeginContext();
    Stop(sensor);
    MErrTrace_ClearContext();
    MErrTrace_EndContext();
}

const char* MCameraMeasurement::ErrorText(int32_t code) {
    switch (code) {
    case kMeasurementOk:
        return nullptr;
    case kMeasurementRingbufferOverflow:
        return "ringbuffer overflow";
    case kMeasurementMeasurandfifoOverflow:
        return "measurandfifo overflow";
    case kMeasurementBlocksTooSmall:
        return "ringbuffer blocks too small";
    case kMeasurementNoImages:
        return "no images from camera";
    case kMeasurementCameraError:
        return "camera error";
    case kMeasurementInvalidImage:
        return "invalid image received";
    case kMeasurementRingbufferDamaged:
        return "ringbuffer damaged";
    default:
        MERRLOG("GetMeasurementError(): unknown error: %d", code);
        return "unknown measurement error";
    }
}

size_t MCameraMeasurement::CopyClipped(const Vyx::CImgBuffer& image, uint8_t* block,
                                       size_t capacity) {
    const size_t bpp = image.bytesPerPixel;
    const size_t pitchBytes = image.rowPitch * bpp;
    const size_t rows = image.clipHeight != 0 ? image.clipHeight : image.rows;
    const size_t rowBytes = (image.clipWidth != 0 ? image.clipWidth : image.rowPitch) * bpp;
    if (rowBytes * rows > capacity)
        return 0;
    const uint8_t* source = image.pixels + bpp * (image.offsetX + image.rowPitch * image.offsetY);
    if (rowBytes == pitchBytes) {
        std::memcpy(block, source, rowBytes * rows); // whole rows lie back to back already
    } else {
        for (size_t row = 0; row < rows; ++row)
            std::memcpy(block + row * rowBytes, source + row * pitchBytes, rowBytes);
    }
    return rowBytes * rows;
}

void MCameraMeasurement::Callback(void* context, const Vyx::CImgBuffer* image, uint32_t) {
    static_cast<MCameraMeasurement*>(context)->OnFrame(*image);
}

void MCameraMeasurement::OnFrame(const Vyx::CImgBuffer& image) {
    callbackClock.Restart();
    if (Error() != kMeasurementOk || Remaining() == 0)
        return;
    if (!write_lines(image)) {
        notify(); // every error at once
        return;
    }
    if (woken && sinceNotification.Elapsed() < kNotifyInterval && Remaining() > 0)
        return;
    notify();
}

bool MCameraMeasurement::write_lines(const Vyx::CImgBuffer& image) {
    const double time = MCameraFrame_Time(image);
    const uint32_t counter = image.frameCounter;
    uint64_t lines = 0; // known once the expected counter is
    for (uint64_t written = 0;;) {
        auto* line = static_cast<double*>(MMemLineFifo_GetWritePointer(setup.measurandFifo));
        if (line == nullptr) {
            MERRLOG("MeasurementCallback(): MMemLineFifo_GetWritePointer() failed");
            SetError(kMeasurementMeasurandfifoOverflow);
            return false;
        }
        line[setup.clock] = clock;
        clock += 1.0;
        line[setup.time] = time;
        if (expectedCounter == 0)
            expectedCounter = counter;
        if (counter == 0) {
            SetError(image.pixels != nullptr ? kMeasurementInvalidImage : kMeasurementCameraError);
            return false;
        }
        if (lines == 0)
            lines = LinesForFrame(expectedCounter, counter);
        if (setup.temperature != kNoColumn)
            line[setup.temperature] = MCameraFrame_Temperature(image);
        size_t block = 0;
        if (expectedCounter == counter && image.pixels != nullptr) {
            if (setup.ringBuffer64 != nullptr || setup.ringBuffer32 != nullptr) {
                block = store_image(image);
                if (block == 0)
                    return false;
            }
            line[setup.lock] = 0.0;
        } else {
            line[setup.lock] = 1.0; // stands for a frame that was lost or did not match
        }
        line[setup.imageIndex] = static_cast<double>(block);
        line[setup.triggerCount] = static_cast<double>(expectedCounter);
        if (!MMemLineFifo_IncWritePointer(setup.measurandFifo)) {
            MERRLOG("MeasurementCallback(): MMemLineFifo_IncWritePointer() failed");
            SetError(kMeasurementMeasurandfifoOverflow);
            return false;
        }
        MTRACE(5, "%s(): copied image %u (%f) to slot %zu",
               "MCameraMachAbstract::MeasurementCallback", counter, time, block);
        uint32_t left = Remaining();
        if (left > 0)
            remaining.store(--left, std::memory_order_release);
        if (++expectedCounter == 0)
            expectedCounter = 1;
        if (++written == lines || left == 0)
            return true;
    }
}

size_t MCameraMeasurement::store_image(const Vyx::CImgBuffer& image) {
    void* const ring64 = setup.ringBuffer64;
    void* const ring32 = setup.ringBuffer32;
    const auto blockSize32 = static_cast<uint32_t>(blockSize);
    // Clients map the FIFO writable: its header is checked against the segment before a block
    // is written.
    void* block =
        ring64 != nullptr
            ? MMemBlockRingBuffer_GetWritePointerWithin(ring64, setup.segmentSize, blockSize)
            : MMemBlockRingBuffer32_GetWritePointerWithin(ring32, setup.segmentSize, blockSize32);
    if (block == nullptr &&
        !(ring64 != nullptr
              ? MMemBlockRingBuffer_FitsSegment(ring64, setup.segmentSize, blockSize)
              : MMemBlockRingBuffer32_FitsSegment(ring32, setup.segmentSize, blockSize32))) {
        MERRLOG("%s(): the ring buffer's header no longer fits its segment of %zu bytes",
                "MCameraMachAbstract::MeasurementCallback", setup.segmentSize);
        SetError(kMeasurementRingbufferDamaged);
        return 0;
    }
    if (block == nullptr) {
        MERRLOG("%s(): MMemBlockRingBuffer_GetWritePointer() failed",
                "MCameraMachAbstract::MeasurementCallback");
        SetError(kMeasurementRingbufferOverflow);
        return 0;
    }
    const size_t number = setup.ringBuffer64 != nullptr
                              ? MMemBlockRingBuffer_GetIndex(setup.ringBuffer64, block)
                              : MMemBlockRingBuffer32_GetIndex(setup.ringBuffer32, block);
    // The clip may have grown since the start: never write past the block.
    if (CopyClipped(image, static_cast<uint8_t*>(block), blockSize) == 0) {
        if (setup.ringBuffer64 != nullptr)
            MMemBlockRingBuffer_Release(setup.ringBuffer64, number);
        else
            MMemBlockRingBuffer32_Release(setup.ringBuffer32, static_cast<uint32_t>(number));
        SetError(kMeasurementBlocksTooSmall);
        return 0;
    }
    return number;
}

void MCameraMeasurement::notify() {
    if (notifier != nullptr)
        notifier->WakeUp();
    woken = true;
    sinceNotification.Restart();
}
