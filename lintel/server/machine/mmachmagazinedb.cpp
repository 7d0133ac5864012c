#include "lintel/server/machine/mmachmagazinedb.h"

#include "lintel/server/machine/mmachabstract.h"
#include "msl/merror/merrtracecontext.h"
#include "platform/trace/merrtrace.h"

#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

const char kHistorySection[] = "HISTORY";
const char kProbeEntry[] = "probe";
const char kLoadEntry[] = "load.program";
const char kUnloadEntry[] = "unload.program";
const char kChangePrefix[] = "change_to_";
const char kChangeSuffix[] = ".program";

// Entry names "change_to_<slot>.program" with a plain decimal slot number; any other entry
// is not a change program.
bool parse_change_entry(std::string_view entry, uint32_t& toSlot) {
    const std::string_view prefix = kChangePrefix, suffix = kChangeSuffix;
    if (entry.substr(0, prefix.size()) != prefix)
        return false;
    entry.remove_prefix(prefix.size());
    const char* end = entry.data() + entry.size();
    std::from_chars_result result = std::from_chars(entry.data(), end, toSlot);
    if (result.ec != std::errc() || result.ptr == entry.data())
        return false;
    return std::string_view(result.ptr, static_cast<size_t>(end - result.ptr)) == suffix;
}

// One pair of enclosing double quotes goes; a lone or unmatched quote stays.
std::string remove_quotes(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

} // namespace

// Saved through a temporary file renamed over the old one: a failed save leaves the old file
// whole, which the resynchronisation after a failed change reads back.
MMachMagazineDB::MMachMagazineDB(const std::string& path, MMachAbstract& machine)
    : path(path), inidata(MINIDATA_FLUSH_ON_SAVE | MINIDATA_SAFE_SAVE), machine(&machine) {}

bool MMachMagazineDB::Open() {
    static const char op[] = "MMachMagazineDB::Open";
    if (!inidata.Open(path)) {
        MERRTRACE("%s(): inidata.Open(\"%.50s\") failed", op, path.c_str());
        // What was read is only part of the file: know no slot, so nothing saves it back.
        probesystems.clear();
        return false;
    }
    // Damaged sections are skipped and logged; the others stay usable.
    analyse_inifile();
    return true;
}

bool MMachMagazineDB::Send(const std::string& content) {
    static const char op[] = "MMachMagazineDB::Send";
    bool ok = false;
    if (!inidata.SetContentString(content)) {
        MERRTRACE("%s(): SetContentString() failed", op);
    } else if (!analyse_inifile()) {
        MERRTRACE("%s(): analyse_inifile() failed", op);
        probesystems.clear();
    } else if (!inidata.Save()) {
        MERRTRACE("%s(): Save() failed", op);
    } else {
        ok = true;
    }
    if (ok)
        return true;
    // Back to what the file holds, which the failed content never reached.
    if (!Open())
        MERRTRACE("%s(): Open() failed", op);
    return false;
}

bool MMachMagazineDB::SetSlot(uint32_t slot, uint32_t probe) {
    static const char op[] = "MMachMagazineDB::SetSlot";
    const std::string name = machine->GetActiveProbesystem();
    const uint32_t id = machine->GetActiveProbesystemId();
    const std::string key = probesystem_key(name, id);
    auto slots = probesystems.find(key);
    if (slots == probesystems.end()) {
        MERRTRACE("%s(): probesystem %s not found", op, key.c_str());
        return false;
    }
    auto record = slots->second.find(slot);
    if (record == slots->second.end()) {
        MERRTRACE("%s(): slot number %u not found", op, slot);
        return false;
    }
    record->second.probe = probe;
    // Probe numbers above 2^31 keep their bits through the signed entry.
    if (!inidata.SetLongEntry(record->second.section, kProbeEntry, static_cast<int32_t>(probe))) {
        MERRTRACE("%s(): inidata.SetLongEntry() failed", op);
        resync_inifile();
        return false;
    }
    if (!inidata.Save()) {
        MERRTRACE("%s(): inidata.Save() failed", op);
        resync_inifile();
        return false;
    }
    return true;
}

uint32_t MMachMagazineDB::GetSlotOfProbe(uint32_t probe) const {
    const SlotMap* slots = find_slots(active_key());
    if (slots == nullptr)
        return 0;
    for (const auto& [number, record] : *slots) {
        if (record.probe == probe)
            return number;
    }
    return 0;
}

const MMachMagazineSlot* MMachMagazineDB::FindSlot(uint32_t slot) const {
    const SlotMap* slots = find_slots(active_key());
    if (slots == nullptr)
        return nullptr;
    auto record = slots->find(slot);
    return record == slots->end() ? nullptr : &record->second;
}

std::string MMachMagazineDB::GetLoadProgram(uint32_t slot) const {
    const MMachMagazineSlot* record = FindSlot(slot);
    return record == nullptr ? std::string() : remove_quotes(record->loadProgram);
}

std::string MMachMagazineDB::GetUnloadProgram(uint32_t slot) const {
    const MMachMagazineSlot* record = FindSlot(slot);
    return record == nullptr ? std::string() : remove_quotes(record->unloadProgram);
}

std::string MMachMagazineDB::GetChangeProgram(uint32_t fromSlot, uint32_t toSlot) const {
    const MMachMagazineSlot* from = FindSlot(fromSlot);
    if (from == nullptr)
        return std::string();
    auto own = from->changePrograms.find(toSlot);
    if (own != from->changePrograms.end())
        return remove_quotes(own->second);
    const MMachMagazineSlot* to = FindSlot(toSlot);
    if (to == nullptr)
        return std::string();
    // Quotes around the joined text go like those around a single program; the first
    // doubled quote left inside then separates commands, as the ';' does.
    std::string program = remove_quotes(from->unloadProgram + ";" + to->loadProgram);
    if (program.size() >= 2) {
        size_t pair = program.find("\"\"");
        if (pair != std::string::npos) {
            program[pair] = ';';
            program.erase(pair + 1, 1);
        }
    }
    return program;
}

std::map<uint32_t, uint32_t> MMachMagazineDB::GetSlots(const std::string& name, uint32_t id) const {
    const SlotMap* slots =
        find_slots(name.empty() && id == 0 ? active_key() : probesystem_key(name, id));
    std::map<uint32_t, uint32_t> result;
    if (slots != nullptr) {
        for (const auto& [number, record] : *slots)
            result.emplace(number, record.probe);
    }
    return result;
}

int MMachMagazineDB::DeleteProbe(uint32_t probe) {
    static const char op[] = "MMachMagazineDB::DeleteProbe";
    const std::string name = machine->GetActiveProbesystem();
    const uint32_t id = machine->GetActiveProbesystemId();
    auto slots = probesystems.find(probesystem_key(name, id));
    if (slots == probesystems.end())
        return 1;
    for (auto& entry : slots->second) {
        MMachMagazineSlot& record = entry.second;
        if (record.probe != probe)
            continue;
        record.probe = 0;
        const std::string& section = record.section;
        if (!inidata.SetLongEntry(section, kProbeEntry, 0)) {
            MERRTRACE("%s(): inidata.SetLongEntry(%.40s,\"%s\") failed", op, section.c_str(),
                      kProbeEntry);
            resync_inifile();
            return 0;
        }
        if (!inidata.Save()) {
            MERRTRACE("%s(): inidata.Save() failed", op);
            resync_inifile();
            return 0;
        }
        return 1;
    }
    return 1;
}

int MMachMagazineDB::DeleteProbesystem(const std::string& name, uint32_t id) {
    static const char op[] = "MMachMagazineDB::DeleteProbesystem";
    auto slots = probesystems.find(probesystem_key(name, id));
    if (slots == probesystems.end())
        return 1;
    int result = 1;
    for (const auto& entry : slots->second) {
        const std::string& section = entry.second.section;
        if (!inidata.DeleteSection(section)) {
            MERRTRACE("%s(): inidata.DeleteSection(%.40s) failed", op, section.c_str());
            result = 0;
        }
    }
    probesystems.erase(slots);
    if (!inidata.Save()) {
        MERRTRACE("%s(): inidata.Save() failed", op);
        result = 0;
    }
    if (result == 0)
        resync_inifile();
    return result;
}

bool MMachMagazineDB::split_section_name(const std::string& section, std::string& name,
                                         uint32_t& id, uint32_t& slot) {
    static const char op[] = "split_section_name";
    const size_t last = section.rfind('_');
    if (last == std::string::npos) {
        MERRTRACE("%s(): no '_' found in %.60s", op, section.c_str());
        return false;
    }
    const size_t second = last == 0 ? std::string::npos : section.rfind('_', last - 1);
    if (second == std::string::npos) {
        MERRTRACE("%s(): no second '_' found in %.60s", op, section.c_str());
        return false;
    }
    unsigned scannedId = 0, scannedSlot = 0;
    if (std::sscanf(section.c_str() + second + 1, "%u_slot%u", &scannedId, &scannedSlot) != 2) {
        MERRTRACE("%s(): could not parse '%%u_slot%%u' in %.60s", op, section.c_str());
        return false;
    }
    name = section.substr(0, second);
    id = scannedId;
    slot = scannedSlot;
    return true;
}

bool MMachMagazineDB::analyse_inifile() {
    probesystems.clear();
    std::vector<std::string> sections;
    inidata.GetSectionNames(sections);
    bool all = true;
    for (const std::string& section : sections) {
        if (section == kHistorySection)
            continue;
        // One damaged section costs only its own slot: its causes go to the error log under
        // a headline that names it.
        MErrTraceContext context(__FILE__);
        if (!analyse_section(section)) {
            context.DumpToMErrLog(__LINE__,
                                  "MMachMagazineDB::analyse_inifile(): section \"%.50s\" "
                                  "skipped",
                                  section.c_str());
            all = false;
        }
    }
    return all;
}

bool MMachMagazineDB::analyse_section(const std::string& section) {
    static const char op[] = "MMachMagazineDB::analyse_inifile";
    std::string name;
    uint32_t id = 0;
    uint32_t slot = 0;
    if (!split_section_name(section, name, id, slot)) {
        MERRTRACE("%s(): split_section_name(\"%.50s\") failed", op, section.c_str());
        return false;
    }
    if (!machine->IsProbesystemDefined(name)) {
        MERRTRACE("%s(): Probesystem \"%.50s\" not defined", op, name.c_str());
        return false;
    }
    if (!machine->IsProbesystemIdDefined(name, id)) {
        MERRTRACE("%s(): Probesystem id %u not defined for \"%.50s\"", op, id, name.c_str());
        return false;
    }
    const std::string key = probesystem_key(name, id);
    auto known = probesystems.find(key);
    if (known != probesystems.end() && known->second.count(slot) != 0) {
        MERRTRACE("%s(): Slot %u exists more than once for \"%.50s\" %u", op, slot, name.c_str(),
                  id);
        return false;
    }

    MMachMagazineSlot record;
    record.section = section;
    auto read_program = [&](const char* entry, std::string& program) {
        if (inidata.GetStringEntry(section, entry, program))
            return true;
        MERRTRACE("%s(): Entry %s is missing in section \"%.50s\"", op, entry, section.c_str());
        return false;
    };
    if (!read_program(kLoadEntry, record.loadProgram) ||
        !read_program(kUnloadEntry, record.unloadProgram))
        return false;
    int32_t probe = 0; // a missing or unreadable number is an empty slot
    inidata.GetLongEntry(section, kProbeEntry, probe);
    record.probe = static_cast<uint32_t>(probe);

    std::vector<std::string> entries;
    inidata.GetEntryNames(section, entries);
    for (const std::string& entry : entries) {
        uint32_t toSlot = 0;
        if (!parse_change_entry(entry, toSlot))
            continue;
        if (!inidata.GetStringEntry(section, entry, record.changePrograms[toSlot])) {
            MERRTRACE("%s(): GetStringEntry(\"%.40s\", \"%.40s\" failed", op, section.c_str(),
                      entry.c_str());
            return false;
        }
    }
    probesystems[key].emplace(slot, std::move(record));
    return true;
}

void MMachMagazineDB::resync_inifile() {
    static const char op[] = "MMachMagazineDB::resync_inifile";
    if (!inidata.Reload()) {
        MERRTRACE("%s(): inidata.Reload() failed", op);
        // Only part of the file was read: know no slot, so no change saves that part back.
        probesystems.clear();
        return;
    }
    if (!analyse_inifile())
        MERRTRACE("%s(): analyse_inifile() failed", op);
}

std::string MMachMagazineDB::probesystem_key(const std::string& name, uint32_t id) {
    char key[128];
    std::snprintf(key, sizeof key, "%.100s_%u", name.c_str(), id);
    return key;
}

std::string MMachMagazineDB::active_key() const {
    return probesystem_key(machine->GetActiveProbesystem(), machine->GetActiveProbesystemId());
}

const MMachMagazineDB::SlotMap* MMachMagazineDB::find_slots(const std::string& key) const {
    auto slots = probesystems.find(key);
    return slots == probesystems.end() ? nullptr : &slots->second;
}
