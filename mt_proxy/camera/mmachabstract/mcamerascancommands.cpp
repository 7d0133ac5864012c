#include "mt_proxy/camera/mmachabstract/mcamerascancommands.h"

#include "lintel/server/commands/moutputchannel.h"
#include "msl/merror/merrtracecontext.h"
#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t kInvalidArgument = 3;
constexpr int32_t kInvalidAxis = 4;
constexpr int32_t kInternalError = 16;
constexpr int32_t kNoContact = 42;
constexpr int32_t kMeasurementBegin = 3;
constexpr double kTwoTo64 = 18446744073709551616.0;

// The "time" target of a scan request; null (with error 4 written) for any other request.
const MMachScanTarget* TimeTarget(const MMachScanRequest& request, MOutputChannel* out,
                                  const char* keyword) {
    if (request.axes.size() != 1 || request.axes.begin()->first != "time") {
        MERRTRACE("IsDone() [%s]: invalid axis, only time is allowed", keyword);
        out->Error(kInvalidAxis);
        return nullptr;
    }
    return &request.axes.begin()->second;
}

double TimeAccuracy(MCameraMachAbstract* machine) {
    const MMachAxis* time = machine->FindAxis("time");
    return time != nullptr ? time->accuracy : 0.0;
}

// A start refused because of a measurement error (a block too small for the image) reports
// that error's text; any other failed start is an internal error.
void ReportFailedStart(MCameraMachAbstract* machine, MOutputChannel* out, const char* keyword) {
    MERRTRACE("IsDone() [%s]: StartMeasurement() failed", keyword);
    if (const char* error = machine->GetMeasurementError())
        out->Error(std::string(error));
    else
        out->Error(kInternalError);
}

} // namespace

// ---- scandata ----

bool MCameraScandataCommand::IsDone() {
    if (done)
        return true;
    done = true;
    machine->ClearScandataAxes();
    for (const std::string& axis : axes) {
        if (!machine->AddScandataAxis(axis)) {
            out->Error(kInvalidAxis);
            MERRLOG("IsDone() [%s]: unknown axis: %s", GetName(), axis.c_str());
            break;
        }
    }
    return true;
}

// ---- scan ----

MCameraScanCommand::~MCameraScanCommand() {
    Abort();
}

bool MCameraScanCommand::start() {
    const MMachScanTarget* target = TimeTarget(request, out, GetName());
    if (target == nullptr)
        return false;
    const double span =
        target->relative ? target->value : target->value - machine->GetAxisValue("time");
    const double accuracy = TimeAccuracy(machine);
    if (!(span >= accuracy)) {
        MERRTRACE("IsDone() [%s]: duration of measurement is smaller than accuracy: %g < %g",
                  GetName(), span, accuracy);
        out->Error(kInvalidArgument);
        return false;
    }
    // A span of exactly n frame periods is n images, whatever the rounding of the times.
    const double frames = std::floor(span / accuracy + 1e-9);
    const uint32_t images = frames >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(frames);
    if (!machine->StartCameraMeasurement(images)) {
        ReportFailedStart(machine, out, GetName());
        return false;
    }
    MTRACE(4, "IsDone() [%s]: camara started", GetName());
    started = true;
    return true;
}

bool MCameraScanCommand::IsDone() {
    if (done)
        return true;
    MErrTraceContext context(__FILE__);
    if (!started && !start()) {
        done = true;
        context.DumpToMErrLog(__LINE__, "IsDone() [%s] failed", GetName());
        return true;
    }
    if (!measurementBeginSent && machine->HasMeasurandLine()) {
        out->Event(kMeasurementBegin);
        measurementBeginSent = true;
    }
    if (!machine->IsCameraMeasurementDone())
        return false;
    if (const char* error = machine->GetMeasurementError()) {
        out->Error(std::string(error));
        Abort(); // stops, and frees what the client can no longer reach
        return true;
    }
    if (machine->HasMeasurandLine()) {
        machine->WakeUpClients(); // the server fetches the rest first
        return false;
    }
    if (!machine->StopCameraMeasurement()) {
        MERRTRACE("IsDone() [%s]: StopCameraMeasurement() failed", GetName());
        out->Error(kInternalError);
        context.DumpToMErrLog(__LINE__, "IsDone() [%s] failed", GetName());
    }
    done = true;
    return true;
}

void MCameraScanCommand::Abort() {
    if (done)
        return;
    if (started && !machine->StopCameraMeasurement()) {
        MERRTRACE("IsDone() [%s]: StopCameraMeasurement() failed", GetName());
        out->Error(kInternalError);
    }
    // Where a line carries its image's block number, if it does.
    const std::vector<size_t>& scandata = machine->GetScandataAxes();
    const MMachAxis* imageIndex = machine->FindAxis("imageindex");
    ptrdiff_t position = -1;
    if (imageIndex != nullptr && machine->GetActiveImageFifo() != nullptr) {
        auto it = std::find(scandata.begin(), scandata.end(), imageIndex->index);
        if (it != scandata.end())
            position = it - scandata.begin();
    }
    std::vector<double> values;
    while (machine->ReadMeasurandLine(values)) {
        if (position < 0 || static_cast<size_t>(position) >= values.size())
            continue;
        const double block = values[static_cast<size_t>(position)];
        if (!(block >= 1.0 && block < kTwoTo64))
            continue; // the line stands for a frame without an image
        const uint64_t number = static_cast<uint64_t>(block);
        machine->ReleaseImageBlock(number);
        MTRACE(5, "%s(): dropping unreachable image %llu", "MCameraScanCommand::Abort",
               static_cast<unsigned long long>(number));
    }
    done = true;
    MTRACE(4, "IsDone() [%s]: camara aborted", GetName());
}

bool MCameraScanCommand::ReadNextLine(std::vector<double>& values) {
    return machine->ReadMeasurandLine(values);
}

// ---- scanpoint ----

MCameraScanpointCommand::~MCameraScanpointCommand() {
    Abort();
}

bool MCameraScanpointCommand::start() {
    const MMachScanTarget* target = TimeTarget(request, out, GetName());
    if (target == nullptr)
        return false;
    endTime = target->value;
    if (target->relative) {
        endTime = machine->GetAxisValue("time") + target->value;
        const double accuracy = TimeAccuracy(machine);
        if (!(target->value >= accuracy)) {
            MERRTRACE("%s(): duration of measurement is smaller than accuracy: %g < %g",
                      "MCameraScanpointCommand::IsDone", target->value, accuracy);
            out->Error(kInvalidArgument);
            return false;
        }
    }
    if (!machine->StartCameraMeasurement(1)) {
        ReportFailedStart(machine, out, GetName());
        return false;
    }
    out->Event(kMeasurementBegin);
    MTRACE(4, "IsDone() [%s]: camara started", GetName());
    started = true;
    return true;
}

bool MCameraScanpointCommand::IsDone() {
    if (done)
        return true;
    MErrTraceContext context(__FILE__);
    if (!started && !start()) {
        done = true;
        context.DumpToMErrLog(__LINE__, "IsDone() [%s] failed", GetName());
        return true;
    }
    bool timedOut = false;
    if (!machine->IsCameraMeasurementDone()) {
        if (!(machine->GetAxisValue("time") > endTime))
            return false;
        timedOut = true;
    }
    if (const char* error = machine->GetMeasurementError())
        out->Error(std::string(error));
    if (!stopped && !machine->StopCameraMeasurement()) {
        MERRTRACE("IsDone() [%s]: StopCameraMeasurement() failed", GetName());
        out->Error(kInternalError);
    }
    done = true;
    if (timedOut) {
        out->Error(kNoContact);
        MTRACE(4, "IsDone() [%s]: timed out", GetName());
    } else {
        MTRACE(4, "IsDone() [%s]: done", GetName());
    }
    return true;
}

void MCameraScanpointCommand::Abort() {
    if (done || !started || stopped)
        return;
    if (!machine->StopCameraMeasurement()) {
        MERRTRACE("Abort() [%s]: StopCameraMeasurement() failed", GetName());
        out->Error(kInternalError);
    }
    // Not done: a later poll still reports how the measurement ended, without stopping twice.
    stopped = true;
    MTRACE(4, "IsDone() [%s]: camara aborted", GetName());
}

bool MCameraScanpointCommand::ReadNextLine(std::vector<double>& values) {
    return machine->ReadMeasurandLine(values);
}
