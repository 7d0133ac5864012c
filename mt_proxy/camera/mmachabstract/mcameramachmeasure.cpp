// The camera machine's measurements: starting and stopping the image callback, the state the
// scan commands poll, and the measurand lines they hand to the server.

#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "lintel/server/commands/moutputchannel.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/msharedmem.h"
#include "mt_proxy/camera/mmachabstract/mcamerascancommands.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr int32_t kWrongState = 18;
constexpr int32_t kCommandAlreadyActive = 19;
constexpr double kTwoTo64 = 18446744073709551616.0;

} // namespace

MMachScanCommand* MCameraMachAbstract::NewMMachScanCommand(MOutputChannel* out,
                                                           const MMachScanRequest& request) {
    return new MCameraScanCommand(out, request, this);
}

MMachScandataCommand*
MCameraMachAbstract::NewMMachScandataCommand(MOutputChannel* out,
                                             const std::vector<std::string>& names) {
    return new MCameraScandataCommand(out, names, this);
}

MMachScanpointCommand*
MCameraMachAbstract::NewMMachScanpointCommand(MOutputChannel* out,
                                              const MMachScanRequest& request) {
    return new MCameraScanpointCommand(out, request, this);
}

bool MCameraMachAbstract::AddScandataAxis(const std::string& axis) {
    const size_t index = axes.IndexOf(axis);
    if (index == MCameraAxes::kNoAxis)
        return false;
    scandataAxes.push_back(index);
    return true;
}

bool MCameraMachAbstract::StartCameraMeasurement(uint32_t images) {
    // An error left from an earlier measurement must not hide why this start fails.
    if (!measurement.IsRegistered()) {
        measurement.SetError(kMeasurementOk);
        // Lines of an earlier measurement that no command took: never this one's.
        DropMeasurandLines("MCameraMachAbstract::StartCameraMeasurement");
    }
    if (!HasActiveProbesystem()) {
        // The placeholder sensor would take the callback and never call it.
        MERRTRACE("StartCameraMeasurement(): no probesystem loaded");
        return false;
    }
    MCameraMeasurement::Setup setup;
    if (MMachImagefifo* fifo = GetActiveImageFifo()) {
        uint32_t width = 0, height = 0, bytesPerPixel = 0;
        if (!get_image_memory_info(GetActiveProbesystem(), width, height, bytesPerPixel)) {
            MERRTRACE("StartCameraMeasurement(): get_image_memory_info() failed");
            return false;
        }
        const size_t blockSize = fifo->ringBuffer64 != nullptr
                                     ? MMemBlockRingBuffer_GetBlockSize(fifo->ringBuffer64)
                                     : MMemBlockRingBuffer32_GetBlockSize(fifo->ringBuffer32);
        const size_t needed = size_t{width} * height * bytesPerPixel;
        if (blockSize < needed) {
            MERRTRACE("StartCameraMeasurement(): ringbuffer block size too small: %zu<%zu",
                      blockSize, needed);
            measurement.SetError(kMeasurementBlocksTooSmall);
            return false;
        }
        setup.ringBuffer64 = fifo->ringBuffer64;
        setup.ringBuffer32 = fifo->ringBuffer32;
        setup.segmentSize = MSharedMem_GetSize(fifo->ringBuffer64 != nullptr ? fifo->ringBuffer64
                                                                             : fifo->ringBuffer32);
    }
    const struct {
        const char* name;
        size_t& column;
        const char* missing;
    } columns[] = {
        {"clock", setup.clock, "StartCameraMeasurement(): clock axis is missing"},
        {"time", setup.time, "StartCameraMeasurement(): time axis is missing"},
        {"lock", setup.lock, "StartCameraMeasurement(): lock axis is missing"},
        {"trigger_count", setup.triggerCount,
         "StartCameraMeasurement(): trigger_count axis is missing"},
        {"imageindex", setup.imageIndex, "StartCameraMeasurement(): imageindex axis is missing"},
    };
    for (const auto& column : columns) {
        column.column = axes.IndexOf(column.name);
        if (column.column == MCameraAxes::kNoAxis) {
            MERRTRACE("%s", column.missing);
            return false;
        }
    }
    setup.timeAccuracy = axes.Find("time")->accuracy;
    const MMachAxis* temperature = axes.Find("temp_camera");
    if (temperature != nullptr && !(temperature->flags & MMachAxis::kUnavailable))
        setup.temperature = static_cast<size_t>(temperature->index);
    if (std::find(scandataAxes.begin(), scandataAxes.end(), setup.imageIndex) ==
        scandataAxes.end()) {
        MTRACE(4, "StartCameraMeasurement(): no imageindex given on scandata line. I start the "
                  "camera but drop the images");
        setup.ringBuffer64 = setup.ringBuffer32 = nullptr;
    }
    setup.measurandFifo = measurandFifo.get();
    setup.images = images;
    if (setup.measurandFifo == nullptr) {
        MERRTRACE("StartCameraMeasurement(): no measurand fifo (machine not open)");
        return false;
    }
    return measurement.Start(probeManager.GetSensor(), setup);
}

bool MCameraMachAbstract::StopCameraMeasurement() {
    // The current sensor is the one that took the callback: a change of probesystem ends the
    // measurement before the sensor changes (end_measurement).
    return measurement.Stop(probeManager.GetSensor());
}

void MCameraMachAbstract::end_measurement() {
    if (!measurement.IsRegistered())
        return;
    MTRACE(3, "%s(): the probesystem changes: the camera measurement ends",
           "MCameraMachAbstract::end_measurement");
    // Held until its command stops it: the FIFO stays the measurement's until then.
    if (!measurement.Detach(probeManager.GetSensor()))
        MERRTRACE("%s(): StopCameraMeasurement() failed", "MCameraMachAbstract::end_measurement");
}

bool MCameraMachAbstract::IsCameraMeasurementDone() {
    const int32_t error = measurement.Error();
    // The permanent axes callback saw the same broken frame: it goes out now unless an earlier
    // poll cycle's PollAsyncErrors sent it already.
    if (error == kMeasurementCameraError)
        send_resync_if_pending();
    if (measurement.Remaining() > 0 && error == kMeasurementOk) {
        if (!is_camera_timed_out())
            return false;
        measurement.SetError(kMeasurementNoImages);
    }
    return true;
}

void MCameraMachAbstract::send_resync_if_pending() {
    // One flag for every broken frame since the last report, however many there were and
    // whether a measurement or PollAsyncErrors asks first: one event per poll cycle.
    if (!axesCallback.TakeCameraError())
        return;
    // Worth a line whatever the trace level: the client has to restart the camera.
    MTRACE_ALWAYS("%s(): Camera error. Sending \"resync needed\" event",
                  "MCameraMachAbstract::PollAsyncErrors");
    if (channel != nullptr)
        channel->Event(std::string("resync needed"));
}

const char* MCameraMachAbstract::GetMeasurementError() {
    return MCameraMeasurement::ErrorText(measurement.Error());
}

bool MCameraMachAbstract::is_camera_timed_out() {
    return callbackClock.IsTimedOut();
}

bool MCameraMachAbstract::HasMeasurandLine() {
    return measurandFifo != nullptr && MMemLineFifo_GetNumLines(measurandFifo.get()) > 0;
}

bool MCameraMachAbstract::ReadMeasurandLine(std::vector<double>& values) {
    return read_measurand_line(&values, nullptr);
}

bool MCameraMachAbstract::read_measurand_line(std::vector<double>* values, double* block) {
    if (measurandFifo == nullptr)
        return false;
    const auto* line = static_cast<const double*>(MMemLineFifo_GetReadPointer(measurandFifo.get()));
    if (line == nullptr)
        return false;
    std::lock_guard<varn::ThreadMutex> guard(axes.Lock());
    // The measurement's columns become the axes' current values, the line is reported with
    // the scandata axes' values at that moment.
    double* current = axes.ValuesLocked();
    const size_t columns = std::min(firstProbeAxisIndex, axes.ValueCountLocked());
    std::copy(line, line + columns, current);
    const size_t imageColumn = measurement.GetSetup().imageIndex;
    if (block != nullptr)
        *block = imageColumn < columns ? line[imageColumn] : 0.0;
    MMemLineFifo_IncReadPointer(measurandFifo.get());
    if (values != nullptr)
        axes.GetValues(scandataAxes, *values);
    return true;
}

void MCameraMachAbstract::DropMeasurandLines(const char* caller) {
    // The blocks are in the FIFO the measurement wrote into, whichever is active now; none
    // when it kept no images.
    const MCameraMeasurement::Setup& setup = measurement.GetSetup();
    double block = 0.0;
    while (read_measurand_line(nullptr, &block)) {
        if (!(block >= 1.0 && block < kTwoTo64))
            continue; // the line stands for a frame without an image
        const auto number = static_cast<uint64_t>(block);
        if (setup.ringBuffer64 != nullptr)
            MMemBlockRingBuffer_Release(setup.ringBuffer64, static_cast<size_t>(number));
        else if (setup.ringBuffer32 != nullptr && number <= UINT32_MAX)
            MMemBlockRingBuffer32_Release(setup.ringBuffer32, static_cast<uint32_t>(number));
        else
            continue;
        MTRACE(5, "%s(): dropping unreachable image %llu", caller,
               static_cast<unsigned long long>(number));
    }
}

bool MCameraMachAbstract::IsMeasuringInto(const std::string& fifoName) {
    const MMachImagefifo* fifo = FindImageFifo(fifoName);
    if (fifo == nullptr || !(measurement.IsHeld() || HasMeasurandLine()))
        return false;
    const MCameraMeasurement::Setup& setup = measurement.GetSetup();
    // Both null: the measurement keeps no images, so this FIFO is not its.
    return (setup.ringBuffer64 != nullptr && setup.ringBuffer64 == fifo->ringBuffer64) ||
           (setup.ringBuffer32 != nullptr && setup.ringBuffer32 == fifo->ringBuffer32);
}

bool MCameraMachAbstract::RefuseFifoChange(const std::string& fifoName, bool relays,
                                           MOutputChannel* out, const char* keyword) {
    if (IsMeasuringInto(fifoName)) {
        // Re-laid or unmapped under the camera thread, the segment would take images the
        // lines then misname, or crash the writer.
        MERRLOG("IsDone() [%s]: a measurement writes into imagefifo %s", keyword,
                fifoName.c_str());
        out->Error(kCommandAlreadyActive);
        return true;
    }
    const MMachImagefifo* fifo = relays ? FindImageFifo(fifoName) : nullptr;
    const size_t used = fifo == nullptr                  ? 0
                        : fifo->ringBuffer64 != nullptr ? MMemBlockRingBuffer_GetNumUsed(fifo->ringBuffer64)
                                                         : MMemBlockRingBuffer32_GetNumUsed(fifo->ringBuffer32);
    if (used == 0)
        return false;
    // Laid out anew, the blocks would be handed out again while their readers still hold
    // them, and a reader's release would free another's image. A deleted FIFO is no danger:
    // its readers keep their mapping.
    MERRLOG("IsDone() [%s]: %zu blocks of imagefifo %s are still in use (release them, or "
            "delete the imagefifo)",
            keyword, used, fifoName.c_str());
    out->Error(kWrongState);
    return true;
}
