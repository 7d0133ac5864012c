#include "csensor/sensors/csensor.h"

#include "csensor/sensors/csensordefaults.h"
#include "csensor/sensors/csensorerrors.h"
#include "csensor/sensors/csensorinireader.h"
#include "msl/merror/merrtracecontext.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <set>

namespace {

const char kDefaultSection[] = "Default";

// Suffix of the component vector entries: nobody is to edit them, they are computed.
const char kReadonlyComment[] = "           // Readonly";

// Pops the lowest name of a queue; the pending flag follows the queue.
template <class Value>
bool pop_first(std::map<std::string, Value>& queue, bool& pending, std::string& name,
               Value& value) {
    if (queue.empty()) {
        pending = false;
        return false;
    }
    auto first = queue.begin();
    name = first->first;
    value = first->second;
    queue.erase(first);
    pending = !queue.empty();
    return true;
}

} // namespace

CSensor::CSensor() {
    m_hardwareData.SetContentString(CSensor_DefaultHardwareData());
    if (CSensor::SetPropertyData(CSensor_GetDefaultConfigData())) {
        m_initialised = true;
        m_state = CSENSOR_STATE_READY;
    }
}

CSensor::~CSensor() = default;

bool CSensor::SupportMovezeroDirection(double /*dx*/, double /*dy*/, double /*dz*/) {
    return SupportMovezero();
}

void CSensor::SetValueAddressLookup(CSensorValueAddressLookup lookup) {
    m_valueAddressLookup = std::move(lookup);
}

void CSensor::SetComponentSearch(CSensorComponentSearch search) {
    m_componentSearch = std::move(search);
}

const char* CSensor::GetErrorText(uint32_t /*code*/) {
    return "Neither errors nor warnings";
}

// ---- Channel descriptions ----

bool CSensor::SetPropertyData(const char* name, const CSensorChannelDesc* desc) {
    CSensorChannelDesc* channel = FindChannel(name);
    if (!desc || !channel) {
        PushErrorCode(CSENSOR_ERR_INVALID_ARGUMENT);
        return false;
    }
    *channel = *desc;
    return true;
}

bool CSensor::SetPropertyData(int index, const void* data) {
    if (!data || index < 0 || static_cast<size_t>(index) >= m_channels.size()) {
        PushErrorCode(CSENSOR_ERR_INVALID_ARGUMENT);
        return false;
    }
    std::next(m_channels.begin(), index)->second = *static_cast<const CSensorChannelDesc*>(data);
    return true;
}

bool CSensor::SetPropertyData(std::string_view text) {
    MErrTraceContext context(__FILE__);
    MIniData scratch;
    bool ok = scratch.SetContentString(text);
    if (ok) {
        m_propertyDataProcessing = scratch;
        ok = ProcessConfigData(m_propertyDataProcessing);
    }
    // A failed update may still have changed known channels (and created parents).
    rebuild_channel_index();
    if (!ok) {
        MERRTRACE("CSensor::SetPropertyData(): ProcessConfigData() failed");
        PushErrorCode(CSENSOR_ERR_PROCESS_CONFIG);
        return false;
    }
    m_propertyData = m_propertyDataProcessing;
    return true;
}

bool CSensor::GetPropertyData(const char* name, CSensorChannelDesc* desc) {
    const CSensorChannelDesc* channel = FindChannel(name);
    if (!desc || !channel) {
        PushErrorCode(CSENSOR_ERR_INVALID_ARGUMENT);
        return false;
    }
    *desc = *channel;
    return true;
}

bool CSensor::GetPropertyData(int index, CSensorChannelDesc* desc) {
    if (!desc || index < 0 || static_cast<size_t>(index) >= m_channels.size()) {
        PushErrorCode(CSENSOR_ERR_INVALID_ARGUMENT);
        return false;
    }
    *desc = std::next(m_channels.begin(), index)->second;
    return true;
}

bool CSensor::GetPropertyData(std::string& text) {
    text = m_propertyData.GetContentString();
    return true;
}

// ---- Component data ----

bool CSensor::SetComponentData(const char* name, std::string_view text) {
    if (!HasComponent(name)) {
        MERRTRACE("SetComponentData(): unknown component name '%s'", name ? name : "");
        PushErrorCode(CSENSOR_ERR_INVALID_ARGUMENT);
        return false;
    }
    MIniData check;
    if (!check.SetContentString(text)) {
        MERRTRACE("SetComponentData(): invalid ini format in '%s'", name);
        PushErrorCode(CSENSOR_ERR_PROCESS_CONFIG);
        return false;
    }
    m_components[name].assign(text);
    return true;
}

bool CSensor::GetComponentData(const char* name, std::string& text) {
    if (!HasComponent(name)) {
        MERRTRACE("GetComponentData(): unknown component name '%s' [%s]", name ? name : "",
                  GetName());
        PushErrorCode(CSENSOR_ERR_INVALID_ARGUMENT);
        return false;
    }
    text = m_components.find(name)->second;
    return true;
}

// ---- Documents ----

bool CSensor::StoreDocument(MIniData& doc, std::string_view text) {
    MIniData scratch;
    if (!scratch.SetContentString(text)) {
        PushErrorCode(CSENSOR_ERR_PROCESS_CONFIG);
        return false;
    }
    doc = scratch;
    return true;
}

bool CSensor::SetConfigData(std::string_view text) {
    if (!StoreDocument(m_configData, text))
        return false;
    m_configDataSet = true;
    return true;
}

bool CSensor::GetConfigData(std::string& text) {
    static const char* const keys[] = {"LintelChannel_ca", "LintelChannel_cb", "LintelChannel_cc"};
    const size_t indices[] = {CSENSOR_COMPVECTOR_CA, CSENSOR_COMPVECTOR_CB, CSENSOR_COMPVECTOR_CC};
    for (size_t i = 0; i < 3; ++i) {
        std::string value = GetMcCompVectorName(indices[i]) + kReadonlyComment;
        m_configData.SetStringEntry("ProbeSystem", keys[i], value);
    }
    text = m_configData.GetContentString();
    return true;
}

bool CSensor::ProbesystemUnload(std::string_view /*text*/) {
    return false;
}

bool CSensor::SetUserData(std::string_view text) {
    if (!StoreDocument(m_userData, text))
        return false;
    ReadControlParameters();
    return true;
}

bool CSensor::GetUserData(std::string& text) {
    text = m_userData.GetContentString();
    return true;
}

bool CSensor::GetHardwareData(std::string& text) {
    text = m_hardwareData.GetContentString();
    m_configDataSet = false;
    return true;
}

bool CSensor::SetHardwareProperties(std::string_view text) {
    return StoreDocument(m_hardwareProperties, text);
}

bool CSensor::GetHardwareProperties(std::string& text) {
    text = m_hardwareProperties.GetContentString();
    return true;
}

bool CSensor::SetGeometryData(std::string_view text) {
    return StoreDocument(m_geometryData, text);
}

bool CSensor::GetGeometryData(std::string& text) {
    text = m_geometryData.GetContentString();
    return true;
}

bool CSensor::GetControlParameters(CSensorControlParameters* params) {
    if (!params)
        return false;
    *params = m_controlParameters;
    return m_controlParametersRead;
}

// ---- Channel table ----

bool CSensor::HasProperty(const char* name) const {
    return FindChannel(name) != nullptr;
}

bool CSensor::GetPropertyList(uint32_t* count, CSensorChannelDesc* descs) {
    if (!count && !descs) {
        PushErrorCode(CSENSOR_ERR_INVALID_ARGUMENT);
        return false;
    }
    if (count)
        *count = GetPropertyCount();
    if (descs) {
        for (const auto& [name, desc] : m_channels)
            *descs++ = desc;
        m_snapshot = m_channels;
        m_propertiesChanged = false;
    }
    return true;
}

bool CSensor::IsPropertyListChanged() {
    if (m_snapshot.empty()) {
        m_propertiesChanged = true;
        return true;
    }
    if (m_snapshot.size() == m_channels.size() && m_snapshot == m_channels)
        return m_propertiesChanged;
    m_propertiesChanged = true;
    return true;
}

bool CSensor::TakeChangedProperties(CSensorChannelTable& /*changed*/) {
    return false;
}

uint32_t CSensor::GetPropertyIndex(const char* name) const {
    if (!name)
        return CSENSOR_INVALID_INDEX;
    auto it = m_channelIndex.find(name);
    return it == m_channelIndex.end() ? CSENSOR_INVALID_INDEX : it->second;
}

bool CSensor::SetPropertyValue(const CSensorValueMap& values) {
    bool ok = true;
    for (const auto& [name, value] : values)
        ok = SetPropertyValue(name.c_str(), value) && ok;
    return ok;
}

// ---- Queues ----

bool CSensor::PopSiblingValue(std::string& name, double& value) {
    return pop_first(m_siblingValues, m_siblingPending, name, value);
}

void CSensor::PushSiblingValue(const char* name, double value) {
    m_siblingValues[name ? name : ""] = value;
    m_siblingPending = true;
}

bool CSensor::PopOutputValue(std::string& name, double& value) {
    return pop_first(m_outputValues, m_outputValuePending, name, value);
}

void CSensor::PushOutputValue(const char* name, double value) {
    m_outputValues[name ? name : ""] = value;
    m_outputValuePending = true;
}

bool CSensor::PopOutputMessage(std::string& name, std::string& text) {
    return pop_first(m_outputMessages, m_outputMessagePending, name, text);
}

void CSensor::PushOutputMessage(const char* name, std::string_view text) {
    m_outputMessages[name ? name : ""].assign(text);
    m_outputMessagePending = true;
}

// ---- Hardware properties and control parameters ----

int CSensor::ReadAccessSettings() {
    std::vector<std::string> names;
    if (!m_hardwareProperties.GetEntryNames("Access", names))
        return 0;
    int changed = 0;
    CSensorIniReader reader(m_hardwareProperties);
    for (const std::string& name : names) {
        CSensorChannelDesc* channel = FindChannel(name.c_str());
        std::string letters;
        if (!channel || !reader.OptionalText("Access", name, letters))
            continue;
        uint32_t access = CSensor_AccessCodeFromLetters(letters);
        if (channel->access != access) {
            channel->access = access;
            ++changed;
        }
    }
    return changed;
}

bool CSensor::ReadControlParameters() {
    m_controlParametersRead = m_controlParameters.Read(m_userData) > 0;
    return m_controlParametersRead;
}

// ---- Protected helpers ----

uint32_t CSensor::PopErrorCode() {
    if (m_errors.empty())
        return 0;
    uint32_t code = m_errors.front();
    m_errors.pop_front();
    return code;
}

void CSensor::SetSensorName(std::string_view name) {
    m_name.assign(name.substr(0, CSENSOR_NAME_MAX));
}

CSensorChannelDesc* CSensor::FindChannel(const char* name) {
    if (!name)
        return nullptr;
    auto it = m_channels.find(name);
    return it == m_channels.end() ? nullptr : &it->second;
}

const CSensorChannelDesc* CSensor::FindChannel(const char* name) const {
    if (!name)
        return nullptr;
    auto it = m_channels.find(name);
    return it == m_channels.end() ? nullptr : &it->second;
}

void CSensor::ClearPropertyTable() {
    m_channels.clear();
    m_snapshot.clear();
    m_channelIndex.clear();
}

void CSensor::RegisterComponent(std::string_view name, std::string_view text) {
    m_components[std::string(name)].assign(text);
}

bool CSensor::HasComponent(const char* name) const {
    return name && m_components.find(name) != m_components.end();
}

void CSensor::rebuild_channel_index() {
    m_channelIndex.clear();
    uint32_t index = 0;
    for (const auto& entry : m_channels)
        m_channelIndex.emplace(entry.first, index++);
}

// ---- The channel parser ----
//
// Builds or updates the channel table from configuration data. Every channel starts from
// [Default] (missing keys are written back there); its own section overrides. Once the table
// holds channels, later data may only redefine those: an unknown channel makes the result
// false while the known ones are still updated.
bool CSensor::ProcessConfigData(MIniData& doc) {
    std::string list;
    if (!doc.GetStringEntry("General", "Channels", list)) {
        MERRTRACE("ProcessConfigData(): item 'Channels' not found in section [General]");
        return false;
    }
    const bool had_channels = !m_channels.empty();
    const std::set<std::string> known = [&] {
        std::set<std::string> names;
        for (const auto& entry : m_channels)
            names.insert(entry.first);
        return names;
    }();

    CSensorIniReader reader(doc);
    bool ok = true;
    // Links set by children in this pass, so a parent listed after its child keeps them.
    std::map<std::string, std::string> child_links;

    for (const std::string& name : CSensor_SplitChannelList(list)) {
        CSensorChannelDesc desc;
        desc.SetName(name);

        desc.access = CSensor_AccessCodeFromLetters(reader.Text(kDefaultSection, "Access", "R"));
        desc.min = reader.Double(kDefaultSection, "Min", 0.0);
        desc.max = reader.Double(kDefaultSection, "Max", 1.0);
        desc.step = reader.Double(kDefaultSection, "Step", 0.001);
        desc.accuracy = reader.Double(kDefaultSection, "Accuracy", 0.001);
        desc.a_max = reader.Double(kDefaultSection, "A_Max", 0.0);
        desc.v_max = reader.Double(kDefaultSection, "V_Max", 0.0);
        desc.default_value = reader.Double(kDefaultSection, "Default", 0.0);
        desc.keypad = reader.Flag(kDefaultSection, "Keypad", 0);
        desc.master = reader.Flag(kDefaultSection, "Master", 0);
        desc.update_in_clock = reader.Flag(kDefaultSection, "UpdateInClock", 0);

        std::string text;
        if (reader.OptionalText(name, "Access", text))
            desc.access = CSensor_AccessCodeFromLetters(text);
        if (reader.OptionalText(name, "Type", text)) {
            if (text == "COMPONENT") {
                desc.flags |= CSENSOR_FLAG_COMPONENT;
            } else if (text != "NUMBER") {
                MERRLOG("ProcessConfigData(): Type '%s' not supported", text.c_str());
                continue;
            }
        }
        if (reader.OptionalText(name, "Move", text)) {
            if (text == "TARGET") {
                desc.flags |= CSENSOR_FLAG_TARGET;
            } else if (text != "NOM") {
                MERRLOG("ProcessConfigData(): Type '%s' not supported", text.c_str());
                continue;
            }
        }
        std::string parent;
        if (reader.OptionalText(name, "Parent", parent) && !parent.empty()) {
            desc.SetLink(parent);
            desc.is_child = desc.IsLinkedToItself() ? 0 : 1;
        }
        reader.OptionalFlag(name, "Master", desc.master);
        reader.OptionalFlag(name, "Keypad", desc.keypad);
        reader.OptionalFlag(name, "UpdateInClock", desc.update_in_clock);
        reader.OptionalDouble(name, "Min", desc.min);
        reader.OptionalDouble(name, "Max", desc.max);
        reader.OptionalDouble(name, "Step", desc.step);
        reader.OptionalDouble(name, "Accuracy", desc.accuracy);
        reader.OptionalDouble(name, "A_Max", desc.a_max);
        reader.OptionalDouble(name, "V_Max", desc.v_max);
        reader.OptionalDouble(name, "Default", desc.default_value);

        if (had_channels && known.count(desc.name) == 0) {
            MERRTRACE("ProcessConfigData(): channel '%s' not supported", desc.name);
            ok = false;
            continue;
        }
        // A parent redefined without a "Parent" of its own keeps the link to its child.
        auto old = m_channels.find(desc.name);
        if (!desc.HasLink() && old != m_channels.end() && !old->second.is_child &&
            !old->second.IsLinkedToItself())
            desc.SetLink(old->second.link);
        auto linked = child_links.find(desc.name);
        if (!desc.HasLink() && linked != child_links.end())
            desc.SetLink(linked->second);
        m_channels[desc.name] = desc;

        if (!parent.empty()) {
            CSensorChannelDesc& parent_desc = m_channels[desc.link];
            if (parent_desc.name[0] == '\0')
                parent_desc.SetName(desc.link);
            parent_desc.SetLink(desc.name);
            if (!desc.IsLinkedToItself())
                child_links[desc.link] = desc.name;
        }
    }

    if (reader.Changes() > 0)
        MTRACE(5, "CSensor::ProcessConfigData(): Configuration data changed or extended");
    return ok;
}
