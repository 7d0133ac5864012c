#include "mt_proxy/camera/mmachabstract/mcamerascancommands.h"

#include "lintel/server/commands/moutputchannel.h"
#include "msl/merror/merrtracecontext.h"
#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cmath>

namespace {

constexpr int32_t kInvalidArgument = 3;
constexpr int32_t kInvalidAxis = 4;
constexpr int32_t kInternalError = 16;
constexpr int32_t kProbesystemNotLoaded = 22;
constexpr int32_t kNoContact = 42;
constexpr int32_t kMeasurementBegin = 3;

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

// Without a probesystem there is no camera to measure with: error 22.
bool ProbesystemLoaded(MCameraMachAbstract* machine, MOutputChannel* out, const char* keyword) {
    if (machine->HasActiveProbesystem())
        return true;
    MERRTRACE("IsDone() [%s]: no probesystem loaded", keyword);
    out->Error(kProbesystemNotLoaded);
    return false;
}

// A start refused because of a measurement error (a block too small for the image) has no
// error line of its own: the error log (which the server passes on) says why. Any other
// failed start is an internal error.
void ReportFailedStart(MCameraMachAbstract* machine, MOutputChannel* out, const char* keyword) {
    MERRTRACE("IsDone() [%s]: StartMeasurement() failed", keyword);
    if (const char* error = machine->GetMeasurementError())
        MERRTRACE("IsDone() [%s]: %s", keyword, error);
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
    if (!ProbesystemLoaded(machine, out, GetName()))
        return false;
    // A span of exactly n frame periods is n images, whatever the rounding of the times.
    const double frames = std::floor(span / accuracy + 1e-9);
    const uint32_t images = frames >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(frames);
    if (!machine->StartCameraMeasurement(images)) {
        ReportFailedStart(machine, out, GetName());
        return false;
    }
    MTRACE(4, "IsDone() [%s]: camara started", GetName());
    started = true;
    measurementNumber = machine->GetMeasurementNumber();
    return true;
}

bool MCameraScanCommand::owns_measurement() const {
    return started && machine->GetMeasurementNumber() == measurementNumber;
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
    if (!owns_measurement()) { // another command's measurement runs since ours ended
        done = true;
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
    // Lines in the FIFO are this scan's only while its measurement is the machine's.
    if (owns_measurement()) {
        if (!machine->StopCameraMeasurement()) {
            MERRTRACE("IsDone() [%s]: StopCameraMeasurement() failed", GetName());
            out->Error(kInternalError);
        }
        machine->DropMeasurandLines("MCameraScanCommand::Abort");
    }
    done = true;
    MTRACE(4, "IsDone() [%s]: camara aborted", GetName());
}

bool MCameraScanCommand::ReadNextLine(std::vector<double>& values) {
    // The server may drain lines between polls that saw none: the event goes with the first.
    if (done || !owns_measurement() || !machine->ReadMeasurandLine(values))
        return false;
    if (!measurementBeginSent) {
        out->Event(kMeasurementBegin);
        measurementBeginSent = true;
    }
    return true;
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
    if (!ProbesystemLoaded(machine, out, GetName()))
        return false;
    if (!machine->StartCameraMeasurement(1)) {
        ReportFailedStart(machine, out, GetName());
        return false;
    }
    out->Event(kMeasurementBegin);
    MTRACE(4, "IsDone() [%s]: camara started", GetName());
    started = true;
    measurementNumber = machine->GetMeasurementNumber();
    return true;
}

bool MCameraScanpointCommand::owns_measurement() const {
    return started && machine->GetMeasurementNumber() == measurementNumber;
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
    if (!owns_measurement()) {
        done = true;
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
    if (!owns_measurement() || stopped)
        return;
    if (!done) {
        if (!machine->StopCameraMeasurement()) {
            MERRTRACE("Abort() [%s]: StopCameraMeasurement() failed", GetName());
            out->Error(kInternalError);
        }
        MTRACE(4, "IsDone() [%s]: camara aborted", GetName());
    }
    // Not done: a later poll still reports how the measurement ended, without stopping twice.
    // The image may have come since the last poll: nobody takes its line now.
    stopped = true;
    machine->DropMeasurandLines("MCameraScanpointCommand::Abort");
}

bool MCameraScanpointCommand::ReadNextLine(std::vector<double>& values) {
    return !stopped && owns_measurement() && machine->ReadMeasurandLine(values);
}
