// The camera machine's probe and probesystem changes, its components, and "get"/"set": the
// factories do the whole work and return a command that is done at once, or report the
// failure on the command's channel and return none.

#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "csensor/sensors/csensor.h"
#include "lintel/server/commands/moutputchannel.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mfileio/mfileops.h"
#include "msl/mutil/minidata.h"
#include "mt_proxy/camera/mmachabstract/mcameracommands.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cmath>
#include <mutex>

namespace {

constexpr int32_t kInvalidAxis = 4;
constexpr int32_t kInternalError = 16;
constexpr int32_t kProbesystemNotLoaded = 22;
constexpr int32_t kProbeNotLoaded = 35;
constexpr int32_t kCapabilitiesChanged = 1;
constexpr int32_t kProbesystemChanged = 5;

// Axis flags of a channel's access code.
uint32_t FlagsOfAccess(uint32_t access) {
    switch (access) {
    case CSENSOR_ACCESS_R:
        return MMachAxis::kReadable;
    case CSENSOR_ACCESS_W:
        return MMachAxis::kWritable;
    case CSENSOR_ACCESS_RW:
        return MMachAxis::kReadable | MMachAxis::kWritable;
    case CSENSOR_ACCESS_B:
        return MMachAxis::kByte;
    default:
        return MMachAxis::kUnavailable;
    }
}

// A factory's failure: the chain goes to the error log under the factory's name, the client
// already has its error line.
template <class Command> Command* Fail(MErrTraceContext& context, int line, const char* factory) {
    context.DumpToMErrLog(line, "%s() failed", factory);
    return nullptr;
}

} // namespace

// ---- Activation ----

bool MCameraMachAbstract::set_active_probesystem(const std::string& probesystem, uint32_t id,
                                                 MOutputChannel* reply) {
    const char* const self = "MCameraMachAbstract::set_active_probesystem";
    const std::string geometry = "[Geometry]\nProbeType=" + probesystem + "\nx0=0\ny0=0\nz0=0\n";
    stop_all_previews();
    end_measurement();

    std::set<std::string> oldChannels;
    CSensor* sensor = probeManager.GetSensor();
    if (sensor != nullptr)
        for (const auto& entry : sensor->GetPropertyTable())
            oldChannels.insert(entry.first);
    if (sensor == nullptr || !sensor->SetMeasurement(false)) {
        MERRTRACE("%s(): SetMeasurement() failed", self);
        return false;
    }
    if (!probeManager.SetProbesystem(geometry)) {
        MERRTRACE("set_active_probesystem(): SetProbesystem() failed");
        return false;
    }
    if (cameraProbesystemDB == nullptr || !cameraProbesystemDB->SetActiveProbesystem(
                                              probesystem == "unloaded" ? "" : probesystem, id)) {
        MERRTRACE("SetActiveProbesystem(): failed to load probesystem \"%s\" %u",
                  probesystem.c_str(), id);
        return false;
    }
    if (!HasActiveProbesystem() && cameraProbeDB != nullptr) {
        // Probes belong to a probesystem: with none, none can be defined into the last one's
        // file.
        cameraProbeDB->Close();
    } else if (HasActiveProbesystem()) {
        if (!open_probe_database()) {
            MERRTRACE("%s(): failed to open probe database", self);
            return false;
        }
        std::string tip;
        if (!read_tip_data(tip)) {
            MERRTRACE("%s(): GetComponentData() failed", self);
            return false;
        }
        if (!probeManager.SetProbetip(tip)) {
            MERRTRACE("%s(): SetProbetip() failed", self);
            return false;
        }
    }
    std::string hardware;
    if (!probeManager.GetHardwareData(hardware)) {
        MERRTRACE("set_active_probesystem(): GetHardwareData() failed");
        return false;
    }
    MIniData hardwareDoc;
    if (!hardwareDoc.SetContentString(hardware)) {
        MERRTRACE("set_active_probesystem(): SetContentString() failed");
        return false;
    }
    update_capabilities(reply, std::move(oldChannels));
    if (!probeManager.GetSensor()->SetMeasurement(true)) {
        MERRTRACE("%s(): SetMeasurement() failed", self);
        return false;
    }
    return true;
}

bool MCameraMachAbstract::open_probe_database() {
    return cameraProbeDB != nullptr && cameraProbesystemDB != nullptr &&
           cameraProbeDB->Open(file_join(directory, cameraProbesystemDB->GetActiveProbeIniName()));
}

// The active tip's component data; empty (and true) when no tip is active.
bool MCameraMachAbstract::read_tip_data(std::string& text) {
    text.clear();
    const uint32_t probe = cameraProbeDB->GetActiveProbe();
    const uint32_t tip = cameraProbeDB->GetActiveTip();
    return probe == 0 || tip == 0 || cameraProbeDB->GetComponentData(text, probe, tip);
}

void MCameraMachAbstract::update_capabilities(MOutputChannel* reply,
                                              std::set<std::string> oldChannels) {
    if (const CSensor* sensor = probeManager.GetSensor())
        for (const auto& [channelName, desc] : sensor->GetPropertyTable()) {
            oldChannels.erase(channelName);
            update_probe_channel(channelName, desc);
        }
    // Channels the new probesystem lacks stay axes, but not available ones.
    for (const std::string& gone : oldChannels) {
        MMachAxis* axis = axes.Find(gone);
        if (axis == nullptr)
            axis = &axes.Register(gone, 0, 0, 0, 0, 0);
        axis->flags |= MMachAxis::kUnavailable;
    }
    MMachAxis* time = axes.Find("time");
    MMachAxis* lock = axes.Find("lock");
    if (time == nullptr || lock == nullptr)
        return; // the machine never got its axes (Open stopped early)
    const double accuracyBefore = time->accuracy;
    update_time_accuracy(reply != nullptr ? reply : channel);
    const double accuracyAfter = time->accuracy;

    if (HasActiveProbesystem()) {
        lock->flags &= ~MMachAxis::kUnavailable;
    } else {
        axes.SetValue("lock", 0.0);
        lock->flags |= MMachAxis::kUnavailable;
    }
    if (reply != nullptr && (!oldChannels.empty() || accuracyAfter != accuracyBefore))
        reply->Event(kCapabilitiesChanged);
}

void MCameraMachAbstract::update_probe_channel(const std::string& channelName,
                                               const CSensorChannelDesc& desc) {
    MMachAxis* axis = axes.Find(channelName);
    if (axis == nullptr) {
        MERRLOG("update_probe_channel(): channel %s not in capability list", channelName.c_str());
        return;
    }
    axis->flags = FlagsOfAccess(desc.access);
    axis->minimum = desc.min;
    axis->maximum = desc.max;
    axis->step = desc.step;
    axis->accuracy = desc.accuracy;
    axis->maxSpeed = desc.v_max;
    axis->maxAcceleration = desc.a_max;
    MTRACE(5, "update_probe_channel(): updated capabilities for %s", channelName.c_str());
}

void MCameraMachAbstract::update_probe_axes() {
    // The sensor asks the camera; that must not happen under the lock the camera's own
    // callbacks take.
    std::vector<std::pair<size_t, double>> channelValues;
    if (HasActiveProbesystem()) {
        MCameraImageInfo info;
        CSensor* sensor = probeManager.GetSensor();
        if (!get_image_info(GetActiveProbesystem(), info)) {
            MERRTRACE("update_probe_axes(): get_image_info_failed");
        } else if (sensor == nullptr) {
            MERRTRACE("update_probe_axes(): GetPropertyData() failed");
        } else {
            for (const auto& entry : sensor->GetPropertyTable()) {
                double value = 0.0;
                const size_t index = axes.IndexOf(entry.first);
                if (index != MCameraAxes::kNoAxis &&
                    sensor->GetPropertyValue(entry.first.c_str(), &value))
                    channelValues.emplace_back(index, value);
            }
        }
    }
    const size_t probeIndex = axes.IndexOf("probe");
    const size_t tipIndex = axes.IndexOf("tip");
    const double probe = cameraProbeDB != nullptr ? cameraProbeDB->GetActiveProbe() : 0;
    const double tip = cameraProbeDB != nullptr ? cameraProbeDB->GetActiveTip() : 0;
    std::lock_guard<varn::ThreadMutex> guard(axes.Lock());
    axes.SetValueAt(probeIndex, probe);
    axes.SetValueAt(tipIndex, tip);
    for (const auto& [index, value] : channelValues)
        axes.SetValueAt(index, value);
}

void MCameraMachAbstract::update_time_accuracy(MOutputChannel* out) {
    MMachAxis* time = axes.Find("time");
    if (time == nullptr)
        return;
    if (!HasActiveProbesystem()) {
        time->accuracy = 0.0;
        return;
    }
    std::string text;
    if (!probeManager.GetHardwareData(text)) {
        MERRTRACE("update_time_accuracy(): GetHardwareData() failed");
        return;
    }
    MIniData hardware;
    if (!hardware.SetContentString(text)) {
        MERRTRACE("update_time_accuracy(): SetContentString() failed");
        return;
    }
    double framesPerSecond = 0.0;
    // A rate of 0 would make every scan endless: treat it as unreadable.
    if (!hardware.GetDoubleEntry("Camera", "framerate", framesPerSecond) || framesPerSecond <= 0) {
        MERRTRACE("update_time_accuracy(): GetDoubleEntry() failed");
        return;
    }
    const double before = time->accuracy;
    time->accuracy = 1.0 / framesPerSecond;
    const double change = std::fabs(time->accuracy - before);
    if (change > 0.000001) {
        if (out != nullptr)
            out->Event(kCapabilitiesChanged);
        MTRACE(4, "%s(): time axis' accuracy changed by %g. Sending \"cap chg\" event",
               "MCameraMachAbstract::update_time_accuracy", change);
    }
}

bool MCameraMachAbstract::set_active_probe(uint32_t probe, uint32_t tip) {
    const char* const self = "MCameraMachAbstract::set_active_probe";
    if (cameraProbeDB == nullptr || !cameraProbeDB->SetActiveProbe(probe, tip)) {
        MERRTRACE("%s(): failed to activate probe %u %u", self, probe, tip);
        return false;
    }
    std::string data;
    if (probe != 0 && tip != 0) {
        if (!open_probe_database()) {
            MERRTRACE("%s(): failed to open probe database", self);
            return false;
        }
        if (!cameraProbeDB->GetComponentData(data, probe, tip)) {
            MERRTRACE("%s(): GetComponentData() failed", self);
            return false;
        }
    }
    if (!probeManager.SetProbetip(data)) {
        MERRTRACE("%s(): SetProbetip() failed", self);
        return false;
    }
    return true;
}

double MCameraMachAbstract::get_zoom() {
    const char* const self = "MCameraMachAbstract::get_zoom";
    if (cameraProbeDB == nullptr)
        return 0.0;
    const uint32_t probe = cameraProbeDB->GetActiveProbe();
    const uint32_t tip = cameraProbeDB->GetActiveTip();
    if (probe == 0 && tip == 0)
        return 0.0;
    std::string text;
    MIniData data;
    double zoom = 0.0;
    // A zoom of 0 (a tip defined without a diameter) gives an infinite scale: the tip has no
    // optics to measure with, which the type query then shows, rather than a made-up one.
    if (cameraProbeDB->GetComponentData(text, probe, tip) && data.SetContentString(text) &&
        data.GetDoubleEntry("Camera", "zoom", zoom)) {
        MTRACE(5, "%s(): Using zoom from \"probe.tip\": %g", self, zoom);
        return 1.0 / zoom;
    }
    MERRTRACE("%s(): failed to get zoom value. Assuming Pellorscope camera", self);
    return 1.18;
}

// ---- Axes ----

MMachGetCommand* MCameraMachAbstract::NewMMachGetCommand(MOutputChannel* out,
                                                         const std::vector<std::string>& names) {
    return new MCameraGetCommand(out, names, this);
}

MMachInitCommand* MCameraMachAbstract::NewMMachInitCommand(MOutputChannel* out,
                                                           const std::set<std::string>& names) {
    return new MCameraInitCommand(out, names);
}

MMachSetCommand*
MCameraMachAbstract::NewMMachSetCommand(MOutputChannel* out,
                                        const std::map<std::string, double>& values) {
    MErrTraceContext context(__FILE__);
    CSensor* sensor = probeManager.GetSensor();
    if (sensor == nullptr || !sensor->SetPropertyValue(values)) {
        MERRTRACE("NewMMachSetCommand(): SetPropertyValue() failed");
        out->Error(std::string("Error from camera [see logfile for details]"));
        return Fail<MMachSetCommand>(context, __LINE__, "NewMMachSetCommand");
    }
    for (const auto& [axisName, value] : values) {
        if (axes.Find(axisName) == nullptr) {
            MERRLOG("NewMMachSetCommand(): unknown axis: %s", axisName.c_str());
            out->Error(kInvalidAxis);
            return nullptr;
        }
        axes.SetValue(axisName, value);
        MTRACE(5, "NewMMachSetCommand(): set axis %s to %g", axisName.c_str(), value);
    }
    update_probe_axes();
    if (sensor->IsPropertyListChanged()) {
        CSensorChannelTable changed;
        sensor->TakeChangedProperties(changed);
        for (const auto& [channelName, desc] : changed)
            update_probe_channel(channelName, desc);
        out->Event(kCapabilitiesChanged);
    }
    update_time_accuracy(out);
    clear_preview_memories();
    return new MCameraSetCommand(out, values);
}

// ---- Components ----

MMachReceiveCommand* MCameraMachAbstract::NewMMachReceiveCommand(MOutputChannel* out,
                                                                 const std::string& component) {
    MErrTraceContext context(__FILE__);
    std::string data;
    if (!receive_component(out, component, data))
        return Fail<MMachReceiveCommand>(context, __LINE__, "NewMMachReceiveCommand");
    return new MCameraReceiveCommand(out, component, data);
}

bool MCameraMachAbstract::receive_component(MOutputChannel* out, const std::string& component,
                                            std::string& data) {
    const char* const self = "MCameraMachAbstract::NewMMachReceiveCommand";
    CSensor* sensor = probeManager.GetSensor();
    if (component == "probe.hardware") {
        if (!probeManager.GetHardwareData(data, GetActiveProbesystem())) {
            MERRTRACE("NewMMachReceiveCommand(): GetHardwareData() failed");
            out->Error(kInternalError);
            return false;
        }
    } else if (component == "probe.config") {
        if (sensor == nullptr || !sensor->GetProbeProperties(data)) {
            MERRTRACE("NewMMachReceiveCommand(): GetProbeProperties() failed");
            out->Error(kInternalError);
            return false;
        }
    } else if (component == "probe.tip") {
        if (sensor == nullptr || !sensor->GetProbetip(data)) {
            MERRTRACE("%s(): GetProbetip() failed", self);
            out->Error(std::string("failed to get component data"));
            return false;
        }
    } else if (component == "probesystems.config") {
        if (cameraProbesystemDB == nullptr ||
            !cameraProbesystemDB->BackupAllData(GetSensorSerialNo(), data)) {
            MERRTRACE("%s(): BackupAllData() failed", self);
            out->Error(std::string("failed to get component data"));
            return false;
        }
    }
    return true;
}

MMachSendCommand* MCameraMachAbstract::NewMMachSendCommand(MOutputChannel* out,
                                                           const std::string& component,
                                                           const std::string& data) {
    MErrTraceContext context(__FILE__);
    if (FindComponent(component) == nullptr)
        return new MCameraSendCommand(out, component, data);
    if (component.find("probe.") != std::string::npos && !HasActiveProbesystem()) {
        MERRLOG("%s(): No probesystem loaded", "MCameraMachAbstract::NewMMachSendCommand");
        out->Error(kProbesystemNotLoaded);
        return nullptr;
    }
    bool ok = true;
    if (component == "probe.config") {
        ok = send_probe_config(out, data);
    } else if (component == "probe.tip") {
        ok = send_probe_tip(out, data);
    } else if (component == "probesystems.config") {
        ok = cameraProbesystemDB->RestoreAllData(GetSensorSerialNo(), data);
        if (!ok) {
            MERRTRACE("%s(): RestoreAllData() failed", "MCameraMachAbstract::NewMMachSendCommand");
            out->Error(std::string("failed to send component data"));
        }
    }
    if (!ok)
        return Fail<MMachSendCommand>(context, __LINE__, "NewMMachSendCommand");
    return new MCameraSendCommand(out, component, data);
}

bool MCameraMachAbstract::send_probe_config(MOutputChannel* out, const std::string& data) {
    MIniData properties;
    if (!properties.SetContentString(data)) {
        MERRTRACE("NewMMachSendCommand(): SetContentString() failed");
        out->Error(std::string("invalid component data"));
        return false;
    }
    // A sensor takes sent properties only when they say so.
    if (!properties.SetStringEntry("Camera", "send", "true")) {
        MERRTRACE("NewMMachSendCommand(): SetStringEntry() failed");
        out->Error(std::string("failed to add component data"));
        return false;
    }
    if (!probeManager.SetProbeProperties(properties.GetContentString())) {
        MERRTRACE("NewMMachScanCommand(): SetProbeProperties() failed");
        out->Error(std::string("Wrong properties [see logfile for details]"));
        return false;
    }
    properties.DeleteEntry("Camera", "send");
    CSensor* sensor = probeManager.GetSensor();
    if (sensor == nullptr || !probeManager.ConfigDBWrite(sensor->GetSensorClass(), "PROPERTIES",
                                                         properties.GetContentString())) {
        MERRTRACE("NewMMachScanCommand(): ConfigDBWrite() failed");
        out->Error(kInternalError);
        return false;
    }
    update_capabilities(out, {});
    return true;
}

bool MCameraMachAbstract::send_probe_tip(MOutputChannel* out, const std::string& data) {
    const char* const self = "MCameraMachAbstract::handle_send_probe_tip";
    const uint32_t probe = cameraProbeDB != nullptr ? cameraProbeDB->GetActiveProbe() : 0;
    const uint32_t tip = cameraProbeDB != nullptr ? cameraProbeDB->GetActiveTip() : 0;
    if (probe == 0 && tip == 0) {
        MERRLOG("%s(): No probe loaded", "MCameraMachAbstract::NewMMachSendCommand");
        out->Error(kProbeNotLoaded);
        return false;
    }
    MIniData tipData;
    if (!tipData.SetContentString(data)) {
        MERRTRACE("%s(): SetContentString() failed", self);
        out->Error(std::string("wrong inidata"));
        return false;
    }
    const std::string text = tipData.GetContentString();
    if (!cameraProbeDB->SetComponentData(text, probe, tip)) {
        MERRTRACE("%s(): SetComponentData() failed", self);
        out->Error(std::string("wrong component data"));
        return false;
    }
    if (!probeManager.SetProbetip(text)) {
        MERRTRACE("%s(): SetUserData() failed", self);
        out->Error(std::string("wrong component data"));
        return false;
    }
    out->Event(kProbesystemChanged);
    return true;
}

// ---- Probesystems ----

MMachProbesystemLoadCommand*
MCameraMachAbstract::NewMMachProbesystemLoadCommand(MOutputChannel* out,
                                                    const std::string& probesystem, uint32_t id) {
    MErrTraceContext context(__FILE__);
    if (!set_active_probesystem(probesystem, id, out)) {
        MERRTRACE("NewMMachProbesystemLoadCommand(): set_active_probesystem() failed");
        out->Error(kInternalError);
        return Fail<MMachProbesystemLoadCommand>(context, __LINE__,
                                                 "NewMMachProbesystemLoadCommand");
    }
    update_probe_axes();
    install_update_axes_callback();
    return new MCameraProbesystemLoadCommand(out);
}

MMachProbesystemUnloadCommand*
MCameraMachAbstract::NewMMachProbesystemUnloadCommand(MOutputChannel* out) {
    MErrTraceContext context(__FILE__);
    if (!set_active_probesystem("unloaded", 0, out)) {
        out->Error(kInternalError);
        return Fail<MMachProbesystemUnloadCommand>(context, __LINE__,
                                                   "NewMMachProbesystemUnloadCommand");
    }
    update_probe_axes();
    return new MCameraProbesystemUnloadCommand(out);
}

MMachProbesystemDefineCommand*
MCameraMachAbstract::NewMMachProbesystemDefineCommand(MOutputChannel* out,
                                                      const std::string& probesystem) {
    MErrTraceContext context(__FILE__);
    // The protocol names only the probesystem: it gets the lowest id that name does not
    // have yet, and no mounting offsets.
    ProbesystemRecord record;
    record.name = probesystem;
    record.id = 1;
    while (cameraProbesystemDB != nullptr &&
           cameraProbesystemDB->IsProbesystemIdDefined(probesystem, record.id) &&
           record.id != UINT32_MAX)
        ++record.id;
    if (cameraProbesystemDB == nullptr || !cameraProbesystemDB->DefineProbesystem(record)) {
        MERRTRACE("NewMMachProbesystemDefineCommand(): failed to define probesystem %s",
                  probesystem.c_str());
        out->Error(std::string("failed to define probesystem"));
        return Fail<MMachProbesystemDefineCommand>(context, __LINE__,
                                                   "NewMMachProbesystemDefineCommand");
    }
    return new MCameraProbesystemDefineCommand(out);
}

MMachProbesystemDeleteCommand*
MCameraMachAbstract::NewMMachProbesystemDeleteCommand(MOutputChannel* out,
                                                      const std::string& probesystem, uint32_t id) {
    MErrTraceContext context(__FILE__);
    if (cameraProbesystemDB == nullptr ||
        !cameraProbesystemDB->DeleteProbesystem(probesystem, id)) {
        MERRTRACE("NewMMachProbesystemDeleteCommand(): failed to delete probesystem \"%s\" %u",
                  probesystem.c_str(), id);
        out->Error(kInternalError);
        return Fail<MMachProbesystemDeleteCommand>(context, __LINE__,
                                                   "NewMMachProbesystemDeleteCommand");
    }
    return new MCameraProbesystemDeleteCommand(out);
}

// ---- Probes ----

MMachProbeLoadCommand* MCameraMachAbstract::NewMMachProbeLoadCommand(MOutputChannel* out,
                                                                     uint32_t probe, uint32_t tip) {
    MErrTraceContext context(__FILE__);
    if (!set_active_probe(probe, tip)) {
        MERRTRACE("NewMMachProbeLoadCommand(): failed to activate probe");
        out->Error(kInternalError);
        return Fail<MMachProbeLoadCommand>(context, __LINE__, "NewMMachProbeLoadCommand");
    }
    update_probe_axes();
    out->Event(kProbesystemChanged);
    return new MCameraProbeLoadCommand(out);
}

MMachProbeDeleteCommand*
MCameraMachAbstract::NewMMachProbeDeleteCommand(MOutputChannel* out, uint32_t probe, uint32_t tip) {
    MErrTraceContext context(__FILE__);
    if (cameraProbeDB == nullptr || !cameraProbeDB->DeleteProbe(probe, tip)) {
        MERRTRACE("NewMMachProbeDeleteCommand(): failed to delete probe");
        out->Error(kInternalError);
        return Fail<MMachProbeDeleteCommand>(context, __LINE__, "NewMMachProbeDeleteCommand");
    }
    return new MCameraProbeDeleteCommand(out);
}

MMachProbeDefineCommand*
MCameraMachAbstract::NewMMachProbeDefineCommand(MOutputChannel* out, uint32_t probe, uint32_t tip,
                                                const std::map<std::string, double>& values) {
    MErrTraceContext context(__FILE__);
    auto valueOf = [&values](const char* key) {
        auto it = values.find(key);
        return it == values.end() ? 0.0 : it->second;
    };
    const ProbeTipRecord record{probe, tip, valueOf("x"), valueOf("y"), valueOf("z"), valueOf("d")};
    if (cameraProbeDB == nullptr || !cameraProbeDB->DefineProbe(record)) {
        MERRTRACE("NewMMachProbeDefineCommand(): failed to define probe");
        out->Error(kInternalError);
        return Fail<MMachProbeDefineCommand>(context, __LINE__, "NewMMachProbeDefineCommand");
    }
    return new MCameraProbeDefineCommand(out);
}

MMachProbeUnloadCommand* MCameraMachAbstract::NewMMachProbeUnloadCommand(MOutputChannel* out) {
    MErrTraceContext context(__FILE__);
    if (!set_active_probe(0, 0)) {
        MERRTRACE("NewMMachProbeUnloadCommand(): failed to activate probe");
        out->Error(kInternalError);
        return Fail<MMachProbeUnloadCommand>(context, __LINE__, "NewMMachProbeUnloadCommand");
    }
    update_probe_axes();
    out->Event(kProbesystemChanged);
    return new MCameraProbeUnloadCommand(out);
}

MMachProbeChangeCommand*
MCameraMachAbstract::NewMMachProbeChangeCommand(MOutputChannel* out, uint32_t probe, uint32_t tip) {
    MErrTraceContext context(__FILE__);
    if (!set_active_probe(probe, tip)) {
        MERRTRACE("NewMMachProbeChangeCommand(): failed to activate probe");
        out->Error(kInternalError);
        return Fail<MMachProbeChangeCommand>(context, __LINE__, "NewMMachProbeChangeCommand");
    }
    update_probe_axes();
    return new MCameraProbeChangeCommand(out);
}
