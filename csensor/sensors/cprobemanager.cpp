#include "csensor/sensors/cprobemanager.h"

#include "csensor/sensors/cprobeconfigdb.h"
#include "csensor/sensors/csensor.h"
#include "csensor/sensors/csensorbase.h"
#include "csensor/sensors/csensordefaults.h"
#include "csensor/sensors/csensorerrors.h"
#include "csensor/sensors/csensorregistry.h"
#include "csensor/sensors/mbitmap2double.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mutil/minidata.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <algorithm>

namespace {

const char kUnloaded[] = "unloaded";
const char kShell[] = "SHELL:0";
const char kHardware[] = "HARDWARE";
const char kMc[] = "MC";
const char kProperties[] = "PROPERTIES";
const char kGeometry[] = "GEOMETRY";
const char kProbesystem[] = "PROBESYSTEM";
const char kCSensor[] = "CSensor";
const char kProbeSystemSection[] = "ProbeSystem";
const char kTotal[] = "probesystem.total";
const char kList[] = "probesystem.list";

// Longest type list a sensor may report; the list was read into a buffer of 512 characters.
constexpr size_t kMaxTypeList = 511;

// The hardware description of the measuring inputs used while the database has none: two
// measuring inputs and a switching one, with the comments the operators know.
const char kDefaultHardwareDescription[] =
    "[GENERAL]\n"
    "Input=2\n"
    "[Input_1]\n"
    "type=Form,QPD ; e(None,QPD,Form,Camera,Laser,SwitchingProbe,UniversalTrigger)\n"
    "zeroshift_mm=1. ; Nullpunktverschiebung e( 0=n.a. / >0=Wertebereich in mm)\n"
    "range=2 ; Anzahl Messbereiche fuer diesen Tastereingang\n"
    "range_1_mm=1.0 ; Messbereich 1 in mm\n"
    "range_2_mm=0.1 ; Messbereich 2 in mm\n"
    "[Input_2]\n"
    "type=Form ; e(None,QPD,Form,Camera,Laser,SwitchingProbe,UniversalTrigger)\n"
    "zeroshift_mm=0. ; Nullpunktverschiebung e( 0=n.a. / >0=Wertebereich in mm)\n"
    "range=2 ; Anzahl Messbereiche fuer diesen Tastereingang\n"
    "range_1_mm=1.0 ; Messbereich 1 in mm\n"
    "range_2_mm=0.1 ; Messbereich 2 in mm\n"
    "[Input_3]\n"
    "type=SwitchingProbe ; "
    "e(None,QPD,Form,FormQPD,Camera,Laser,SwitchingProbe,UniversalTrigger)\n"
    "damping_s=0.05 ; Daempfung in sec fuer schaltende Eingaenge\n";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string> split_blanks(std::string_view text) {
    std::vector<std::string> items;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && is_blank(text[pos]))
            ++pos;
        size_t end = pos;
        while (end < text.size() && !is_blank(text[end]))
            ++end;
        if (end > pos)
            items.emplace_back(text.substr(pos, end - pos));
        pos = end;
    }
    return items;
}

// The types a sensor serves: CSensorBase names them itself; other sensors hand the list out
// through their second text getter.
std::string type_list_of(CSensor* sensor) {
    const char* list = nullptr;
    if (auto* base = dynamic_cast<CSensorBase*>(sensor))
        list = base->GetSensorTypeList();
    else
        list = sensor->GetTypeInfo();
    return list ? std::string(list) : std::string();
}

} // namespace

CProbeManager::CProbeManager() = default;

CProbeManager::~CProbeManager() {
    Close();
}

// ---- Life cycle ----

void CProbeManager::InitSensors(double value) {
    if (!m_sensors.empty())
        return;
    for (const auto& [name, factory] : CSensorRegistry_GetEntries()) {
        std::unique_ptr<CSensor> sensor = factory();
        if (!sensor) {
            MERRTRACE("%s(): failed to get instance of %s", "CProbeManager::InitSensors",
                      name.c_str());
            continue;
        }
        sensor->SetMachineValue(value);
        m_sensors.push_back(std::move(sensor));
    }
}

bool CProbeManager::Open(const std::string& directory, const std::string& fileName, double value) {
    if (m_ProbeConfigDB)
        return true;

    m_typeList.clear();
    m_typeMap.clear();
    m_ProbeConfigDB = std::make_unique<CProbeConfigDB>(directory, fileName);
    if (!m_ProbeConfigDB->Open())
        MERRLOG("Open(): m_ProbeConfigDB.Open() failed ");

    // The stored default channel table is the one of this machine: it applies to every
    // sensor built from now on, and the built-in one applies when this database has none.
    std::string defaults;
    CSensor_SetDefaultConfigData(db_read(kCSensor, kProperties, defaults) ? defaults
                                                                          : std::string());

    InitSensors(value);

    for (const auto& sensor : m_sensors) {
        const std::string className = sensor->GetSensorClass();
        if (CSensor* initialised = InitNewSensor(sensor.get(), className)) {
            m_sensor = initialised;
            MTRACE(3, "%s(): sensor %s initialised", "CProbeManager::Open", className.c_str());
        } else {
            MTRACE(2, "%s(): sensor \"%s\" couldn't be initialized, perhaps is is not supported",
                   "CProbeManager::Open", className.c_str());
        }
    }

    DefineProbesystemList();

    if (!InitObjectLockValue()) {
        MERRLOG("%s(): create MBitmap2Double_Create() failed", "CProbeManager::Open");
        return false;
    }

    if (CSensor* shell = FindSensor(kShell))
        m_sensor = shell;

    if (!m_sensor) {
        m_ProbeConfigDB.reset();
        return false;
    }
    return true;
}

bool CProbeManager::Close() {
    m_sensor = nullptr;
    m_typeMap.clear();
    m_typeList.clear();
    m_probetipLoaded = false;
    // Newest first: the camera sensor, created first, lets go of the camera last.
    while (!m_sensors.empty())
        m_sensors.pop_back();
    m_ProbeConfigDB.reset();
    // The sensors borrowed the bit; they are gone now.
    m_objectLock.reset();
    return true;
}

CSensor* CProbeManager::InitNewSensor(CSensor* sensor, const std::string& className) {
    static const char kOp[] = "CProbeManager::InitNewSensor";
    MTRACE(4, "InitNewSensor('%s')", className.c_str());

    std::string text;
    if (db_read(kHardware, kMc, text)) {
        if (!sensor->SetHardwareProperties(text))
            MTRACE(1, "%s(): failed to set MC desc for '%s'", kOp, className.c_str());
    } else if (!sensor->SetHardwareProperties(kDefaultHardwareDescription)) {
        MTRACE(1, "%s(): failed to set MC default desc for'%s'", kOp, className.c_str());
    } else {
        // Stored with the defaults the sensor filled in, so that the operators find every
        // input setting in the file.
        std::string resulting;
        if (sensor->GetHardwareProperties(resulting))
            db_write(kHardware, kMc, resulting);
    }

    if (db_read(className, kProperties, text) && !sensor->SetPropertyData(std::string_view(text)))
        MTRACE(1, "%s(): failed to set properties for %s", kOp, className.c_str());

    if (db_read(className, kGeometry, text) && !sensor->SetGeometryData(text))
        MTRACE(1, "%s(): failed to set geometry for '%s'", kOp, className.c_str());

    // "?" is stored as plain text (the operators type it) and asks for the sensor's
    // features to be stored in its place.
    std::string raw;
    if (m_ProbeConfigDB && m_ProbeConfigDB->IsOpen() &&
        m_ProbeConfigDB->GetStringEntry(className, kProbesystem, raw)) {
        bool asked = stl_string_trim_blanks(raw) == "?";
        if (!asked && db_read(className, kProbesystem, text)) {
            asked = text == "?";
            if (!asked && !sensor->SetFeatures(text))
                MTRACE(1, "%s(): failed to set features for '%s'", kOp, className.c_str());
        }
        std::string features;
        if (asked && sensor->GetFeatures(features))
            db_write(className, kProbesystem, features);
        else if (asked)
            MTRACE(1, "%s(): failed to get features for '%s';use default probesystem properties",
                   kOp, className.c_str());
    }

    if (!UpdateSensorList(sensor)) {
        MTRACE(5, "%s(): no sensor list available for '%s'", kOp, className.c_str());
        return nullptr;
    }
    return sensor;
}

bool CProbeManager::UpdateSensorList(CSensor* sensor) {
    const std::string list = type_list_of(sensor);
    if (list.size() > kMaxTypeList) {
        MERRLOG("UpdateSensorList(): failed to read full sensor list from sensor %s",
                sensor->GetName());
        push_error(CSENSOR_ERR_INIT);
        return false;
    }
    const std::vector<std::string> types = split_blanks(list);
    if (types.empty()) {
        MTRACE(4,
               "%s(): no sensor list available from sensor \"%s\" due to missing hardware "
               "capabilities, perhaps not supported",
               "CProbeManager::UpdateSensorList", sensor->GetName());
        return false;
    }
    for (const std::string& type : types) {
        const bool known = m_typeMap.count(type) > 0;
        m_typeMap[type] = sensor;
        if (type != kUnloaded && !known)
            m_typeList += type + " ";
    }
    return true;
}

void CProbeManager::DefineProbesystemList() {
    std::string inUse;
    if (GetProbesystemList(inUse)) {
        const std::vector<std::string> used = split_blanks(inUse);
        for (auto it = m_typeMap.begin(); it != m_typeMap.end();) {
            // The placeholder is never offered as a probe system but always needed.
            const bool keep = it->first == kUnloaded ||
                              std::find(used.begin(), used.end(), it->first) != used.end();
            if (keep) {
                ++it;
                continue;
            }
            MTRACE(5, "%s(): removed sensor from probesystem list: %s",
                   "CProbeManager::DefineProbesystemList", it->first.c_str());
            it = m_typeMap.erase(it);
        }
    }
    align_placeholder_channels();
}

void CProbeManager::align_placeholder_channels() {
    CSensor* placeholder = FindSensor(kUnloaded);
    if (!placeholder)
        return;
    for (const auto& other : m_sensors) {
        if (other.get() == placeholder)
            continue;
        const CSensorChannelTable mine = placeholder->GetPropertyTable();
        const CSensorChannelTable& theirs = other->GetPropertyTable();
        auto m = mine.begin();
        auto t = theirs.begin();
        for (; m != mine.end() && t != theirs.end(); ++m, ++t) {
            CSensorChannelDesc desc = m->second;
            if (desc.access != CSENSOR_ACCESS_I || t->second.access == CSENSOR_ACCESS_I ||
                (desc.flags & CSENSOR_FLAG_COMPONENT))
                continue;
            desc.access = CSENSOR_ACCESS_D;
            placeholder->SetPropertyData(desc.name, &desc);
        }
    }
}

bool CProbeManager::InitObjectLockValue() {
    if (!m_objectLock) {
        m_objectLock = MBitmap2Double_Create(&m_lockValue);
        if (!m_objectLock) {
            MERRLOG("%s(): create MBitmap2Double_Create() failed",
                    "CProbeManager::InitObjectLockValue");
            push_error(CSENSOR_ERR_NOT_INITIALISED);
            return false;
        }
    } else {
        // Carried over: the bit is let go, set up afresh and put back as it was.
        const bool state = m_objectLock->GetState();
        m_objectLock->SetState(false);
        m_objectLock->Attach(&m_lockValue);
        m_objectLock->Reset();
        m_objectLock->SetState(state);
    }
    for (const auto& sensor : m_sensors)
        sensor->SetObjectLock(m_objectLock.get());
    return true;
}

// ---- Probe data ----

CSensor* CProbeManager::GetNewSensor(const std::string& data) {
    MIniData doc;
    if (!doc.SetContentString(data)) {
        MERRLOG("GetNewSensor(): invalid format of sensor data");
        push_error(CSENSOR_ERR_PROCESS_CONFIG);
        return nullptr;
    }
    std::string type;
    if (!doc.GetStringEntry("Geometry", "ProbeType", type)) {
        std::string x0;
        if (!doc.GetStringEntry("Geometry", "x0", x0)) {
            MERRLOG("GetNewSensor(): failed to find %s - %s", "Geometry", "ProbeType");
            push_error(CSENSOR_ERR_PROCESS_CONFIG);
            return nullptr;
        }
        type = kUnloaded;
    }
    type = std::string(stl_string_trim_blanks(type));
    CSensor* sensor = FindSensor(type);
    if (!sensor) {
        MERRLOG("GetNewSensor(): unknown sensor %s", type.c_str());
        push_error(CSENSOR_ERR_PROBESYSTEM_TYPE);
        return nullptr;
    }
    return sensor;
}

bool CProbeManager::SetProbesystem(const std::string& data) {
    CSensor* previous = m_sensor;
    if (!previous || !previous->Deactivate()) {
        if (!previous)
            push_error(CSENSOR_ERR_NOT_INITIALISED);
        MERRTRACE("SetProbesystem(): Deactivate() failed");
        return false;
    }
    CSensor* sensor = GetNewSensor(data);
    if (!sensor) {
        MERRTRACE("SetProbesystem(): GetNewSensor() failed");
        previous->Activate();
        return false;
    }
    m_sensor = sensor;
    if (!sensor->SetConfigData(data)) {
        SetProbetip(std::string());
        MERRTRACE("SetProbesystem(): SetConfigData() failed");
        return false;
    }
    // A new probe system starts without a tip: the caller loads the one that belongs to it.
    if (sensor != previous || m_probetipLoaded)
        SetProbetip(std::string());
    else
        sensor->Activate();

    for (const auto& [name, offset] : m_channelOffsets) {
        if (!sensor->HasProperty(name.c_str()))
            continue;
        SetChannelOffset(name.c_str(), offset);
        double value = 0.0;
        sensor->GetPropertyValue(name.c_str(), &value);
        MTRACE(4, "SetProbesystem(): %s=%g offset=%g", name.c_str(), value, offset);
    }
    sensor->UpdatePropertyFifoValues();
    return true;
}

bool CProbeManager::SetProbeProperties(const std::string& data) {
    static const char kOp[] = "CProbeManager::SetProbeProperties";
    MTRACE(4, "SetProbeProperties()");
    CSensor* sensor = m_sensor;
    if (!sensor || !sensor->Deactivate()) {
        if (!sensor)
            push_error(CSENSOR_ERR_NOT_INITIALISED);
        MERRTRACE("%s(): failed to deactivate sensor", kOp);
        return false;
    }
    std::string userData;
    std::string configData;
    sensor->GetUserData(userData);
    sensor->GetConfigData(configData);
    if (!sensor->SetPropertyData(std::string_view(data))) {
        MERRTRACE("%s(): failed to set geometry data", kOp);
        sensor->Activate(); // the sensor keeps working with its old properties
        return false;
    }
    {
        // New channels may change how the configuration and the tip are read: both are
        // applied again. A failure there leaves the sensor as the properties made it.
        MErrTraceContext context(__FILE__);
        if (!sensor->SetConfigData(configData))
            MERRTRACE("%s(): SetConfigData() failed", kOp);
        if (!sensor->SetUserData(userData))
            MERRTRACE("%s(): SetUserData() failed", kOp);
    }
    if (!sensor->Activate()) {
        MERRTRACE("%s(): failed to activate sensor", kOp);
        return false;
    }
    return true;
}

bool CProbeManager::SetProbetip(const std::string& data) {
    MTRACE(4, "SetProbetip().");
    CSensor* sensor = m_sensor;
    if (!sensor || !sensor->Deactivate()) {
        if (!sensor)
            push_error(CSENSOR_ERR_NOT_INITIALISED);
        MERRLOG("SetProbetip(): failed to deactivate sensor");
        return false;
    }
    if (!sensor->SetUserData(data)) {
        MERRLOG("SetProbetip(): failed to set probe tip data");
        sensor->Activate();
        return false;
    }
    m_probetipLoaded = !data.empty();
    if (!sensor->Activate()) {
        MERRLOG("SetProbetip(): failed to activate sensor");
        return false;
    }
    return true;
}

bool CProbeManager::SetProbeGeometry(const std::string& data) {
    MTRACE(4, "SetProbeGeometry().");
    CSensor* sensor = m_sensor;
    if (!sensor || !sensor->Deactivate()) {
        if (!sensor)
            push_error(CSENSOR_ERR_NOT_INITIALISED);
        MERRLOG("SetProbeGeometry(): failed to deactivate sensor");
        return false;
    }
    if (!sensor->SetGeometryData(data)) {
        MERRLOG("SetProbeGeometry(): failed to set geometry data");
        sensor->Activate();
        return false;
    }
    if (!sensor->Activate()) {
        MERRLOG("SetProbeGeometry(): failed to activate sensor");
        return false;
    }
    return true;
}

bool CProbeManager::SetHardwareProperties(const std::string& data) {
    MIniData doc;
    if (!doc.SetContentString(data)) {
        MERRLOG("SetHardwareProperties(): no MIniData format");
        push_error(CSENSOR_ERR_PROCESS_CONFIG);
        return false;
    }
    return ConfigDBWrite(kHardware, kMc, data);
}

bool CProbeManager::GetHardwareData(std::string& text, const std::string& sensorType) {
    CSensor* sensor = sensorType.empty() ? m_sensor : FindSensor(sensorType);
    if (!sensor) {
        MERRTRACE("GetHardwareData(): unknown sensor: %s", sensorType.c_str());
        return false;
    }
    return sensor->GetHardwareData(text);
}

// ---- Channels ----

bool CProbeManager::SetPropertyValue(int index, double value) {
    if (!m_sensor || !m_sensor->SetPropertyValue(index, value)) {
        MERRLOG("SetPropertyValue(): failed to set value #%d=%g", index, value);
        return false;
    }
    return true;
}

bool CProbeManager::SetPropertyValue(const char* name, double value) {
    if (!m_sensor || !name || !m_sensor->SetPropertyValue(name, value)) {
        MERRLOG("SetPropertyValue(): failed to set value %s=%g", name ? name : "", value);
        return false;
    }
    return true;
}

bool CProbeManager::SetPropertyOffset(const char* name, double value) {
    if (!m_sensor || !name || !m_sensor->SetPropertyOffset(name, value)) {
        MERRLOG("SetPropertyOffset(): failed to set value %s=%g", name ? name : "", value);
        return false;
    }
    return true;
}

bool CProbeManager::SetPropertyFifoAddress(int index, double* address) {
    bool all = true;
    for (const auto& sensor : m_sensors) {
        if (sensor->SetPropertyFifoAddress(index, address))
            continue;
        MERRLOG("SetPropertyFifoAddress(): failed to set address of index #%d for '%s'", index,
                sensor->GetName());
        push_error(CSENSOR_ERR_INIT);
        all = false;
    }
    return all;
}

bool CProbeManager::SetPropertyFifoAddress(const char* name, double* address) {
    bool all = true;
    for (const auto& sensor : m_sensors) {
        if (name && sensor->SetPropertyFifoAddress(name, address))
            continue;
        MERRLOG("SetPropertyFifoAddress(): failed to set address channel %s for '%s'",
                name ? name : "", sensor->GetName());
        push_error(CSENSOR_ERR_INIT);
        all = false;
    }
    return all;
}

bool CProbeManager::SetChannelOffset(const char* name, double offset) {
    if (!name)
        return true;
    MTRACE(4, "SetChannelOffset(): offset %s=%g", name, offset);
    CSensor* sensor = m_sensor;
    if (!sensor || !sensor->HasProperty(name))
        return true;
    m_channelOffsets[name] = offset;
    CSensorChannelDesc desc;
    if (sensor->GetPropertyData(name, &desc) && desc.master) {
        // The master's visible value stays where it is; only the raw value moves.
        MTRACE(4, "SetChannelOffset(): ignore offset %s=%g", name, offset);
        double value = 0.0;
        sensor->GetPropertyValue(name, &value);
        sensor->SetPropertyOffset(name, offset);
        SetPropertyValue(name, value);
    } else {
        sensor->SetPropertyOffset(name, offset);
    }
    return true;
}

bool CProbeManager::GetChannelOffset(const char* name, double* offset) const {
    if (!offset)
        return true;
    auto it = name ? m_channelOffsets.find(name) : m_channelOffsets.end();
    *offset = it != m_channelOffsets.end() ? it->second : 0.0;
    return true;
}

bool CProbeManager::GetPropertyTable(CSensorChannelTable& table) const {
    if (!m_sensor)
        return false;
    table = m_sensor->GetPropertyTable();
    return true;
}

bool CProbeManager::HasErrors() {
    if (!m_errorCodes.empty())
        return true;
    return m_sensor && m_sensor->HasErrors();
}

uint32_t CProbeManager::GetErrorCode() {
    if (!m_errorCodes.empty()) {
        const uint32_t code = m_errorCodes.front();
        m_errorCodes.pop_front();
        return code;
    }
    return m_sensor ? m_sensor->GetErrorCode() : 0;
}

// ---- Probe-system types and database ----

bool CProbeManager::GetProbesystemList(std::string& list) {
    std::string content;
    if (!m_ProbeConfigDB || !m_ProbeConfigDB->GetFileContent(content)) {
        MERRLOG("GetProbesystemList(): no probesystem list available");
        return false;
    }
    MIniData doc;
    doc.SetContentString(content);
    bool changed = false;
    std::string value;
    if (!doc.GetStringEntry(kProbeSystemSection, kTotal, value) || value != m_typeList) {
        doc.SetStringEntry(kProbeSystemSection, kTotal, m_typeList);
        changed = true;
    }
    if (!doc.GetStringEntry(kProbeSystemSection, kList, value)) {
        doc.SetStringEntry(kProbeSystemSection, kList, m_typeList);
        value = m_typeList;
        changed = true;
    }

    std::string inUse;
    const std::vector<std::string> items = split_blanks(value);
    if (items.empty()) {
        MTRACE(4, "GetProbesystemList(): using default probe list due to empty item "
                  "'probesystem.list'");
        inUse = m_typeList;
    }
    for (const std::string& item : items) {
        if (FindSensor(item)) {
            MTRACE(4, "GetProbesystemList(): use probesystem '%s'", item.c_str());
            if ((" " + inUse).find(" " + item + " ") == std::string::npos)
                inUse += item + " ";
        } else {
            MTRACE(5, "GetProbesystemList(): don't use probesystem '%s'", item.c_str());
        }
    }
    if (changed && !m_ProbeConfigDB->SetFileContent(doc.GetContentString()))
        return false;
    list = inUse;
    return true;
}

bool CProbeManager::ConfigDBWrite(const std::string& section, const std::string& key,
                                  const std::string& text) {
    if (!m_ProbeConfigDB) {
        MERRLOG("ConfigDBWrite(): no probe configuration database");
        return false;
    }
    return m_ProbeConfigDB->WriteData(section, key, text);
}

bool CProbeManager::ConfigDBRead(const std::string& section, const std::string& key,
                                 std::string& text) {
    if (!m_ProbeConfigDB) {
        MERRLOG("ConfigDBRead(): no probe configuration database");
        return false;
    }
    return m_ProbeConfigDB->ReadData(section, key, text);
}

// ---- What the manager holds ----

std::vector<CSensor*> CProbeManager::GetSensors() const {
    std::vector<CSensor*> sensors;
    sensors.reserve(m_sensors.size());
    for (const auto& sensor : m_sensors)
        sensors.push_back(sensor.get());
    return sensors;
}

CSensor* CProbeManager::FindSensor(const std::string& type) const {
    auto it = m_typeMap.find(std::string(stl_string_trim_blanks(type)));
    return it != m_typeMap.end() ? it->second : nullptr;
}

// A database that did not open has no content: the sensors keep their defaults and nothing
// is written back.
bool CProbeManager::db_read(const std::string& section, const std::string& key, std::string& text) {
    return m_ProbeConfigDB && m_ProbeConfigDB->IsOpen() &&
           m_ProbeConfigDB->ReadData(section, key, text);
}

bool CProbeManager::db_write(const std::string& section, const std::string& key,
                             const std::string& text) {
    return m_ProbeConfigDB && m_ProbeConfigDB->IsOpen() &&
           m_ProbeConfigDB->WriteData(section, key, text);
}
