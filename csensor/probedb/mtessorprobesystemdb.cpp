#include "csensor/probedb/mtessorprobesystemdb.h"

#include "csensor/probedb/minidatarollback.h"
#include "csensor/probedb/mtessorprobedb.h"
#include "msl/mfileio/mfastfile.h"
#include "msl/mfileio/mfileops.h"
#include "msl/mstreams/stlbase64.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace {

// Database files are safely replaced on every save; a torn file would lose every probesystem.
constexpr uint32_t kFileFlags = MINIDATA_FLUSH_ON_SAVE | MINIDATA_SAFE_SAVE;
constexpr int kWriteMode = MFASTFILE_MODE_OVERWRITE | MFASTFILE_MODE_SAFE | MFASTFILE_MODE_FLUSH;

const char* const kNoSerial = "000.000.000";

// The geometry of a record as the six named values of the files.
struct GeometryValue {
    const char* name;
    double value;
};

} // namespace

MTessorProbesystemDB::MTessorProbesystemDB(const std::string& configDir,
                                           const std::string& fileName,
                                           const std::string& volatileName)
    : m_inidata(kFileFlags), m_volatile(kFileFlags), m_configDir(configDir), m_fileName(fileName),
      m_volatileName(volatileName.empty() ? "volatile_" + fileName : volatileName) {}

MTessorProbesystemDB::~MTessorProbesystemDB() = default;

std::string MTessorProbesystemDB::path_of(const std::string& name) const {
    return file_join(m_configDir, name);
}

std::string MTessorProbesystemDB::make_section_name(const std::string& name, uint32_t id) {
    return stl_string_format("%.40s_%u", name.c_str(), id);
}

std::string MTessorProbesystemDB::make_probe_ini_name(const std::string& name, uint32_t id) {
    std::string file = make_section_name(name, id);
    const size_t colon = file.find(':');
    if (colon != std::string::npos)
        file[colon] = '_';
    return file + ".ini";
}

// --- queries ---

bool MTessorProbesystemDB::IsProbesystemDefined(const std::string& name) {
    return m_probesystems.count(name) != 0;
}

bool MTessorProbesystemDB::IsProbesystemIdDefined(const std::string& name, uint32_t id) {
    auto it = m_probesystems.find(name);
    return it != m_probesystems.end() && it->second.HasId(id);
}

bool MTessorProbesystemDB::HasActiveProbesystem() {
    return !m_activeName.empty();
}

std::string MTessorProbesystemDB::GetActiveProbesystem() {
    return m_activeName;
}

uint32_t MTessorProbesystemDB::GetActiveProbesystemId() {
    return m_activeId;
}

bool MTessorProbesystemDB::IsProbesystemTypeDefined(const std::string& type) {
    return m_types.count(type) != 0;
}

const char* MTessorProbesystemDB::FirstProbesystemType() {
    m_typeIterating = !m_types.empty();
    if (!m_typeIterating)
        return nullptr;
    m_typePosition = m_types.begin()->first;
    return m_typePosition.c_str();
}

const char* MTessorProbesystemDB::NextProbesystemType() {
    if (!m_typeIterating)
        return nullptr;
    // Found again by name, so types added meanwhile cannot upset the walk.
    auto it = m_types.upper_bound(m_typePosition);
    if (it == m_types.end()) {
        m_typeIterating = false;
        return nullptr;
    }
    m_typePosition = it->first;
    return m_typePosition.c_str();
}

int MTessorProbesystemDB::SetProbesystemTypes(const std::string& list) {
    int count = 0;
    size_t start = 0;
    for (size_t blank = list.find(' '); blank != std::string::npos; blank = list.find(' ', start)) {
        m_types[list.substr(start, blank - start)] = ++count;
        start = blank + 1;
    }
    return count;
}

std::vector<ProbesystemRecord> MTessorProbesystemDB::ListProbesystems(const std::string& name,
                                                                      uint32_t id) {
    std::vector<ProbesystemRecord> list;
    auto add = [&](const std::string& systemName, const ProbesystemData& data) {
        for (const auto& [systemId, g] : data.Ids()) {
            if (id != 0 && systemId != id)
                continue;
            list.push_back({systemName, systemId, g.x, g.y, g.z, g.alpha, g.beta, g.gamma});
        }
    };
    if (name == "*") {
        for (const auto& [systemName, data] : m_probesystems)
            add(systemName, data);
        return list;
    }
    auto it = m_probesystems.find(name);
    if (it == m_probesystems.end()) {
        MTRACE(3, "MTessorProbesystemDB::ListProbesystems() no probesystem %.50s", name.c_str());
        return list;
    }
    add(it->first, it->second);
    return list;
}

std::string MTessorProbesystemDB::GetActiveProbeIniName() {
    if (m_activeName.empty())
        return std::string();
    return make_probe_ini_name(m_activeName, m_activeId);
}

// --- the active probesystem ---

bool MTessorProbesystemDB::SetActiveProbesystem(const std::string& name, uint32_t id) {
    if (!(name.empty() && id == 0) && !IsProbesystemIdDefined(name, id)) {
        MERRTRACE("MTessorProbesystemDB::SetActiveProbesystem(%.40s, %d): no such id", name.c_str(),
                  static_cast<int>(id));
        return false;
    }
    m_activeName = name;
    m_activeId = id;
    return write_active();
}

bool MTessorProbesystemDB::write_active() {
    MIniDataRollback rollback(m_volatile);
    if (!m_volatile.SetStringEntry("Global", "ActSystem", m_activeName)) {
        MERRTRACE("MTessorProbesystemDB::SetActiveProbesystem(): "
                  "inidata.SetStringEntry(\"Global\",\"ActSystem\",%.40s) failed",
                  m_activeName.c_str());
        return false;
    }
    if (!m_volatile.SetLongEntry("Global", "ActId", static_cast<int32_t>(m_activeId))) {
        MERRTRACE("MTessorProbesystemDB::SetActiveProbesystem(): "
                  "inidata.SetLongEntry(\"Global\",\"ActId\",%d) failed",
                  static_cast<int>(m_activeId));
        return false;
    }
    if (!m_volatile.Save()) {
        MERRTRACE("MTessorProbesystemDB::SetActiveProbesystem(): inidata.Save() failed");
        return false;
    }
    rollback.Keep();
    return true;
}

bool MTessorProbesystemDB::UnloadProbesystem() {
    if (!SetActiveProbesystem(std::string(), 0)) {
        MERRTRACE("%s(): SetActiveProbesystem(\"\", 0) failed",
                  "MTessorProbesystemDB::UnloadProbesystem");
        return false;
    }
    return true;
}

// --- loading ---

void MTessorProbesystemDB::close_all() {
    m_inidata.Close();
    m_volatile.Close();
    m_probesystems.clear();
    m_activeName.clear();
    m_activeId = 0;
}

bool MTessorProbesystemDB::def_id_in_mem(ProbesystemMap& list, const ProbesystemRecord& record) {
    auto [it, created] = list.try_emplace(record.name);
    if (!it->second.DefineId(record)) {
        MERRTRACE("MTessorProbesystemDB::def_id_in_mem(): "
                  "ProbesystemData::DefineId(%.40s,%d,%f,%f,%f,%f,%f,%f) failed",
                  record.name.c_str(), static_cast<int>(record.id), record.x, record.y, record.z,
                  record.alpha, record.beta, record.gamma);
        if (created)
            list.erase(it);
        return false;
    }
    return true;
}

bool MTessorProbesystemDB::build_probesystems_list(const MIniData& ini, ProbesystemMap& list) {
    list.clear();
    std::vector<std::string> sections;
    ini.GetSectionNames(sections);
    for (const std::string& section : sections) {
        const size_t underscore = section.rfind('_');
        if (underscore == std::string::npos)
            continue;
        const std::string digits = section.substr(underscore + 1);
        if (digits.empty() || digits.size() > 10)
            continue;
        bool decimal = true;
        for (char c : digits)
            decimal = decimal && std::isdigit(static_cast<unsigned char>(c));
        const unsigned long long id = decimal ? std::strtoull(digits.c_str(), nullptr, 10) : 0;
        if (!decimal || id > UINT32_MAX)
            continue;

        ProbesystemRecord record;
        record.name = section.substr(0, underscore);
        record.id = static_cast<uint32_t>(id);
        // Missing geometry entries are 0; a getter has nothing to report.
        ini.GetDoubleEntry(section, "x", record.x);
        ini.GetDoubleEntry(section, "y", record.y);
        ini.GetDoubleEntry(section, "z", record.z);
        ini.GetDoubleEntry(section, "alpha", record.alpha);
        ini.GetDoubleEntry(section, "beta", record.beta);
        ini.GetDoubleEntry(section, "gamma", record.gamma);
        if (!def_id_in_mem(list, record)) {
            MERRTRACE("MTessorProbesystemDB::init_probesystems_list(): "
                      "def_id_in_mem(%.40s, %d, %f, %f, %f, %f, %f, %f) failed",
                      record.name.c_str(), static_cast<int>(record.id), record.x, record.y,
                      record.z, record.alpha, record.beta, record.gamma);
            return false;
        }
    }
    return true;
}

bool MTessorProbesystemDB::init_probesystems_list() {
    ProbesystemMap list;
    if (!build_probesystems_list(m_inidata, list))
        return false;
    m_probesystems = std::move(list);
    return true;
}

bool MTessorProbesystemDB::Open() {
    static const char* const kOpen = "MTessorProbesystemDB::Open";
    close_all();
    // Every database of the machine is saved through temporary files in this folder; those of
    // a process that died in the middle of a save would pile up.
    if (const int removed = MFastFile_RemoveStaleTemporaries(m_configDir))
        MTRACE(3, "%s(): removed %d temporary files of unfinished saves", kOpen, removed);
    const std::string dbPath = path_of(m_fileName);
    if (!m_inidata.Open(dbPath)) {
        MERRTRACE("MTessorProbesystemDB::Open(): inidata.Open(\"%.50s\") failed", dbPath.c_str());
        close_all();
        return false;
    }
    const std::string volatilePath = path_of(m_volatileName);
    if (!m_volatile.Open(volatilePath)) {
        MERRTRACE("%s(): Open(%s) failed", kOpen, volatilePath.c_str());
        close_all();
        return false;
    }
    if (!init_probesystems_list()) {
        MERRTRACE("MTessorProbesystemDB::Open(): could not initialise internal probesystems list");
        close_all();
        return false;
    }

    // Problems with the active selection are reported but do not stop the database: the
    // machine can still run without an active probesystem.
    if (m_inidata.HasSection("Global")) {
        // An older file: the active pair moves to the volatile file.
        std::string name;
        int32_t id = 0;
        if (m_inidata.GetStringEntry("Global", "ActSystem", name) &&
            m_inidata.GetLongEntry("Global", "ActId", id)) {
            m_activeName = name;
            m_activeId = static_cast<uint32_t>(id);
        }
        if (!SetActiveProbesystem(m_activeName, m_activeId))
            MERRTRACE("%s(): SetActiveProbesystem(%s, %u) failed", kOpen, m_activeName.c_str(),
                      m_activeId);
        m_inidata.DeleteSection("Global");
        if (!m_inidata.Save())
            MERRTRACE("%s(): Save() failed", kOpen);
    } else {
        std::string name;
        int32_t id = 0;
        if (m_volatile.GetStringEntry("Global", "ActSystem", name) &&
            m_volatile.GetLongEntry("Global", "ActId", id)) {
            m_activeName = name;
            m_activeId = static_cast<uint32_t>(id);
        } else {
            if (!m_volatile.IsNewFile())
                MTRACE(3, "%s(): %s exists but entries are missing", kOpen, m_volatileName.c_str());
            if (!SetActiveProbesystem(std::string(), 0))
                MERRTRACE("%s(): SetActiveProbesystem(\"\", 0) failed", kOpen);
        }
    }
    if (!m_activeName.empty() && !IsProbesystemIdDefined(m_activeName, m_activeId)) {
        MTRACE(3,
               "MTessorProbesystemDB::Open(): active probesystem (%.40s,%d) not defined. "
               "Resetting probesystem and id to 0.",
               m_activeName.c_str(), static_cast<int>(m_activeId));
        m_activeName.clear();
        m_activeId = 0;
    }
    if (!Save())
        MERRTRACE("%s(): Save() failed", kOpen);
    return true;
}

bool MTessorProbesystemDB::Save() {
    bool ok = true;
    if (m_inidata.IsNewFile() || !m_inidata.IsInSync()) {
        if (!m_inidata.Save()) {
            MERRTRACE("MTessorProbesystemDB::Save(): inifile.Save() failed");
            ok = false;
        }
    }
    if (m_volatile.IsNewFile() || !m_volatile.IsInSync()) {
        if (!m_volatile.Save()) {
            MERRTRACE("%s(): failed to save %s", "MTessorProbesystemDB::Save",
                      m_volatileName.c_str());
            ok = false;
        }
    }
    return ok;
}

// --- defining and deleting ---

std::string MTessorProbesystemDB::generate_probesystem_data(const ProbesystemRecord& record) {
    MIniData data(0);
    if (!data.SetStringEntry("Geometry", "ProbeType", record.name)) {
        MERRTRACE("generate_probesystem_data(): MIniData::AddStringEntry(\"Geometry\", "
                  "\"ProbeType\", %.40s) failed",
                  record.name.c_str());
        return std::string();
    }
    const GeometryValue geometry[] = {{"x0", record.x},      {"y0", record.y},
                                      {"z0", record.z},      {"alpha", record.alpha},
                                      {"beta", record.beta}, {"gamma", record.gamma}};
    for (const GeometryValue& entry : geometry) {
        if (!data.SetDoubleEntry("Geometry", entry.name, entry.value)) {
            MERRTRACE("generate_probesystem_data(): MIniData::AddDoubleEntry(\"Geometry\", "
                      "\"%s\", %f) failed",
                      entry.name, entry.value);
            return std::string();
        }
    }
    if (!data.SetLongEntry("Geometry", "never_sent", 1)) {
        MERRTRACE("generate_probesystem_data(): MIniData::AddDoubleEntry(\"Geometry\", "
                  "\"never_sent\", 1) failed");
        return std::string();
    }
    return data.GetContentString();
}

bool MTessorProbesystemDB::set_id_data_in_mem(const std::string& name, uint32_t id,
                                              const std::string& text) {
    static const char* const kSet = "MTessorProbesystemDB::set_id_data_in_mem";
    if (!IsProbesystemDefined(name)) {
        MERRTRACE("%s(): no such probesystem %.40s", kSet, name.c_str());
        return false;
    }
    if (!IsProbesystemIdDefined(name, id)) {
        MERRTRACE("%s(): no such id %.40s,%d", kSet, name.c_str(), static_cast<int>(id));
        return false;
    }
    MIniData parsed(0);
    if (!parsed.SetContentString(text)) {
        MERRTRACE("%s(): SetContentString() failed", kSet);
        return false;
    }
    int32_t save = 1;
    if (parsed.GetLongEntry("GENERAL", "Save", save) && save == 0)
        return true;
    std::string data = text;
    if (!stl_encode_base64(data)) {
        MERRTRACE("%s(): stl_encode_base64() failed", kSet);
        return false;
    }
    const std::string section = make_section_name(name, id);
    if (!m_inidata.SetStringEntry(section, "probe.system", data)) {
        MERRTRACE("%s(): SetStringEntry(\"%.40s\",\"probe.system\",...) failed", kSet,
                  section.c_str());
        return false;
    }
    if (!m_inidata.SetStringEntry(section, m_fileName, make_probe_ini_name(name, id))) {
        MERRTRACE("%s(): SetStringEntry(\"%.40s\",\"%s\",...) failed", kSet, section.c_str(),
                  m_fileName.c_str());
        return false;
    }
    return true;
}

bool MTessorProbesystemDB::def_id_in_ini(const ProbesystemRecord& record) {
    static const char* const kDef = "MTessorProbesystemDB::def_id_in_ini";
    const std::string data = generate_probesystem_data(record);
    if (data.empty()) {
        MERRTRACE("%s(): generate_probesystem_data(%f,%f,%f,%f,%f,%f,...) failed", kDef, record.x,
                  record.y, record.z, record.alpha, record.beta, record.gamma);
        return false;
    }
    if (!set_id_data_in_mem(record.name, record.id, data)) {
        MERRTRACE("%s(): set_id_data_in_mem(%.40s,%d,...) failed", kDef, record.name.c_str(),
                  static_cast<int>(record.id));
        return false;
    }
    const std::string section = make_section_name(record.name, record.id);
    const GeometryValue geometry[] = {{"x", record.x},       {"y", record.y},
                                      {"z", record.z},       {"alpha", record.alpha},
                                      {"beta", record.beta}, {"gamma", record.gamma}};
    for (const GeometryValue& entry : geometry) {
        if (entry.value != 0.0 && !m_inidata.SetDoubleEntry(section, entry.name, entry.value)) {
            MERRTRACE("%s(): inidata.SetDoubleEntry(%.50s,\"%s\",%f) failed", kDef, section.c_str(),
                      entry.name, entry.value);
            return false;
        }
    }
    if (!m_inidata.Save()) {
        MERRTRACE("%s(): inidata.Save() failed", kDef);
        return false;
    }
    return true;
}

bool MTessorProbesystemDB::get_probe_ini_path(const std::string& name, uint32_t id,
                                              std::string& path) {
    std::string file;
    if (!m_inidata.GetStringEntry(make_section_name(name, id), m_fileName, file) || file.empty())
        return false;
    path = path_of(file);
    return true;
}

bool MTessorProbesystemDB::create_probe_ini_file(const std::string& name, uint32_t id) {
    static const char* const kCreate = "MTessorProbesystemDB::create_probe_ini_file";
    std::string path;
    if (!get_probe_ini_path(name, id, path)) {
        MERRTRACE("%s(): get_probe_ini_path(\"%.50s\") failed", kCreate, name.c_str());
        return false;
    }
    // Loaded first: a file left from an earlier probesystem of that name keeps its probes.
    MIniData probes(kFileFlags);
    if (!probes.Open(path)) {
        MERRTRACE("%s(): pini.Open(\"%.50s\") failed", kCreate, path.c_str());
        return false;
    }
    if (!probes.SetLongEntry("Global", "ActProbe", 0) ||
        !probes.SetLongEntry("Global", "ActTip", 0) || !probes.Save()) {
        MERRTRACE("%s(): pini.Save() failed", kCreate);
        return false;
    }
    if (!probes.Close()) {
        MERRTRACE("%s(): pini.Close() failed", kCreate);
        return false;
    }
    return true;
}

std::string MTessorProbesystemDB::find_collision(const std::string& name, uint32_t id) const {
    // File names are compared as Windows does, whatever this system does: a configuration
    // folder moves between machines in backups.
    auto folded = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    };
    const std::string section = make_section_name(name, id);
    const std::string file = folded(make_probe_ini_name(name, id));
    const std::string companion = folded(MTessorProbeDB::MakeVolatileFileName(file));
    for (const auto& [otherName, data] : m_probesystems)
        for (const auto& other : data.Ids()) {
            if (otherName == name && other.first == id)
                continue;
            const std::string otherFile = folded(make_probe_ini_name(otherName, other.first));
            std::string shared;
            if (make_section_name(otherName, other.first) == section)
                shared = "section " + section;
            else if (otherFile == file || otherFile == companion ||
                     folded(MTessorProbeDB::MakeVolatileFileName(otherFile)) == file)
                shared = "file " + otherFile;
            if (!shared.empty())
                return stl_string_format("%s with \"%s\" %u", shared.c_str(), otherName.c_str(),
                                         other.first);
        }
    return std::string();
}

bool MTessorProbesystemDB::DefineProbesystem(const ProbesystemRecord& record) {
    static const char* const kDefine = "MTessorProbesystemDB::DefineProbesystem";
    if (IsProbesystemIdDefined(record.name, record.id)) {
        MERRTRACE("MTessorProbesystemDB::DefineProbe(%.40s, %d, ...): id already defined",
                  record.name.c_str(), static_cast<int>(record.id));
        return false;
    }
    // The name becomes a file name in the configuration directory; it must not lead out of
    // it. The empty name means "no probesystem".
    if (record.name.empty() || record.name.find_first_of("/\\") != std::string::npos) {
        MERRTRACE("%s(): illegal probesystem name \"%.40s\"", kDefine, record.name.c_str());
        return false;
    }
    // It is also a section name and a word of replies.
    if (const char* problem = stl_name_problem(record.name)) {
        MERRTRACE("%s(): illegal probesystem name \"%.40s\": %s", kDefine,
                  stl_escape_name(record.name).c_str(), problem);
        return false;
    }
    // Two probesystems in one file or section would share their probes, and deleting one
    // would delete the other's.
    const std::string collision = find_collision(record.name, record.id);
    if (!collision.empty()) {
        MERRTRACE("%s(): probesystem \"%s\" %u would share its %s", kDefine, record.name.c_str(),
                  record.id, collision.c_str());
        return false;
    }
    if (!def_id_in_mem(m_probesystems, record)) {
        MERRTRACE("%s(): def_id_in_mem(%.40s,%d,%f,%f,%f,%f,%f,%f) failed", kDefine,
                  record.name.c_str(), static_cast<int>(record.id), record.x, record.y, record.z,
                  record.alpha, record.beta, record.gamma);
        return false;
    }
    // A failure below takes the id out of the list again and puts the document back, so that
    // list, document and file agree.
    auto drop_id = [&] {
        auto it = m_probesystems.find(record.name);
        it->second.DeleteId(record.id);
        if (it->second.IsEmpty())
            m_probesystems.erase(it);
    };
    MIniDataRollback rollback(m_inidata);
    if (!def_id_in_ini(record)) {
        MERRTRACE("%s(): def_id_in_ini(%.40s,%d,%f,%f,%f,%f,%f,%f) failed", kDefine,
                  record.name.c_str(), static_cast<int>(record.id), record.x, record.y, record.z,
                  record.alpha, record.beta, record.gamma);
        drop_id();
        return false;
    }
    if (!create_probe_ini_file(record.name, record.id)) {
        MERRTRACE("%s(): create_probe_ini_file(%.40s,%d) failed", kDefine, record.name.c_str(),
                  static_cast<int>(record.id));
        // The database file has the new section already: write it back without.
        const MIniData defined(m_inidata);
        rollback.Undo();
        if (m_inidata.Save()) {
            drop_id();
            return false;
        }
        // The file keeps the probesystem, and so does memory: read the file again.
        const std::string path = path_of(m_fileName);
        if (!m_inidata.Open(path)) {
            MERRTRACE("%s(): inidata.Open(\"%.50s\") failed", kDefine, path.c_str());
            m_inidata = defined;
        }
        return false;
    }
    rollback.Keep();
    return true;
}

bool MTessorProbesystemDB::delete_id(const std::string& name, uint32_t id) {
    static const char* const kDelete = "MTessorProbesystemDB::delete_id";
    auto it = m_probesystems.find(name);
    if (it == m_probesystems.end()) {
        MERRTRACE("%s(%.40s,%d): no probesystem %.40s", kDelete, name.c_str(), static_cast<int>(id),
                  name.c_str());
        return false;
    }
    ProbesystemRecord kept{name, id};
    if (it->second.HasId(id)) {
        const ProbesystemGeometry& g = it->second.Ids().at(id);
        kept = {name, id, g.x, g.y, g.z, g.alpha, g.beta, g.gamma};
    }
    if (!it->second.DeleteId(id)) {
        MERRTRACE("%s(%.40s,%d): DeleteId(%d) failed", kDelete, name.c_str(), static_cast<int>(id),
                  static_cast<int>(id));
        return false;
    }
    std::string probeFile;
    const bool hasProbeFile =
        get_probe_ini_path(name, id, probeFile) && file_exists(probeFile.c_str());

    // The database file is written first and the probe file removed only then: a failed save
    // must not cost the probes of a probesystem that is still defined.
    const std::string section = make_section_name(name, id);
    MIniDataRollback rollback(m_inidata);
    bool ok = m_inidata.DeleteSection(section);
    if (!ok)
        MERRTRACE("MTessorProbesystemDB::delete_id(): inidata.DeleteSection(\"%.40s\") failed",
                  section.c_str());
    if (ok && !m_inidata.Save()) {
        MERRTRACE("MTessorProbesystemDB::delete_id(): inidata.Save() failed");
        ok = false;
    }
    if (!ok) {
        it->second.DefineId(kept);
        return false;
    }
    rollback.Keep();
    if (it->second.IsEmpty())
        m_probesystems.erase(it);
    if (hasProbeFile && !file_remove(probeFile.c_str()))
        MTRACE(3, "%s(): could not remove %s", kDelete, probeFile.c_str());

    if (m_activeName == name && m_activeId == id && !SetActiveProbesystem(std::string(), 0)) {
        MERRTRACE("%s(): SetActiveProbesystem(\"\", 0) failed", kDelete);
        return false;
    }
    return true;
}

bool MTessorProbesystemDB::DeleteProbesystem(const std::string& name, uint32_t id) {
    if (!IsProbesystemDefined(name)) {
        MERRTRACE("MTessorProbesystemDB::DeleteProbesystem(%.40s, %d): no such probesystem",
                  name.c_str(), static_cast<int>(id));
        return false;
    }
    if (!delete_id(name, id)) {
        MERRTRACE("MTessorProbesystemDB::DeleteProbesystem(): delete_id(%.40s,%d) 1 failed",
                  name.c_str(), static_cast<int>(id));
        return false;
    }
    return true;
}

// --- component data ---

bool MTessorProbesystemDB::GetComponentData(std::string& text, const std::string& name,
                                            uint32_t id) {
    static const char* const kGet = "MTessorProbesystemDB::GetComponentData";
    if (!IsProbesystemDefined(name)) {
        MERRTRACE("%s(): no such probesystem %.40s", kGet, name.c_str());
        return false;
    }
    if (!IsProbesystemIdDefined(name, id)) {
        MERRTRACE("%s(): no such id %.40s:%u", kGet, name.c_str(), id);
        return false;
    }
    const std::string section = make_section_name(name, id);
    std::string data;
    if (!m_inidata.GetStringEntry(section, "probe.system", data)) {
        MERRTRACE("%s(): GetStringEntry(\"%.40s\",\"probe.system\",...) failed", kGet,
                  section.c_str());
        return false;
    }
    if (!stl_decode_base64(data)) {
        MERRTRACE("%s(): stl_decode_base64() failed", kGet);
        return false;
    }
    text = std::move(data);
    return true;
}

bool MTessorProbesystemDB::SetComponentData(const std::string& text) {
    MIniDataRollback rollback(m_inidata);
    if (!set_id_data_in_mem(m_activeName, m_activeId, text)) {
        MERRTRACE("MTessorProbesystemDB::SetComponentData(): set_id_data_in_mem(%.40s,%d,...) "
                  "failed",
                  m_activeName.c_str(), static_cast<int>(m_activeId));
        return false;
    }
    if (!m_inidata.Save()) {
        MERRTRACE("MTessorProbesystemDB::SetComponentData(): inidata.Save() failed");
        return false;
    }
    rollback.Keep();
    return true;
}

// --- backup and restore ---

bool MTessorProbesystemDB::BackupAllData(const std::string& serial, std::string& text) {
    MIniData backup(0);
    if (!backup.SetStringEntry("Global", "SerialNo", serial)) {
        MERRTRACE("BackupAllData(): failed to set serial number");
        return false;
    }
    std::vector<std::string> files{m_fileName};
    if (file_exists(path_of(m_volatileName).c_str()))
        files.push_back(m_volatileName);
    for (const auto& [name, data] : m_probesystems) {
        for (const auto& id : data.Ids()) {
            std::string file = make_probe_ini_name(name, id.first);
            if (file_exists(path_of(file).c_str()))
                files.push_back(std::move(file));
        }
    }
    for (const std::string& file : files) {
        const std::string path = path_of(file);
        std::string bytes;
        if (MFastFile_ReadAtOnce(path.c_str(), bytes) < 0) {
            MERRTRACE("BackupAllData(): failed to read contents of %s", path.c_str());
            return false;
        }
        if (!stl_encode_base64(bytes)) {
            MERRTRACE("BackupAllData(): failed to do base64 encoding of %s", path.c_str());
            return false;
        }
        if (!backup.SetStringEntry("Global", file, bytes)) {
            MERRTRACE("BackupAllData(): failed to write file contents of %s to inifile",
                      path.c_str());
            return false;
        }
    }
    text = backup.GetContentString();
    MTRACE(4, "BackupAllData(): backup of probe and probesystem data for machine %s done",
           serial.c_str());
    return true;
}

bool MTessorProbesystemDB::RestoreAllData(const std::string& serial, const std::string& text) {
    std::string saved;
    if (!BackupAllData(serial, saved)) {
        MERRTRACE("RestoreAllData(): backup failed");
        return false;
    }
    MTRACE(4, "RestoreAllData(): starting restore of probe and probesystem data for machine %s",
           serial.c_str());
    bool touched = false;
    if (restore(serial, text, touched)) {
        MTRACE(3, "RestoreAllData(): probe and probesystem data restored");
        return true;
    }
    MERRTRACE("RestoreAllData(): restoration of probe data failed. Trying to restore old state.");
    if (!touched) {
        // The text was refused before anything was written: the old state is still in place,
        // and writing the in-memory backup back would only rewrite the same bytes.
        MERRTRACE("RestoreAllData(): restoration of backup data successful.");
        return false;
    }
    if (do_restore(serial, saved)) {
        MERRTRACE("RestoreAllData(): restoration of backup data successful.");
    } else {
        MERRTRACE("RestoreAllData(): could not restore backup data. Sorry, you have to recover "
                  "manually. Good luck...");
        // Whatever the files now hold, memory should say the same.
        Open();
    }
    return false;
}

bool MTessorProbesystemDB::do_restore(const std::string& serial, const std::string& text) {
    bool touched = false;
    return restore(serial, text, touched);
}

bool MTessorProbesystemDB::restore(const std::string& serial, const std::string& text,
                                   bool& touched) {
    touched = false;
    MIniData backup(0);
    if (!backup.SetContentString(text)) {
        MERRTRACE("do_restore(): failed to read data to be restored");
        return false;
    }
    std::string backupSerial;
    if (!backup.GetStringEntry("Global", "SerialNo", backupSerial)) {
        MERRTRACE("do_restore(): failed to extract machine serial number from file");
        return false;
    }
    if (backupSerial != serial) {
        if (backupSerial != kNoSerial) {
            MERRTRACE("do_restore(): serial numbers do not match (%s != %s). Refusing restore.",
                      serial.c_str(), backupSerial.c_str());
            return false;
        }
        MTRACE_ALWAYS("do_restore(): warning: restoring probe data of machine '%s' to "
                      "this machine with serial '%s'. Calibration data is unreliable.",
                      backupSerial.c_str(), serial.c_str());
    }

    // The whole text is checked before the first file is touched: a damaged backup must not
    // leave a half-restored machine behind.
    std::map<std::string, std::string> files; // entry name -> file bytes
    std::vector<std::string> entries;
    backup.GetEntryNames("Global", entries);
    for (const std::string& entry : entries) {
        if (entry == "SerialNo")
            continue;
        if (entry == "." || entry == ".." || entry.find_first_of("/\\") != std::string::npos) {
            MERRTRACE("do_restore(): illegal file name %s", entry.c_str());
            return false;
        }
        std::string bytes;
        backup.GetStringEntry("Global", entry, bytes);
        if (!stl_decode_base64(bytes)) {
            MERRTRACE("do_restore(): failed to base64 decode %s", entry.c_str());
            return false;
        }
        files[entry] = std::move(bytes);
    }
    MIniData database(0);
    MIniData active(0);
    const std::pair<const std::string*, MIniData*> documents[] = {{&m_fileName, &database},
                                                                  {&m_volatileName, &active}};
    for (const auto& [name, document] : documents) {
        auto it = files.find(*name);
        if (it == files.end()) {
            MERRTRACE("do_restore(): could not get entry for %s", name->c_str());
            return false;
        }
        if (!document->SetContentString(it->second)) {
            MERRTRACE("do_restore(): failed to parse %s", name->c_str());
            return false;
        }
    }
    ProbesystemMap list;
    if (!build_probesystems_list(database, list)) {
        MERRTRACE("do_restore(): failed to build internal probesystems list");
        return false;
    }
    std::string activeName;
    int32_t activeId = 0;
    if (!active.GetStringEntry("Global", "ActSystem", activeName)) {
        MERRTRACE("do_restore(): failed to set current probesystem");
        return false;
    }
    if (!active.GetLongEntry("Global", "ActId", activeId)) {
        MERRTRACE("do_restore(): failed to set current probesystem id");
        return false;
    }
    if (activeId < 0) {
        // Nothing of the backup is written, but the probe system is unloaded before the
        // attempt fails (RestoreAllData then puts the old selection back).
        touched = true;
        UnloadProbesystem();
        MERRTRACE("do_restore(): illegal probesystem id %ld", static_cast<long>(activeId));
        return false;
    }

    // Probesystems the backup has no probe file for go, with their probe files.
    touched = true;
    for (bool deleted = true; deleted;) {
        deleted = false;
        for (const auto& [name, data] : m_probesystems) {
            for (const auto& id : data.Ids()) {
                if (files.count(make_probe_ini_name(name, id.first)) != 0)
                    continue;
                const std::string doomed = name;
                const uint32_t doomedId = id.first;
                if (!DeleteProbesystem(doomed, doomedId)) {
                    MERRTRACE("do_restore(): failed to delete %s %u", doomed.c_str(), doomedId);
                    return false;
                }
                MTRACE(5, "do_restore(): %s %u deleted", doomed.c_str(), doomedId);
                deleted = true; // the walk starts again: the list has changed
                break;
            }
            if (deleted)
                break;
        }
    }

    for (const auto& [entry, bytes] : files) {
        if (entry == m_fileName)
            continue;
        const std::string path = path_of(entry);
        if (MFastFile_WriteAtOnce(path.c_str(), bytes.data(), bytes.size(), kWriteMode) < 0) {
            MERRTRACE("do_restore(): failed to write %s", path.c_str());
            return false;
        }
        MTRACE(5, "do_restore(): restored %s", entry.c_str());
    }
    const std::pair<const std::string*, MIniData*> targets[] = {{&m_fileName, &m_inidata},
                                                                {&m_volatileName, &m_volatile}};
    for (const auto& [name, target] : targets) {
        const std::string path = path_of(*name);
        if (!target->SetContentString(files[*name]) || !target->Save()) {
            MERRTRACE("do_restore(): failed to write %s", path.c_str());
            return false;
        }
        MTRACE(5, "do_restore(): restored %s", name->c_str());
    }

    m_probesystems = std::move(list);
    MTRACE(5, "do_restore(): restored probesystems list");
    m_activeName = activeName;
    MTRACE(5, "do_restore(): current probesystem set to %s", m_activeName.c_str());
    m_activeId = static_cast<uint32_t>(activeId);
    MTRACE(5, "do_restore(): current probesystem id set to %u", m_activeId);
    return true;
}
