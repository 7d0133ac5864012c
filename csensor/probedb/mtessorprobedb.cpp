#include "csensor/probedb/mtessorprobedb.h"

#include "csensor/probedb/minidatarollback.h"
#include "msl/mstreams/stlbase64.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cstdio>

namespace {

constexpr uint32_t kMaxProbeNumber = 1000;
constexpr uint32_t kMaxTipNumber = 200;

// Database files are safely replaced on every save; a torn file would lose every tip.
constexpr uint32_t kFileFlags = MINIDATA_FLUSH_ON_SAVE | MINIDATA_SAFE_SAVE;

const char* const kDefaultComponentData = "[Geometry]\nx0=0.\ny0=0.\nz0=0.\n";

} // namespace

MTessorProbeDB::MTessorProbeDB() : m_inidata(kFileFlags), m_volatile(kFileFlags) {}

MTessorProbeDB::~MTessorProbeDB() = default;

uint32_t MTessorProbeDB::GetMaxProbeNumber() {
    return kMaxProbeNumber;
}

uint32_t MTessorProbeDB::GetMaxTipNumber() {
    return kMaxTipNumber;
}

uint32_t MTessorProbeDB::GetActiveProbe() {
    return m_activeProbe;
}

uint32_t MTessorProbeDB::GetActiveTip() {
    return m_activeTip;
}

std::string MTessorProbeDB::MakeVolatileFileName(const std::string& file) {
    const size_t slash = file.find_last_of("\\/");
    if (slash == std::string::npos)
        return "volatile_" + file;
    return file.substr(0, slash + 1) + "volatile_" + file.substr(slash + 1);
}

std::string MTessorProbeDB::MakeSectionName(uint32_t probe, uint32_t tip) {
    return stl_string_format("Probe_%u_Tip_%u", probe, tip);
}

bool MTessorProbeDB::SetActiveProbe(uint32_t probe, uint32_t tip) {
    if (!(probe == 0 && tip == 0) && !IsTipDefined(probe, tip)) {
        MERRTRACE("SetActiveProbe(): probe/tip %u %u not defined", probe, tip);
        return false;
    }
    MIniDataRollback rollback(m_volatile);
    if (!m_volatile.SetLongEntry("Global", "ActProbe", static_cast<int32_t>(probe))) {
        MERRTRACE("SetActiveProbe(): failed to set probe entry");
        return false;
    }
    if (!m_volatile.SetLongEntry("Global", "ActTip", static_cast<int32_t>(tip))) {
        MERRTRACE("SetActiveProbe(): failed to set tip entry");
        return false;
    }
    if (!m_volatile.Save()) {
        MERRTRACE("SetActiveProbe(): failed to save inifile");
        return false;
    }
    rollback.Keep();
    m_activeProbe = probe;
    m_activeTip = tip;
    return true;
}

bool MTessorProbeDB::IsProbeDefined(uint32_t probe) {
    auto it = m_cache.find(probe);
    return it != m_cache.end() && !it->second.empty();
}

bool MTessorProbeDB::IsTipDefined(uint32_t probe, uint32_t tip) {
    auto it = m_cache.find(probe);
    return it != m_cache.end() && it->second.count(tip) != 0;
}

std::vector<ProbeTipRecord> MTessorProbeDB::ListProbes(uint32_t probe, uint32_t tip) {
    std::vector<ProbeTipRecord> list;
    for (const auto& [probeNumber, tips] : m_cache) {
        if (probe != 0 && probeNumber != probe)
            continue;
        for (const auto& [tipNumber, record] : tips) {
            if (tip == 0 || tipNumber == tip)
                list.push_back(record);
        }
    }
    return list;
}

std::string MTessorProbeDB::generate_probe_tip_data(const ProbeTipRecord& record) {
    MIniData data(0);
    const struct {
        const char* name;
        double value;
    } geometry[] = {{"x0", record.x}, {"y0", record.y}, {"z0", record.z}, {"D", record.d}};
    for (const auto& entry : geometry) {
        if (!data.SetDoubleEntry("Geometry", entry.name, entry.value)) {
            MERRTRACE("generate_probe_tip_data(): MIniData::AddDoubleEntry(\"Geometry\", \"%s\", "
                      "%g) failed",
                      entry.name, entry.value);
            return std::string();
        }
    }
    if (!data.SetStringEntry("Geometry", "TipType", "SPHERE")) {
        MERRTRACE("generate_probe_tip_data(): MIniData::AddStringEntry(\"Geometry\", \"TipType\", "
                  "\"SPHERE\") failed");
        return std::string();
    }
    if (!data.SetLongEntry("Geometry", "never_sent", 1)) {
        MERRTRACE("generate_probe_tip_data(): MIniData::AddDoubleEntry(\"Geometry\", "
                  "\"never_sent\", 1) failed");
        return std::string();
    }
    std::string text = data.GetContentString();
    if (!stl_encode_base64(text)) {
        MERRTRACE("generate_probe_tip_data(): failed to encode string");
        return std::string();
    }
    return text;
}

bool MTessorProbeDB::check_open(const char* operation) const {
    // Saving a database that was never opened would write a file of an empty name.
    if (m_inidata.IsOpen())
        return true;
    MERRTRACE("%s(): probe database not open", operation);
    return false;
}

bool MTessorProbeDB::DefineProbe(const ProbeTipRecord& record) {
    if (!check_open("DefineProbe"))
        return false;
    if (IsTipDefined(record.probe, record.tip)) {
        MERRTRACE("DefineProbe(): probe/tip %u %u already defined", record.probe, record.tip);
        return false;
    }
    if (record.probe > GetMaxProbeNumber()) {
        MERRTRACE("DefineProbe(): probe id too large");
        return false;
    }
    if (record.tip > GetMaxTipNumber()) {
        MERRTRACE("DefineProbe(): tip id too large");
        return false;
    }
    const std::string section = MakeSectionName(record.probe, record.tip);
    MIniDataRollback rollback(m_inidata);
    const struct {
        const char* name;
        double value;
    } geometry[] = {{"x", record.x}, {"y", record.y}, {"z", record.z}, {"d", record.d}};
    for (const auto& entry : geometry) {
        if (entry.value != 0.0 && !m_inidata.SetDoubleEntry(section, entry.name, entry.value)) {
            MERRTRACE("DefineProbe(): failed to set entry %s [%s]", entry.name, section.c_str());
            return false;
        }
    }
    const std::string data = generate_probe_tip_data(record);
    if (data.empty()) {
        MERRTRACE("DefineProbe(): failed to generate data for probe.tip");
        return false;
    }
    if (!m_inidata.SetStringEntry(section, "probe.tip", data)) {
        MERRTRACE("DefineProbe(): failed to set entry %s [%s]", "probe.tip", section.c_str());
        return false;
    }
    if (!m_inidata.Save()) {
        MERRTRACE("DefineProbe(): failed to save ini file");
        return false;
    }
    rollback.Keep();
    m_cache[record.probe][record.tip] = record;
    return true;
}

bool MTessorProbeDB::DeleteProbe(uint32_t probe, uint32_t tip) {
    if (!check_open("DeleteProbe"))
        return false;
    if (probe == 0 && tip == 0)
        return clear_probes();
    if (tip == 0)
        return clear_tips(probe);

    auto probeIt = m_cache.find(probe);
    if (probeIt == m_cache.end()) {
        MERRTRACE("DeleteProbe(): probe %u not defined", probe);
        return false;
    }
    auto tipIt = probeIt->second.find(tip);
    if (tipIt == probeIt->second.end()) {
        MERRTRACE("DeleteProbe(): tip %u not defined for probe %u", tip, probe);
        return false;
    }
    const std::string section = MakeSectionName(probe, tip);
    MIniDataRollback rollback(m_inidata);
    if (!m_inidata.DeleteSection(section)) {
        MERRTRACE("DeleteProbe(): failed to delete section %s", section.c_str());
        return false;
    }
    // Deletions reach the trace whatever its level: they destroy calibration work.
    MTRACE_ALWAYS("%s(): Deleted section %s from %s, probe %u %u", "MTessorProbeDB::DeleteProbe",
                  section.c_str(), GetFileName().c_str(), probe, tip);
    // The active pair is given up before the tip goes, so that a failure cannot leave the
    // volatile file naming a tip the database no longer has (Open would refuse it).
    if (m_activeProbe == probe && m_activeTip == tip && !SetActiveProbe(0, 0)) {
        MERRTRACE("%s(): SetActiveProbe(0, 0) failed", "MTessorProbeDB::DeleteProbe");
        return false;
    }
    if (!m_inidata.Save()) {
        MERRTRACE("DeleteProbe(): failed to save ini file");
        return false;
    }
    rollback.Keep();
    probeIt->second.erase(tipIt);
    if (probeIt->second.empty())
        m_cache.erase(probeIt);
    return true;
}

bool MTessorProbeDB::clear_tips(uint32_t probe) {
    auto probeIt = m_cache.find(probe);
    if (probeIt == m_cache.end()) {
        MERRTRACE("clear_tips(): probe %u not defined", probe);
        return false;
    }
    MIniDataRollback rollback(m_inidata);
    for (const auto& tip : probeIt->second) {
        const std::string section = MakeSectionName(probe, tip.first);
        m_inidata.DeleteSection(section);
        MTRACE_ALWAYS("%s(): Deleted section %s from %s, probe %u", "MTessorProbeDB::clear_tips",
                      section.c_str(), GetFileName().c_str(), probe);
    }
    // As in DeleteProbe: the active pair goes before the tips are saved away, and the cache
    // follows the file. Saving first would leave the volatile file naming a lost tip when
    // its own save then fails (or the process dies between the two), and Open refuses such
    // a database for good; this order leaves at worst no active tip.
    if (m_activeProbe == probe && !SetActiveProbe(0, 0)) {
        MERRTRACE("%s(): SetActiveProbe(0, 0) failed", "MTessorProbeDB::clear_tips");
        return false;
    }
    if (!m_inidata.Save()) {
        MERRTRACE("clear_tips(): failed to save ini file");
        return false;
    }
    rollback.Keep();
    m_cache.erase(probeIt);
    return true;
}

bool MTessorProbeDB::clear_probes() {
    MIniDataRollback rollback(m_inidata);
    std::vector<std::string> sections;
    m_inidata.GetSectionNames(sections);
    for (const std::string& section : sections) {
        m_inidata.DeleteSection(section);
        MTRACE_ALWAYS("%s(): Deleted section %s from %s", "MTessorProbeDB::clear_probes",
                      section.c_str(), GetFileName().c_str());
    }
    // The same order as in clear_tips, for the same reason; the cache is emptied only once
    // the file is.
    if (!SetActiveProbe(0, 0)) {
        MERRTRACE("%s(): SetActiveProbe(0, 0) failed", "MTessorProbeDB::clear_probes");
        return false;
    }
    if (!m_inidata.Save()) {
        MERRTRACE("clear_probes(): failed to save ini file");
        return false;
    }
    rollback.Keep();
    m_cache.clear();
    return true;
}

bool MTessorProbeDB::Open(const std::string& file) {
    close_all();
    if (!m_inidata.Open(file)) {
        MERRTRACE("Open(): failed to open %s", file.c_str());
        close_all();
        return false;
    }
    const std::string volatileName = MakeVolatileFileName(file);
    if (!m_volatile.Open(volatileName)) {
        MERRTRACE("%s(): Open(%s) failed", "MTessorProbeDB::Open", volatileName.c_str());
        close_all();
        return false;
    }
    if (!ini2cache()) {
        MERRTRACE("ini2cache() failed");
        close_all();
        return false;
    }
    return true;
}

void MTessorProbeDB::close_all() {
    m_inidata.Close();
    m_volatile.Close();
    m_cache.clear();
    m_activeProbe = 0;
    m_activeTip = 0;
}

bool MTessorProbeDB::ini2cache() {
    m_cache.clear();
    std::vector<std::string> sections;
    m_inidata.GetSectionNames(sections);
    for (const std::string& section : sections) {
        if (section == "Global")
            continue;
        ProbeTipRecord record;
        if (std::sscanf(section.c_str(), "Probe_%u_Tip_%u", &record.probe, &record.tip) != 2) {
            MERRTRACE("ini2cache(): failed to parse section %s", section.c_str());
            return false;
        }
        // Geometry entries are optional (0 is not written); whatever a getter has to say
        // about a missing or odd value is of no interest.
        MErrTrace_BeginContext();
        m_inidata.GetDoubleEntry(section, "x", record.x);
        m_inidata.GetDoubleEntry(section, "y", record.y);
        m_inidata.GetDoubleEntry(section, "z", record.z);
        m_inidata.GetDoubleEntry(section, "d", record.d);
        MErrTrace_ClearContext();
        MErrTrace_EndContext();
        m_cache[record.probe].emplace(record.tip, record); // the first section wins
    }

    if (m_inidata.HasSection("Global")) {
        // An older file: the active pair moves to the volatile file.
        int32_t probe = 0;
        int32_t tip = 0;
        if (!m_inidata.GetLongEntry("Global", "ActProbe", probe)) {
            MERRTRACE("ini2cache(): failed to read entry ActProbe");
            return false;
        }
        if (!m_inidata.GetLongEntry("Global", "ActTip", tip)) {
            MERRTRACE("ini2cache(): failed to read entry ActTip");
            return false;
        }
        if (!SetActiveProbe(static_cast<uint32_t>(probe), static_cast<uint32_t>(tip))) {
            MERRTRACE("%s(): SetActiveProbe(%ld, %ld) failed", "MTessorProbeDB::ini2cache",
                      static_cast<long>(probe), static_cast<long>(tip));
            return false;
        }
        m_inidata.DeleteSection("Global");
        if (!m_inidata.Save()) {
            MERRTRACE("%s(): Save() failed", "MTessorProbeDB::ini2cache");
            return false;
        }
    }

    int32_t probe = static_cast<int32_t>(m_activeProbe);
    int32_t tip = static_cast<int32_t>(m_activeTip);
    int32_t value = 0;
    if (m_volatile.GetLongEntry("Global", "ActProbe", value))
        probe = value;
    if (m_volatile.GetLongEntry("Global", "ActTip", value))
        tip = value;
    if (!SetActiveProbe(static_cast<uint32_t>(probe), static_cast<uint32_t>(tip))) {
        MERRTRACE("%s(): SetActiveProbe(%ld, %ld) failed", "MTessorProbeDB::ini2cache",
                  static_cast<long>(probe), static_cast<long>(tip));
        return false;
    }
    return true;
}

bool MTessorProbeDB::GetComponentData(std::string& text, uint32_t probe, uint32_t tip) {
    if (probe == 0 && tip == 0) {
        text = kDefaultComponentData;
        return true;
    }
    const std::string section = MakeSectionName(probe, tip);
    std::string data;
    if (!m_inidata.GetStringEntry(section, "probe.tip", data)) {
        MERRTRACE("GetComponentData(): failed to get entry [%s] probe.tip", section.c_str());
        return false;
    }
    if (!stl_decode_base64(data)) {
        MERRTRACE("GetComponentData(): failed to decode base64 string");
        return false;
    }
    text = std::move(data);
    return true;
}

bool MTessorProbeDB::SetComponentData(const std::string& text, uint32_t probe, uint32_t tip) {
    if (!check_open("SetComponentData"))
        return false;
    MIniData parsed(0);
    if (!parsed.SetContentString(text)) {
        MERRTRACE("SetComponentData(): SetContentString() failed");
        return false;
    }
    // A client may send data that is meant for the sensor only.
    int32_t save = 1;
    if (parsed.GetLongEntry("GENERAL", "Save", save) && save == 0)
        return true;

    std::string data = text;
    if (!stl_encode_base64(data)) {
        MERRTRACE("SetComponentData(): failed to encode base64 string");
        return false;
    }
    const std::string section = MakeSectionName(probe, tip);
    if (!m_inidata.HasSection(section)) {
        MERRTRACE("SetComponentData(): section %s does not exist", section.c_str());
        return false;
    }
    MIniDataRollback rollback(m_inidata);
    if (!m_inidata.SetStringEntry(section, "probe.tip", data)) {
        MERRTRACE("SetComponentData(): failed to get entry [%s] probe.tip", section.c_str());
        return false;
    }
    if (!m_inidata.Save()) {
        MERRTRACE("%s(): Save() failed", "MTessorProbeDB::SetComponentData");
        return false;
    }
    rollback.Keep();
    return true;
}
