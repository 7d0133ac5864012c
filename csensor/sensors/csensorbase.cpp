#include "csensor/sensors/csensorbase.h"

#include "csensor/sensors/csensorcalibration.h"
#include "csensor/sensors/csensorerrors.h"
#include "csensor/sensors/csensorinireader.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

const double kEpsilon = 1e-9;
const double kPi = 3.14159265358979323846;

// Channels with a quick-access slot, in slot order.
const char* const kQuickNames[CSensorBase::kQuickSlots] = {"u",  "v",  "w",  "hub",
                                                           "nu", "nv", "nw", "trigger"};

} // namespace

CSensorBase::CSensorBase() : m_clock([] { return std::time(nullptr); }) {
    rebuild_values();
    remember_quick_access();
    RegisterComponent("probe.tip", m_tip.ComponentText());
}

CSensorBase::~CSensorBase() = default;

// ---- Components, inputs ----

int CSensorBase::SearchComponent(const char* name, std::string& data) {
    if (!ComponentSearch()) {
        MERRLOG("%s(): Function pointer not set, components search is skipped",
                "CSensorBase::SearchComponent");
        return 0;
    }
    return ComponentSearch()(name, data);
}

std::string CSensorBase::GetMcCompVectorName(size_t index) const {
    size_t channelno = GetMcInputNo();
    if (channelno == 0)
        return std::string();
    if (channelno > m_hwInputs.nInput || channelno > m_hwInputs.inputs.size()) {
        MERRLOG("%s(): channelno=%zu, m_MCHardware.nInput=%zu--> using default empty string",
                "CSensorBase::GetMcCompVectorName", channelno, m_hwInputs.nInput);
        return std::string();
    }
    const std::vector<std::string>& names = m_hwInputs.inputs[channelno - 1].compVectorNames;
    return index < names.size() ? names[index] : std::string();
}

uint32_t CSensorBase::GetMcInputNo() const {
    return m_system.probeChannel > 0 ? static_cast<uint32_t>(m_system.probeChannel) : 0;
}

// ---- Movezero ----

bool CSensorBase::SupportMovezero() {
    if (GetState() != CSENSOR_STATE_READY) {
        PushErrorCode(CSENSOR_ERR_NOT_INITIALISED);
        MERRLOG("SupportMovezero(): sensor not in state READY");
        return false;
    }
    if (!IsDeflectionTestRequired())
        return true;
    double deflection = 0.0, forcedir = 0.0;
    if (!GetPropertyValue("deflection", &deflection) || !GetPropertyValue("forcedir", &forcedir)) {
        PushErrorCode(CSENSOR_ERR_MOVEZERO_VALUES);
        MERRLOG("SupportMovezero(): movezero not possible as 'forcedir' or 'deflection' could "
                "not be determined");
        return false;
    }
    if (std::fabs(forcedir) >= 0.001 || std::fabs(deflection) >= 0.001)
        return true;
    PushErrorCode(CSENSOR_ERR_MOVEZERO_VALUES);
    MERRLOG("SupportMovezero(): movezero not possible with 'forcedir=0' and 'deflection=0'");
    return false;
}

bool CSensorBase::SupportMovezeroDirection(double dx, double dy, double dz) {
    if (!SupportMovezero()) {
        MERRLOG("SupportMovezeroDirection(): SupportMovezero() failed");
        return false;
    }
    double nx = 0.0, ny = 0.0, nz = 0.0;
    if (!GetProbeDirection(&nx, &ny, &nz)) {
        MERRLOG("SupportMovezeroDirection(): failed to read probe direction vector");
        return false;
    }
    // Below 0.45 the movement runs nearly across the probe, which cannot deflect that way.
    if (std::fabs(nx * dx + ny * dy + nz * dz) < 0.45) {
        PushErrorCode(CSENSOR_ERR_MOVEZERO_DIRECTION);
        MERRLOG("SupportMovezeroDirection(): probe direction not suitable for movezero command "
                "(%g/%g/%g) vs. (%g/%g/%g)",
                dx, dy, dz, nx, ny, nz);
        return false;
    }
    return true;
}

const char* CSensorBase::GetErrorText(uint32_t code) {
    // One buffer for all sensors, overwritten by the next call; see csensor.h.
    static char buffer[512];
    std::snprintf(buffer, sizeof(buffer), "%s", CSensor_FormatErrorText(GetName(), code).c_str());
    return buffer;
}

// ---- Documents ----

bool CSensorBase::SetPropertyData(std::string_view text) {
    bool ok = true;
    if (!text.empty() && !CSensor::SetPropertyData(text)) {
        PushErrorCode(CSENSOR_ERR_READ_CONFIG);
        PushErrorCode(CSENSOR_ERR_NOT_INITIALISED);
        ok = false;
    }
    rebuild_values();
    // Geometry, configuration and user data would come along with property data from a
    // probe configuration file; data given as text carries none.
    ReadAccessSettings();
    remember_quick_access();
    return ok;
}

bool CSensorBase::SetConfigData(std::string_view text) {
    const int level = ChangeTraceLevel();
    if (!CSensor::SetConfigData(text))
        return false;
    MTRACE(5, "SetConfigData()");
    MIniData& config = ConfigData();
    CSensor_UpdateCalibrationSections(config);
    if (!m_system.probeType.empty())
        HardwareData().SetStringEntry("Probe", "Type", m_system.probeType);
    m_system = CSensorSystemData();
    m_headCurve.Clear();
    m_tipCalibration = CSensorTipCalibration();

    int changes = 0;
    bool ok = ReadSystemGeometry(config, changes);
    ok = ReadSystemProbetype(config, changes) && ok;
    ok = ReadSystemRange(config, changes) && ok;
    ok = ReadSystemMatrix(config, changes) && ok;
    if (changes > 0)
        MTRACE_LEVEL(level, "SetConfigData() [%s]: Data changed or extended", GetName());
    UpdateCollisionLimits();
    ok = UpdateSensorTransformation() && ok;
    ok = CheckSensorState() && ok;
    return ok;
}

bool CSensorBase::ProbesystemUnload(std::string_view text) {
    if (m_hwInputs.nInput == 0 || m_system.probeType.empty())
        return false;
    MIniData data;
    if (!data.SetContentString(text)) {
        PushErrorCode(CSENSOR_ERR_PROCESS_CONFIG);
        return false;
    }
    std::string load;
    if (data.GetStringEntry("Geometry", "probesystem_load", load))
        m_probesystemLoad = CSensor_TrimValue(load);
    InitCollisionLimits();
    HardwareData().SetStringEntry("Probe", "Type", "None");
    PushOutputMessage(GetName(), HardwareData().GetContentString());
    MTRACE(2, "%s(): unload probesystem '%s' on '%s'", "CSensorBase::ProbesystemUnload", GetName(),
           m_system.probeType.c_str());
    return true;
}

bool CSensorBase::SetUserData(std::string_view text) {
    return ProcessUserData(text, true);
}

bool CSensorBase::SetFeatures(std::string_view text) {
    MIniData data;
    if (!data.SetContentString(text)) {
        PushErrorCode(CSENSOR_ERR_PROCESS_CONFIG);
        return false;
    }
    m_features.Take(data);
    return true;
}

bool CSensorBase::GetFeatures(std::string& text) {
    MIniData data;
    m_features.Write(data);
    text = data.GetContentString();
    return true;
}

bool CSensorBase::SetHardwareData(std::string_view text) {
    return StoreDocument(HardwareData(), text);
}

bool CSensorBase::SetHardwareProperties(std::string_view text) {
    const int level = ChangeTraceLevel();
    if (!CSensor::SetHardwareProperties(text))
        return false;
    int changes = ReadHardwareProperties();
    ReadAccessSettings();
    if (changes > 0)
        MTRACE_LEVEL(level, "SetHardwareProperties() [%s]: Data changed or extended", GetName());
    return true;
}

int CSensorBase::ReadHardwareProperties() {
    return m_hwInputs.Read(HardwareProperties());
}

bool CSensorBase::SetGeometryData(std::string_view text) {
    const int level = ChangeTraceLevel();
    if (!CSensor::SetGeometryData(text))
        return false;
    CSensorIniReader reader(GeometryData());
    m_system.ReadGeometry(reader);
    if (reader.Changes() > 0)
        MTRACE_LEVEL(level, "SetGeometryData() [%s]: Data changed or extended", GetName());
    return UpdateSensorTransformation();
}

bool CSensorBase::GetProbeDirection(double* x, double* y, double* z) {
    if (x)
        *x = m_probeDirection[0];
    if (y)
        *y = m_probeDirection[1];
    if (z)
        *z = m_probeDirection[2];
    SetProbeDirectionChanged(false);
    return true;
}

bool CSensorBase::GetTipOffset(double* x, double* y, double* z) {
    if (x)
        *x = m_tipOffsetSum[0];
    if (y)
        *y = m_tipOffsetSum[1];
    if (z)
        *z = m_tipOffsetSum[2];
    SetTipOffsetChanged(false);
    return true;
}

// ---- Values ----

bool CSensorBase::valid_index(int index) const {
    return index >= 0 && static_cast<size_t>(index) < m_values.size();
}

CSensorPropertyValue* CSensorBase::ValueEntry(int index) {
    if (!valid_index(index)) {
        PushErrorCode(CSENSOR_ERR_INVALID_INDEX);
        return nullptr;
    }
    return &m_values[static_cast<size_t>(index)];
}

CSensorPropertyValue* CSensorBase::ValueEntry(int index, const void* pointer) {
    CSensorPropertyValue* entry = ValueEntry(index);
    if (entry && !pointer) {
        PushErrorCode(CSENSOR_ERR_INVALID_INDEX);
        return nullptr;
    }
    return entry;
}

bool CSensorBase::GetPropertyValue(int index, double* value) {
    CSensorPropertyValue* entry = ValueEntry(index, value);
    if (!entry)
        return false;
    *value = entry->raw + entry->offset;
    return true;
}

bool CSensorBase::GetPropertyValue(const char* name, double* value) {
    return GetPropertyValue(static_cast<int>(GetPropertyIndex(name)), value);
}

bool CSensorBase::SetPropertyValue(const char* name, double value) {
    return SetPropertyValueIndexed(static_cast<int>(GetPropertyIndex(name)), value, false);
}

bool CSensorBase::SetPropertyValue(int index, double value) {
    return SetPropertyValueIndexed(index, value, false);
}

bool CSensorBase::GetPropertyOffset(int index, double* value) {
    CSensorPropertyValue* entry = ValueEntry(index, value);
    if (!entry)
        return false;
    *value = entry->offset;
    return true;
}

bool CSensorBase::GetPropertyOffset(const char* name, double* value) {
    return GetPropertyOffset(static_cast<int>(GetPropertyIndex(name)), value);
}

bool CSensorBase::SetPropertyOffset(int index, double value) {
    CSensorPropertyValue* entry = ValueEntry(index);
    if (!entry)
        return false;
    entry->offset = value;
    SetPropertiesChanged();
    return true;
}

bool CSensorBase::SetPropertyOffset(const char* name, double value) {
    return SetPropertyOffset(static_cast<int>(GetPropertyIndex(name)), value);
}

bool CSensorBase::SetPropertyFifoAddress(int index, double* address) {
    CSensorPropertyValue* entry = ValueEntry(index, address);
    if (!entry)
        return false;
    entry->publish = address;
    return true;
}

bool CSensorBase::SetPropertyFifoAddress(const char* name, double* address) {
    return SetPropertyFifoAddress(static_cast<int>(GetPropertyIndex(name)), address);
}

double* CSensorBase::GetPropertyValueAddress(int index) {
    if (!valid_index(index)) {
        MERRLOG("GetPropertyValueAddress(): Invalid index #%d", index);
        PushErrorCode(CSENSOR_ERR_INVALID_INDEX);
        return nullptr;
    }
    CSensorPropertyValue& entry = m_values[static_cast<size_t>(index)];
    return entry.publish ? entry.publish : &entry.raw;
}

double* CSensorBase::GetPropertyValueAddress(const char* name) {
    // An unknown name is an invalid index like any other (error 41 and its log line); only
    // then is the lookup asked.
    double* address = GetPropertyValueAddress(static_cast<int>(GetPropertyIndex(name)));
    if (!address && ValueAddressLookup() && name)
        return ValueAddressLookup()(name);
    return address;
}

double* CSensorBase::GetPropertyRawAddress(int index) {
    if (!valid_index(index)) {
        // The address getters share one message.
        MERRLOG("GetPropertyValueAddress(): Invalid index #%d", index);
        PushErrorCode(CSENSOR_ERR_INVALID_INDEX);
        return nullptr;
    }
    return &m_values[static_cast<size_t>(index)].raw;
}

double* CSensorBase::GetPropertyRawAddress(const char* name) {
    return GetPropertyRawAddress(static_cast<int>(GetPropertyIndex(name)));
}

void CSensorBase::publish(CSensorPropertyValue& entry) {
    if (entry.publish)
        *entry.publish = entry.raw;
}

bool CSensorBase::SetPropertyValueIndexed(int index, double value, bool force) {
    SetPropertyValueUpdated(false);
    if (!valid_index(index)) {
        PushErrorCode(CSENSOR_ERR_INVALID_INDEX);
        return false;
    }
    CSensorPropertyValue& entry = m_values[static_cast<size_t>(index)];
    const CSensorChannelDesc* found = FindChannel(entry.name);
    if (!found) {
        PushErrorCode(CSENSOR_ERR_INVALID_INDEX);
        return false;
    }
    const CSensorChannelDesc desc = *found;
    if (std::strcmp(desc.name, "lock") == 0)
        return true;

    const bool was_active = IsActive();
    Deactivate();
    auto restore_activity = [&]() {
        if (was_active)
            Activate();
        else
            Deactivate();
    };

    if (desc.step > 0.0)
        value = std::round(value / desc.step) * desc.step;
    if (desc.access != CSENSOR_ACCESS_I && (!desc.HasLink() || desc.master)) {
        if (value < desc.min - kEpsilon) {
            MTRACE(4, "SetPropertyValue(): %s=%g limited to min=%g", desc.name, value, desc.min);
            value = desc.min;
        } else if (value > desc.max + kEpsilon) {
            MTRACE(4, "SetPropertyValue(): %s=%g limited to max=%g", desc.name, value, desc.max);
            value = desc.max;
        }
    }
    const double old_raw = entry.raw;
    entry.raw = value - entry.offset;
    if (GetState() == CSENSOR_STATE_NONE) {
        restore_activity();
        return true;
    }

    if (desc.HasLink()) {
        double factor = 1.0;
        if (std::strcmp(desc.name, "strokelimit") == 0 && m_system.rangeTSK != 0.0) {
            factor = m_system.range / m_system.rangeTSK;
            if (std::fabs(factor) < kEpsilon || !std::isfinite(factor))
                factor = 1.0;
        }
        if (desc.is_child || desc.access == CSENSOR_ACCESS_I) {
            // Children and internal channels are not passed on.
        } else if (desc.IsLinkedToItself() && force) {
            // The value came from the sibling: take it, do not echo it back.
            MTRACE(5, "SetPropertyValue(): read from sibling %s=%g", desc.link, value);
            value *= factor;
            int linked = static_cast<int>(GetPropertyIndex(desc.link));
            if (valid_index(linked) && linked != index) {
                CSensorPropertyValue& other = m_values[static_cast<size_t>(linked)];
                other.raw = value - other.offset;
                publish(other);
                MTRACE(5, "SetPropertyValue(): set %s=%g", other.name, value);
            }
        } else {
            MTRACE(5, "SetPropertyValue(): send to sibling %s=%g", desc.link, entry.raw / factor);
            PushSiblingValue(desc.link, entry.raw / factor);
        }
    } else {
        publish(entry);
        MTRACE(5, "SetPropertyValue(): %s=%g, old=%g, offset=%g", desc.name, value, old_raw,
               entry.offset);
    }

    set_special_force_channels(desc, entry, value);

    if (!desc.HasLink() && std::fabs(entry.raw - old_raw) < kEpsilon) {
        MTRACE(5, "SetPropertyValue(): %s=%g obsolete", desc.name, value);
        restore_activity();
        return true;
    }

    bool ok = true;
    if (std::strcmp(desc.name, "range") == 0) {
        std::string user;
        GetUserData(user);
        SetUserData(user);
        ok = CheckSensorState();
    } else if (std::strcmp(desc.name, "forcedir") == 0) {
        m_forcedirZero = std::fabs(value) < kEpsilon;
    } else if (std::strcmp(desc.name, "strokelimit") == 0) {
        ok = CheckSensorState() && ok;
    }
    SetPropertyValueUpdated(true);
    MTRACE(5, "SetPropertyValue(): %s=%g done", desc.name, value);
    restore_activity();
    return ok;
}

// "force" moves the deflection along, "forcetol" the movezero target window, both through
// the head curve while the deflection simulation is on.
void CSensorBase::set_special_force_channels(const CSensorChannelDesc& desc,
                                             CSensorPropertyValue& entry, double value) {
    if (std::strcmp(desc.name, "force") == 0) {
        double deflection = 0.0;
        if (m_simulation.on && m_headCurve.DeflectionForForce(value, deflection))
            SetPropertyValue("deflection", deflection);
    } else if (std::strcmp(desc.name, "forcetol") == 0) {
        if (!m_simulation.on) {
            entry.raw = -entry.offset;
            if (!desc.HasLink())
                publish(entry);
            return;
        }
        CSensorMovezeroParameters& movezero = ControlParameters().movezero;
        if (value > kEpsilon) {
            double window = 0.0;
            if (!m_headCurve.DeflectionForForce(value, window))
                return;
            if (!m_targetWindowSaved) {
                m_targetWindowSaved = true;
                m_savedControlParametersRead = HasControlParameters();
                m_savedTargetWindow = movezero.TargetWindow_mm;
            }
            movezero.TargetWindow_mm = std::fabs(window - m_headCurve.min);
            SetControlParametersRead(true);
            MTRACE(4, "SetPropertyValue(): new TargetWindow_mm=%g", movezero.TargetWindow_mm);
        } else if (m_targetWindowSaved) {
            m_targetWindowSaved = false;
            movezero.TargetWindow_mm = m_savedTargetWindow;
            SetControlParametersRead(m_savedControlParametersRead);
            MTRACE(4, "SetPropertyValue(): restored TargetWindow_mm=%g", movezero.TargetWindow_mm);
        }
    }
}

bool CSensorBase::SetPropertyValueFromLink(const char* name, double value) {
    const CSensorChannelDesc* desc = FindChannel(name);
    bool force = desc && desc->IsLinkedToItself();
    return SetPropertyValueIndexed(static_cast<int>(GetPropertyIndex(name)), value, force);
}

void CSensorBase::UpdatePropertyFifoValues() {
    std::string list;
    PropertyData().GetStringEntry("General", "Channels", list);
    const std::vector<std::string> names = CSensor_SplitChannelList(list);
    const std::set<std::string> listed(names.begin(), names.end());

    for (CSensorPropertyValue& entry : m_values) {
        const CSensorChannelDesc* desc = FindChannel(entry.name);
        if (!desc || !entry.publish || desc->access == CSENSOR_ACCESS_D)
            continue;
        if (std::strcmp(entry.name, "lock") == 0)
            continue;
        if (listed.count(entry.name) == 0) {
            MTRACE(5, "UpdatePropertyFifoValues(): channel %s not supported by %s", entry.name,
                   GetName());
            continue;
        }
        if (!desc->HasLink()) {
            publish(entry);
            MTRACE(5, "UpdatePropertyFifoValues(): Fifo aus Instanz %s=%g", entry.name, entry.raw);
            continue;
        }
        double value = *entry.publish;
        value = value < desc->min ? desc->min : (value > desc->max ? desc->max : value);
        const double old_raw = entry.raw;
        entry.raw = value;
        if (!desc->is_child) {
            if (std::fabs(value - old_raw) >= kEpsilon) {
                PushSiblingValue(desc->link, value);
                publish(entry);
            }
        } else {
            const CSensorChannelDesc* parent = FindChannel(desc->link);
            if (parent) {
                double limited =
                    value < parent->min ? parent->min : (value > parent->max ? parent->max : value);
                if (limited != value) {
                    entry.raw = value = limited;
                    PushSiblingValue(parent->name, limited);
                }
            }
            publish(entry);
        }
        MTRACE(5, "UpdatePropertyFifoValues(): Instanz aus Fifo %s=%g", entry.name, value);
    }
}

// ---- Activation ----

bool CSensorBase::Activate() {
    remember_quick_access();
    SetActiveFlag(true);
    m_active2 = true;
    return true;
}

bool CSensorBase::Deactivate() {
    SetActiveFlag(false);
    m_active2 = false;
    m_movementControl = false;
    return true;
}

bool CSensorBase::SetMeasurement(bool on) {
    m_measuring = on;
    return true;
}

// ---- Value array ----

void CSensorBase::rebuild_values() {
    const CSensorChannelTable& table = GetPropertyTable();
    std::vector<CSensorPropertyValue> values(table.size());
    size_t i = 0;
    for (const auto& [name, desc] : table) {
        CSensorPropertyValue& entry = values[i++];
        entry.SetName(name);
        entry.raw = desc.default_value;
        entry.publish = &entry.raw;
        // A place in the machine's value array survives new property data.
        for (const CSensorPropertyValue& old : m_values)
            if (std::strcmp(old.name, entry.name) == 0 && !old.HasOwnPublish() && old.publish)
                entry.publish = old.publish;
    }
    m_values = std::move(values);
    if (!m_valuesBuilt) {
        m_valuesBuilt = true;
        m_forcedirZero = false;
        m_targetWindowSaved = false;
        m_systemRotation = m_tipRotation = m_transformation = CSensorMatrix::Identity();
    }
}

void CSensorBase::DropPropertyValues() {
    m_values.clear();
    m_quick.fill(nullptr);
}

void CSensorBase::remember_quick_access() {
    for (size_t slot = 0; slot < kQuickSlots; ++slot) {
        uint32_t index = GetPropertyIndex(kQuickNames[slot]);
        m_quick[slot] = valid_index(static_cast<int>(index)) ? m_values[index].publish : nullptr;
    }
}

// ---- Collision limits, transformation, derived limits ----

bool CSensorBase::InitCollisionLimits() {
    for (int k = 1; k <= 2; ++k) {
        HardwareData().SetDoubleEntry("TSK", stl_string_format("Max_%d", k), 1.0);
        HardwareData().SetDoubleEntry("TSK", stl_string_format("Min_%d", k), -1.0);
    }
    return true;
}

bool CSensorBase::UpdateCollisionLimits() {
    const double ranges[2] = {m_system.range, m_system.rangeTSK};
    for (int k = 1; k <= 2; ++k) {
        double r = std::fabs(ranges[k - 1]);
        HardwareData().SetDoubleEntry("TSK", stl_string_format("Max_%d", k),
                                      r * m_system.lockLimitMaxPercent / 100.0);
        HardwareData().SetDoubleEntry("TSK", stl_string_format("Min_%d", k),
                                      -r * m_system.lockLimitMinPercent / 100.0);
    }
    return true;
}

bool CSensorBase::UpdateSensorTransformation() {
    m_systemRotation = CSensorMatrix::FromAngles(m_system.alpha, m_system.beta, m_system.gamma);
    m_tipRotation = CSensorMatrix::FromAngles(m_tip.alpha, m_tip.beta, m_tip.gamma);
    m_transformation = m_systemRotation * m_system.matrix;

    // The probe points along z of the tip's own frame.
    double direction[3] = {0.0, 0.0, 1.0};
    (m_transformation * m_tipRotation).Apply(direction);
    double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                              direction[2] * direction[2]);
    if (length > kEpsilon)
        for (double& d : direction)
            d /= length;
    const double tip[3] = {m_tip.x0, m_tip.y0, m_tip.z0};
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(direction[i] - m_probeDirection[i]) > kEpsilon)
            SetProbeDirectionChanged(true);
        m_probeDirection[i] = direction[i];
        double offset = m_tip.offset[i] + tip[i];
        if (std::fabs(offset - m_tipOffsetSum[i]) > kEpsilon)
            SetTipOffsetChanged(true);
        m_tipOffsetSum[i] = offset;
    }
    return true;
}

bool CSensorBase::UpdateSensorProperties() {
    CSensorChannelDesc* force = FindChannel("force");
    if (!force || !m_headCurve.valid)
        return true;
    const double reachable = m_headCurve.MaxValue();
    if (reachable < force->max) {
        MTRACE(4,
               "UpdateSensorProperties(): max. force value reduced to %g instead of %g due to "
               "possible deflection",
               reachable, force->max);
        force->max = reachable;
    }
    return true;
}

int CSensorBase::ReadDeflectionSimulation(MIniData& doc) {
    int changes = m_simulation.Read(doc);
    if (m_simulation.on)
        MTRACE(4, "ReadDeflectionSimulation(): Simulation der Tastereingaenge T1..Tn\n");
    else
        MTRACE(5, "ReadDeflectionSimulation(): Keine Simulation der Tastereingaenge T1..Tn\n");
    return changes;
}

// ---- Configuration readers ----

bool CSensorBase::ReadSystemGeometry(MIniData& doc, int& changes) {
    CSensorIniReader reader(doc);
    m_system.ReadGeometry(reader);
    changes += reader.Changes();
    return true;
}

bool CSensorBase::ReadSystemProbetype(MIniData& doc, int& changes) {
    CSensorIniReader reader(doc);
    bool known = m_system.ReadProbetype(reader, m_acceptedTypes, m_features);
    changes += reader.Changes();
    SetSerialNo(m_system.serialNo);
    HardwareData().SetStringEntry("Probe", "Type", m_system.probeType);
    if (!known) {
        MERRLOG("ReadSystemProbetype(): probe type '%s' not supported by %s (%s)",
                m_system.probeType.c_str(), GetName(), m_acceptedTypes.c_str());
        PushErrorCode(CSENSOR_ERR_PROBESYSTEM_TYPE);
    }
    return known;
}

bool CSensorBase::ReadSystemRange(MIniData& doc, int& changes) {
    CSensorIniReader reader(doc);
    m_system.ReadRange(reader, m_features);
    changes += reader.Changes();
    return true;
}

bool CSensorBase::ReadSystemMatrix(MIniData& doc, int& changes) {
    CSensorIniReader reader(doc);
    m_system.ReadMatrix(reader);
    changes += reader.Changes();
    return true;
}

// ---- Probe tip data (user data) ----

bool CSensorBase::ProcessUserData(std::string_view text, bool flag) {
    const int level = ChangeTraceLevel();
    if (!CSensor::SetUserData(text))
        return false;
    MTRACE(5, "SetUserData()");
    MIniData& user = UserData();
    int changes = CSensor_UpdateCalibrationSections(user);
    changes += ReadCapabilities(user);

    bool unloaded = true;
    changes += ReadTipGeometry(user, unloaded, flag);
    if (unloaded) {
        // Written back all the same, but not reported: a probe system without a tip is
        // completed on every switch, and the line would say nothing new each time.
        MTRACE(4, "SetUserData(): tip unloaded");
        return true;
    }

    CSensorIniReader reader(user);
    m_tip.tipType = reader.Text("ProbeTip", "TipType", "SPHERE");
    m_tip.radius_mm = reader.Double("ProbeTip", "Radius_mm", 0.0);
    m_tip.calibrated = reader.Long("ProbeTip", "Calibrated", 0, 0, 1);
    changes += reader.Changes();

    double value = 0.0;
    int range = 1;
    // Asked only where the channels exist: camera sensors answer unknown names with an error.
    if (HasProperty("range") && GetPropertyValue("range", &value) && value >= 1.0)
        range = static_cast<int>(std::lround(value));
    double forcedir = 0.0;
    if (!HasProperty("forcedir") || !GetPropertyValue("forcedir", &forcedir))
        forcedir = 0.0;
    m_forcedirZero = std::fabs(forcedir) < kEpsilon;

    bool curve_ok = ReadHeadCurve(ConfigData(), m_headCurve, forcedir);
    if (!m_simulation.on && user.HasSection("force"))
        curve_ok = ReadHeadCurve(user, m_headCurve, forcedir) && curve_ok;
    if (HasProperty("force")) {
        double force = 0.0;
        GetPropertyValue("force", &force);
        if (m_headCurve.valid) {
            double low = m_headCurve.MinValue(), high = m_headCurve.MaxValue();
            force = force < low ? low : (force > high ? high : force);
        }
        SetPropertyValue("force", force);
    }
    if (HasProperty("forcetol"))
        SetPropertyValue("forcetol", 0.0);
    UpdateSensorProperties();

    char section[48];
    std::snprintf(section, sizeof(section), "%s_%d", "Range", range);
    changes += ReadTipCalibrationValues(user, section, range);
    changes += ReadSectionCalibrationState(user, section);

    double hub_max = 0.0, hub_min = 0.0;
    HardwareData().GetDoubleEntry("TSK", stl_string_format("Max_%d", range), hub_max);
    HardwareData().GetDoubleEntry("TSK", stl_string_format("Min_%d", range), hub_min);
    MTRACE(5, "SetUserData(): dHubMaxTsk=%f, dHubMinTsk=%f", hub_max, hub_min);
    bool ok = UpdateSensorTransformation();
    ok = CheckSensorState() && ok;
    changes += ReadDeflectionSimulation(user);
    MTRACE(4, "SetUserData(): tip loaded");
    if (changes > 0)
        MTRACE_LEVEL(level, "SetUserData() [%s]: Data changed or extended", GetName());
    return ok && curve_ok;
}

int CSensorBase::ReadTipGeometry(MIniData& doc, bool& tipUnloaded, bool flag) {
    MTRACE(5, "ReadTipGeometry(): %s", GetName());
    CSensorIniReader reader(doc);
    m_tip.componentName = reader.Text("General", "ComponentName", "probe.tip");
    m_tip.armName = reader.Text("General", "ArmName", "unknown probe arm name");
    m_tip.tipName = reader.Text("General", "TipName", "unknown probe tip name");

    const double x0 = reader.Double("Geometry", "x0", 0.0);
    const double y0 = reader.Double("Geometry", "y0", 0.0);
    const double z0 = reader.Double("Geometry", "z0", 0.0);
    const double length = std::sqrt(x0 * x0 + y0 * y0 + z0 * z0);
    const double alpha = reader.Double("Geometry", "alpha", 0.0, -359.0, 359.0);
    double beta = reader.Double("Geometry", "beta", 0.0, -359.0, 359.0);
    const double gamma = reader.Double("Geometry", "gamma", 0.0, -359.0, 359.0);

    m_tip.length = flag ? length : m_system.defaultStylusLength_mm;
    const bool no_angles =
        std::fabs(alpha) < kEpsilon && std::fabs(beta) < kEpsilon && std::fabs(gamma) < kEpsilon;
    if (flag && no_angles && (std::fabs(x0) > kEpsilon || std::fabs(z0) > kEpsilon)) {
        // A straight tip along -z has beta 0; the angle follows the tip vector from there.
        double b = std::atan2(x0, z0) / kPi * 180.0;
        beta = b > 0.0 ? b - 180.0 : b + 180.0;
    }
    m_tip.x0 = x0;
    m_tip.y0 = y0;
    m_tip.z0 = z0;
    m_tip.alpha = alpha;
    m_tip.beta = beta;
    m_tip.gamma = gamma;
    m_tip.offset[0] = reader.Double("ProbeTipsOffsets", "Offset_X_mm", 0.0);
    m_tip.offset[1] = reader.Double("ProbeTipsOffsets", "Offset_Y_mm", 0.0);
    m_tip.offset[2] = reader.Double("ProbeTipsOffsets", "Offset_Z_mm", 0.0);
    RegisterComponent("probe.tip", m_tip.ComponentText());

    if (doc.HasEntry("Geometry", "UnloadedWithGeometry")) {
        tipUnloaded = true;
        UpdateSensorProperties();
        MTRACE(3, "%s: Faking probearm geometry", "CSensorBase::ReadTipGeometry");
    } else if (length >= kEpsilon) {
        tipUnloaded = false;
    } else {
        tipUnloaded = true;
        UpdateSensorProperties();
        MTRACE_LEVEL(ChangeTraceLevel(), "ReadTipGeometry(): %s with tip unloaded due to len=0",
                     GetName());
        if (doc.HasEntry("Geometry", "D")) {
            MERRLOG("ReadTipGeometry(): Invalid tip geometry for %s: x=%g, y=%g, z=%g", GetName(),
                    x0, y0, z0);
            PushErrorCode(CSENSOR_ERR_TIP_GEOMETRY);
        }
    }
    m_tip.unloaded = tipUnloaded;

    const double stylus = m_system.defaultStylusLength_mm;
    const double speed = stylus > kEpsilon ? m_tip.length / stylus * m_system.range * 5.0 : 0.0;
    reader.Double("MovezeroControlPara", "MaxMovezeroSpeed_mm_s", speed);
    reader.Double("MovezeroControlPara", "MaxMovezeroAccel_mm_s2", 4.0 * speed);
    return reader.Changes();
}

int CSensorBase::ReadTipCalibrationValues(MIniData& doc, const std::string& section, int range) {
    CSensorIniReader reader(doc);
    CSensorTipCalibration calibration;
    calibration.range = range;
    for (int i = 0; i < CSensorTipCalibration::kAxes; ++i) {
        const int axis = i + 1;
        char key[32];
        std::snprintf(key, sizeof(key), "%s_%d_default", "E", axis);
        calibration.E_default[i] = reader.Double(section, key, 1.0);
        std::snprintf(key, sizeof(key), "%s_%d", "E", axis);
        double gain = reader.Double(section, key, calibration.E_default[i]);
        if (!(gain > CSensorTipCalibration::kMinGain && gain < CSensorTipCalibration::kMaxGain)) {
            MERRLOG("ReadTipCalibrationValues(): %s: invalid probe tip gain %s=%g in [%s]",
                    GetName(), key, gain, section.c_str());
            PushErrorCode(CSENSOR_ERR_TIP_GAIN);
            gain = calibration.E_default[i];
        }
        calibration.E[i] = gain;
        std::snprintf(key, sizeof(key), "%s_%d", "M0", axis);
        calibration.M0[i] = reader.Double(section, key, 0.0);
    }
    m_tipCalibration = calibration;
    return reader.Changes();
}

int CSensorBase::ReadSectionCalibrationState(MIniData& doc, const std::string& section) {
    // Only the range section's state and interval count as changes; the other defaults are
    // written all the same.
    CSensorIniReader counted(doc);
    CSensorIniReader uncounted(doc);
    uncounted.Flag("Calibration", "Calibrated", 1);
    int32_t calibrated = counted.Flag(section, "Calibrated", 0);
    const int32_t interval = counted.Long(section, "Interval", 90);
    uncounted.Text(section, "Message", "");
    const std::string date = uncounted.Text(section, "Date", "01.01.2014");

    long days = 0;
    if (calibrated && interval > 0 && CSensor_DaysSinceDate(date, m_clock(), days) &&
        days - interval > 0) {
        MTRACE_LEVEL(ChangeTraceLevel(),
                     "ReadSectionCalibrationState(): calibration interval surpassed in %s by %ld "
                     "days",
                     section.c_str(), days - interval);
        calibrated = 0;
        doc.SetLongEntry(section, "Calibrated", 0);
    }
    doc.SetLongEntry("Calibration", section, calibrated);

    if (!calibrated) {
        doc.SetLongEntry("Calibration", "Calibrated", 0);
        MTRACE(4, "ReadSectionCalibrationState(): %s has calibration necessary in section '%s'",
               GetName(), section.c_str());
        return counted.Changes();
    }
    std::vector<std::string> names;
    doc.GetEntryNames("Calibration", names);
    // The overall state is calibrated only while every range is; an entry that is no number
    // counts as uncalibrated.
    bool all = true;
    for (const std::string& name : names) {
        double state = 0.0;
        if (name != "Calibrated" &&
            (!doc.GetDoubleEntry("Calibration", name, state) || state == 0.0))
            all = false;
    }
    doc.SetLongEntry("Calibration", "Calibrated", all ? 1 : 0);
    return counted.Changes();
}

int CSensorBase::ReadCapabilities(MIniData& doc) {
    const char* section = "capabilities";
    if (!doc.HasSection(section))
        return 0;
    int changes = 0;
    std::vector<std::string> names;
    for (const auto& entry : GetPropertyTable())
        names.push_back(entry.first);
    for (const std::string& name : names) {
        CSensorChannelDesc* desc = FindChannel(name.c_str());
        if (!desc || desc->access == CSENSOR_ACCESS_I || desc->v_max > 0.0)
            continue;
        std::string key = name + ".min";
        double value = 0.0;
        if (doc.GetDoubleEntry(section, key, value)) {
            desc->min = value;
            PropertyData().SetDoubleEntry(name, "Min", value);
            MTRACE(4, "%s: changed %s=%g", "CSensorBase::ReadCapabilities", key.c_str(), value);
        }
        key = name + ".max";
        if (doc.GetDoubleEntry(section, key, value)) {
            desc->max = value;
            PropertyData().SetDoubleEntry(name, "Max", value);
            MTRACE(4, "%s: changed %s=%g", "CSensorBase::ReadCapabilities", key.c_str(), value);
        }
        key = name + ".default";
        if (doc.GetDoubleEntry(section, key, value)) {
            SetPropertyValueFromLink(name.c_str(), value);
            GetPropertyValue(name.c_str(), &value);
            double old = 0.0;
            if (!doc.GetDoubleEntry(section, key, old) || old != value)
                ++changes;
            doc.SetDoubleEntry(section, key, value);
            MTRACE(4, "%s: changed %s=%g", "CSensorBase::ReadCapabilities", key.c_str(), value);
        }
    }
    return changes;
}

bool CSensorBase::ReadHeadCurve(MIniData& doc, CSensorHeadCurve& curve, double forceDirection) {
    if (curve.Read(doc, forceDirection, GetName()))
        return true;
    PushErrorCode(CSENSOR_ERR_PROCESS_CONFIG);
    return false;
}
