// The camera machine's measurements: starting and stopping the image callback, the state the
// scan commands poll, and the measurand lines they hand to the server.

#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "lintel/server/commands/moutputchannel.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/msharedmem.h"
#include "mt_proxy/camera/mmachabstract/mcamerascancommands.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <algorithm>
#include <mutex>

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
    if (!measurement.IsRegistered())
        measurement.SetError(kMeasurementOk);
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
    // The receivers are the camera's: after a change of probesystem the current sensor may be
    // another one, which would only pretend to remove the measurement's receiver.
    CSensor* camera = find_camera_sensor();
    return measurement.Stop(camera != nullptr ? camera : probeManager.GetSensor());
}

bool MCameraMachAbstract::IsCameraMeasurementDone() {
    const int32_t error = measurement.Error();
    if (error == kMeasurementCameraError && measurement.TakeResyncReport()) {
        // The permanent axes callback saw the same frame: one event for both.
        axesCallback.TakeCameraError();
        if (channel != nullptr)
            channel->Event(std::string("resync needed"));
    }
    if (measurement.Remaining() > 0 && error == kMeasurementOk) {
        if (!is_camera_timed_out())
            return false;
        measurement.SetError(kMeasurementNoImages);
    }
    return true;
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
    MMemLineFifo_IncReadPointer(measurandFifo.get());
    axes.GetValues(scandataAxes, values);
    return true;
}

bool MCameraMachAbstract::ReleaseImageBlock(uint64_t number) {
    const MMachImagefifo* fifo = GetActiveImageFifo();
    if (fifo == nullptr)
        return false;
    if (fifo->ringBuffer64 != nullptr)
        return MMemBlockRingBuffer_Release(fifo->ringBuffer64, static_cast<size_t>(number)) == 1;
    return number <= UINT32_MAX &&
           MMemBlockRingBuffer32_Release(fifo->ringBuffer32, static_cast<uint32_t>(number)) == 1;
}
