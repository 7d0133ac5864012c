#include "msl/mutil/minidata.h"

#include "msl/merror/merrtracecontext.h"
#include "msl/mfileio/mfastfile.h"
#include "msl/mfileio/mfastfilereader.h"
#include "msl/mfileio/mfileops.h"
#include "msl/mutil/bom.h"
#include "msl/mutil/minidata_internal.h"
#include "msl/mutil/stlstring.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char kSetDoubleEntry[] = "MIniDataT<struct MIniDataCaseSensitiveCompare>::SetDoubleEntry";
// Both integer setters report under this one name.
const char kSetLongEntry[] = "MIniDataT<struct MIniDataCaseSensitiveCompare>::SetLongEntry";
const char kSetStringEntry[] = "MIniDataT<struct MIniDataCaseSensitiveCompare>::SetStringEntry";
const char kRenameSection[] = "MIniDataT<struct MIniDataCaseSensitiveCompare>::RenameSection";

bool starts_as_comment(std::string_view name) {
    size_t first = MIniData_FirstNonBlank(name);
    return first != std::string_view::npos && MIniData_IsCommentChar(name[first]);
}

// The text of a value for strtod and friends, which need a terminating zero.
std::string value_text(const MIniDataEntry& entry) {
    return std::string(entry.GetValue());
}

} // namespace

// --- Construction and copies ---

template <class Compare> MIniDataT<Compare>::MIniDataT(uint32_t flags) : flags(flags) {}

template <class Compare> MIniDataT<Compare>::MIniDataT(const std::string& fileName) : flags(0) {
    MErrTraceContext context("MIniData_template_core");
    if (!Open(fileName))
        context.DumpToMErrLog(__LINE__, "MIniData::MIniData(): Open(\"%.60s\") failed",
                              fileName.c_str());
}

template <class Compare> MIniDataT<Compare>::MIniDataT(const MIniDataT& other) : flags(0) {
    copy_from(other);
}

template <class Compare> MIniDataT<Compare>& MIniDataT<Compare>::operator=(const MIniDataT& other) {
    if (this != &other)
        copy_from(other);
    return *this;
}

template <class Compare> MIniDataT<Compare>::~MIniDataT() {
    Close();
}

template <class Compare> void MIniDataT<Compare>::copy_from(const MIniDataT& other) {
    file_name = other.file_name;
    flags = other.flags;
    message = other.message;
    // Through the text, so the copy shares no line objects with its source.
    SetContentString(other.GetContentString());
    open = other.open;
    new_file = other.new_file;
    in_sync = other.in_sync;
}

// --- Document ---

template <class Compare> bool MIniDataT<Compare>::Close() {
    Clear();
    file_name.clear();
    open = false;
    new_file = true;
    return true;
}

template <class Compare> void MIniDataT<Compare>::Clear() {
    current_section = nullptr;
    sections.clear();
    leading_lines.clear();
}

template <class Compare> std::string MIniDataT<Compare>::GetContentString() const {
    size_t length = 0;
    for (const auto& line : leading_lines)
        length += line->GetText().size() + 1;
    for (const auto& [name, section] : sections)
        length += section->GetContentLength();

    std::string text;
    text.reserve(length);
    for (const auto& line : leading_lines)
        text.append(line->GetText()).append(1, '\n');
    for (const auto& [name, section] : sections)
        section->AppendContent(text);
    return text;
}

template <class Compare> bool MIniDataT<Compare>::SetContentString(std::string_view text) {
    Clear();
    in_sync = false;
    text = text.substr(0, text.find('\0'));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        if (!parse_line(text.substr(start, end - start))) {
            MINIDATA_ERRTRACE("MIniData::SetContentString(): parse_line() failed");
            return false;
        }
        start = end + 1;
        if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return true;
}

// --- Parser ---

template <class Compare> bool MIniDataT<Compare>::parse_line(std::string_view line) {
    size_t first = MIniData_FirstNonBlank(line);
    if (first == std::string_view::npos) {
        append_plain_line(line);
        return true;
    }
    if (line[0] == '[')
        return parse_header(line);
    if (MIniData_IsCommentChar(line[first])) {
        append_plain_line(line);
        return true;
    }
    if (!current_section) {
        message = stl_string_format("Possible entry \"%s\" found before first section",
                                    std::string(line).c_str());
        MINIDATA_ERRTRACE("MIniData::parse_line(): %.70s", message.c_str());
        return false;
    }
    return parse_entry(line, first);
}

template <class Compare> void MIniDataT<Compare>::append_plain_line(std::string_view line) {
    if (current_section)
        current_section->AppendPlainLine(line);
    else
        leading_lines.push_back(std::make_unique<MIniDataLine>(line));
}

template <class Compare> bool MIniDataT<Compare>::parse_header(std::string_view line) {
    size_t close = line.find(']', 1);
    if (close == std::string_view::npos) {
        message =
            stl_string_format("no matching ']' found in \"%.50s\"", std::string(line).c_str());
        MINIDATA_ERRTRACE("MIniData::parse_line(): %.70s", message.c_str());
        return false;
    }
    std::string_view name = line.substr(1, close - 1);
    // One search serves both the duplicate check and the insertion (files are often sorted,
    // and large ones have thousands of sections).
    auto place = sections.lower_bound(name);
    if (place != sections.end() && place->first == name) {
        if (!(flags & MINIDATA_REPLACE_SECTIONS)) {
            message = stl_string_format("Section [%s] seen twice", std::string(name).c_str());
            MINIDATA_ERRTRACE("MIniData::parse_line(): %.70s", message.c_str());
            return false;
        }
        if (place->second.get() == current_section)
            current_section = nullptr;
        place = sections.erase(place);
    }
    auto section = std::make_unique<Section>(line);
    current_section = section.get();
    sections.emplace_hint(place, std::string(name), std::move(section));
    return true;
}

template <class Compare>
bool MIniDataT<Compare>::parse_entry(std::string_view line, size_t firstNonBlank) {
    const bool lenient = flags & (MINIDATA_LENIENT_ENTRIES | MINIDATA_REPLACE_SECTIONS);
    std::string_view name;
    size_t valueOffset = 0;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        if (!lenient) {
            message =
                stl_string_format("No '=' found in \"%.50s\" in section %s",
                                  std::string(line).c_str(), current_section->GetText().c_str());
            MINIDATA_ERRTRACE("MIniData::parse_line(): %.70s", message.c_str());
            return false;
        }
        name = MIniData_TrimTrailingBlanks(line.substr(firstNonBlank)); // value is the whole line
    } else {
        if (equals <= firstNonBlank && !lenient) {
            message =
                stl_string_format("No entry name found before '=' in \"%s\" in section %s",
                                  std::string(line).c_str(), current_section->GetText().c_str());
            MINIDATA_ERRTRACE("MIniData::parse_line(): %.70s", message.c_str());
            return false;
        }
        name = MIniData_TrimTrailingBlanks(line.substr(firstNonBlank, equals - firstNonBlank));
        valueOffset = equals + 1;
    }

    if (current_section->FindEntry(name)) {
        std::string shown(name);
        if (!(flags & MINIDATA_REPLACE_ENTRIES)) {
            message = stl_string_format("Entry \"%s\" seen twice in section %s", shown.c_str(),
                                        current_section->GetText().c_str());
            MINIDATA_ERRTRACE("MIniData::parse_line(): %.70s", message.c_str());
            return false;
        }
        if (!current_section->DeleteEntry(name)) {
            message =
                stl_string_format("Entry \"%s\" deleting previous version failed", shown.c_str());
            MINIDATA_ERRTRACE("MIniData::parse_line(): DeleteEntry() failed");
            return false;
        }
    }
    current_section->AppendEntry(name, line, valueOffset);
    return true;
}

// --- Look-up ---

template <class Compare>
typename MIniDataT<Compare>::Section*
MIniDataT<Compare>::find_section(std::string_view section) const {
    auto it = sections.find(section);
    return it == sections.end() ? nullptr : it->second.get();
}

template <class Compare>
const MIniDataEntry* MIniDataT<Compare>::find_entry(std::string_view section,
                                                    std::string_view entry) const {
    const Section* found = find_section(section);
    return found ? found->FindEntry(MIniData_TrimTrailingBlanks(entry)) : nullptr;
}

template <class Compare> bool MIniDataT<Compare>::HasSection(std::string_view section) const {
    return find_section(section) != nullptr;
}

template <class Compare>
void MIniDataT<Compare>::GetSectionNames(std::vector<std::string>& names) const {
    names.clear();
    names.reserve(sections.size());
    for (const auto& [name, section] : sections)
        names.push_back(name);
}

template <class Compare>
bool MIniDataT<Compare>::GetEntryNames(std::string_view section,
                                       std::vector<std::string>& names) const {
    names.clear();
    const Section* found = find_section(section);
    if (!found)
        return false;
    names.reserve(found->GetEntryMap().size());
    for (const auto& [name, entry] : found->GetEntryMap())
        names.push_back(name);
    return true;
}

template <class Compare> size_t MIniDataT<Compare>::GetEntryCount(std::string_view section) const {
    const Section* found = find_section(section);
    return found ? found->GetEntryMap().size() : 0;
}

template <class Compare>
bool MIniDataT<Compare>::HasEntry(std::string_view section, std::string_view entry) const {
    const Section* found = find_section(section);
    return found && found->FindEntry(entry);
}

// --- Getters ---

template <class Compare>
bool MIniDataT<Compare>::GetDoubleEntry(std::string_view section, std::string_view entry,
                                        double& value) const {
    const MIniDataEntry* found = find_entry(section, entry);
    if (!found)
        return false;
    std::string text = value_text(*found);
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != text.c_str();
}

template <class Compare>
bool MIniDataT<Compare>::GetLongEntry(std::string_view section, std::string_view entry,
                                      int32_t& value) const {
    const MIniDataEntry* found = find_entry(section, entry);
    if (!found)
        return false;
    std::string text = value_text(*found);
    char* end = nullptr;
    long long wide = std::strtoll(text.c_str(), &end, 10);
    value = wide < INT32_MIN   ? INT32_MIN
            : wide > INT32_MAX ? INT32_MAX
                               : static_cast<int32_t>(wide);
    return end != text.c_str();
}

template <class Compare>
bool MIniDataT<Compare>::GetLongLongEntry(std::string_view section, std::string_view entry,
                                          long long& value) const {
    const MIniDataEntry* found = find_entry(section, entry);
    if (!found)
        return false;
    std::string text = value_text(*found);
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return end != text.c_str();
}

template <class Compare>
bool MIniDataT<Compare>::GetStringEntry(std::string_view section, std::string_view entry,
                                        std::string& value) const {
    const MIniDataEntry* found = find_entry(section, entry);
    if (!found)
        return false;
    value.assign(found->GetValue());
    return true;
}

// --- Changes ---

template <class Compare>
typename MIniDataT<Compare>::Section*
MIniDataT<Compare>::add_new_section(std::string_view section) {
    if (!MIniData_IsWritableSectionName(section)) {
        message = stl_string_format("invalid section name \"%s\"", std::string(section).c_str());
        MINIDATA_ERRTRACE("MIniData::add_new_section(): invalid section name \"%.40s\"",
                          std::string(section).c_str());
        return nullptr;
    }
    std::string header;
    header.reserve(section.size() + 2);
    header.append(1, '[').append(section).append(1, ']');
    auto created = std::make_unique<Section>(header);
    Section* result = created.get();
    sections.emplace(std::string(section), std::move(created));
    changed();
    return result;
}

template <class Compare> bool MIniDataT<Compare>::AddSection(std::string_view section) {
    if (HasSection(section))
        return true;
    if (!add_new_section(section)) {
        MINIDATA_ERRTRACE("MIniData::AddSection(): add_new_section() failed");
        return false;
    }
    return true;
}

template <class Compare>
typename MIniDataT<Compare>::Section*
MIniDataT<Compare>::section_for_setter(std::string_view section, const char* operation) {
    if (Section* found = find_section(section))
        return found;
    Section* created = add_new_section(section);
    if (!created)
        MINIDATA_ERRTRACE("%s(): add_new_section() failed", operation);
    return created;
}

// Refuses what a setter must not write as an entry name: a comment, or a new name that would
// not read back as itself. `shownValue` is the value as the refusal message shows it.
template <class Compare>
bool MIniDataT<Compare>::check_entry_name(std::string_view section, std::string_view entry,
                                          const char* operation, const std::string& shownValue) {
    std::string name(entry);
    if (starts_as_comment(entry)) {
        message = stl_string_format("cannot add comment as an entry: \"%s=%s\"", name.c_str(),
                                    shownValue.c_str());
        MINIDATA_ERRTRACE("%s(): cannot add comment as an entry: \"%s=%s\"", operation,
                          name.c_str(), shownValue.c_str());
        return false;
    }
    if (!find_entry(section, entry) && !MIniData_IsWritableEntryName(entry)) {
        message = stl_string_format("invalid entry name \"%s\"", name.c_str());
        MINIDATA_ERRTRACE("%s(): invalid entry name \"%s\"", operation, name.c_str());
        return false;
    }
    return true;
}

template <class Compare>
bool MIniDataT<Compare>::SetDoubleEntry(std::string_view section, std::string_view entry,
                                        double value) {
    if (!check_entry_name(section, entry, kSetDoubleEntry, stl_string_format("%g", value)))
        return false;
    Section* target = section_for_setter(section, "MIniData::SetDoubleEntry");
    if (!target || !target->SetDoubleEntry(entry, value))
        return false;
    changed();
    return true;
}

template <class Compare>
bool MIniDataT<Compare>::SetLongEntry(std::string_view section, std::string_view entry,
                                      int32_t value) {
    if (!check_entry_name(section, entry, kSetLongEntry,
                          stl_string_format("%ld", static_cast<long>(value))))
        return false;
    Section* target = section_for_setter(section, "MIniData::SetLongEntry");
    if (!target || !target->SetLongEntry(entry, value))
        return false;
    changed();
    return true;
}

template <class Compare>
bool MIniDataT<Compare>::SetLongLongEntry(std::string_view section, std::string_view entry,
                                          long long value) {
    if (!check_entry_name(section, entry, kSetLongEntry, stl_string_format("%lld", value)))
        return false;
    Section* target = section_for_setter(section, "MIniData::SetLongLongEntry");
    if (!target || !target->SetLongLongEntry(entry, value))
        return false;
    changed();
    return true;
}

template <class Compare>
bool MIniDataT<Compare>::SetStringEntry(std::string_view section, std::string_view entry,
                                        std::string_view value) {
    if (!check_entry_name(section, entry, kSetStringEntry, std::string(value)))
        return false;
    Section* target = section_for_setter(section, "MIniData::SetStringEntry");
    if (!target || !target->SetStringEntry(entry, value))
        return false;
    changed();
    return true;
}

template <class Compare> void MIniDataT<Compare>::erase_section(typename SectionMap::iterator it) {
    if (it->second.get() == current_section)
        current_section = nullptr;
    sections.erase(it);
}

template <class Compare> bool MIniDataT<Compare>::DeleteSection(std::string_view section) {
    auto it = sections.find(section);
    if (it == sections.end()) {
        MINIDATA_ERRTRACE("MIniData::DeleteSection(): section \"%.40s\" not found",
                          std::string(section).c_str());
        return false;
    }
    erase_section(it);
    changed();
    return true;
}

template <class Compare>
bool MIniDataT<Compare>::DeleteEntry(std::string_view section, std::string_view entry) {
    Section* found = find_section(section);
    if (!found) {
        MINIDATA_ERRTRACE("MIniData::DeleteEntry(): section \"%.40s\" not found",
                          std::string(section).c_str());
        return false;
    }
    if (!found->DeleteEntry(entry)) {
        MINIDATA_ERRTRACE(
            "MIniData::DeleteEntry(): MIniDataSectionT::DeleteEntry() failed (\"%.30s\",\"%.30s\")",
            std::string(section).c_str(), std::string(entry).c_str());
        return false;
    }
    changed();
    return true;
}

template <class Compare>
bool MIniDataT<Compare>::RenameSection(std::string_view from, std::string_view to) {
    if (HasSection(to)) {
        MINIDATA_ERRTRACE("%s(): section \"%s\" already exists", kRenameSection,
                          std::string(to).c_str());
        return false;
    }
    auto source = sections.find(from);
    if (source == sections.end()) {
        MINIDATA_ERRTRACE("%s(): the source section \"%s\" doesn't exists", kRenameSection,
                          std::string(from).c_str());
        return false;
    }
    Section* target = add_new_section(to);
    if (!target) {
        MINIDATA_ERRTRACE("%s(): add_new_section() failed", kRenameSection);
        return false;
    }
    target->TakeLinesFrom(*source->second);
    erase_section(source);
    changed();
    return true;
}

// --- Files ---

template <class Compare> bool MIniDataT<Compare>::Open(const std::string& fileName) {
    Close();
    file_name = fileName;
    if (!file_exists(file_name.c_str())) {
        open = true;
        new_file = true;
        in_sync = false;
        return true;
    }
    return read_file();
}

template <class Compare> bool MIniDataT<Compare>::read_file() {
    MFastFileReader reader;
    if (!reader.Open(file_name.c_str())) {
        MINIDATA_ERRTRACE("MIniData::Open(): MFastFileReader::Open() failed");
        return false;
    }
    current_section = nullptr;
    new_file = false;
    std::string line;
    bool firstLine = true;
    while (!reader.IsEOF()) {
        if (!reader.ReadLine(line)) {
            MINIDATA_ERRTRACE("MIniData::Open(): MFastFileReader::ReadLine() failed");
            return false;
        }
        std::string_view text(line);
        if (firstLine) {
            firstLine = false;
            int bom = detect_bom(text.data(), text.size());
            if (bom == BOM_UTF8) {
                text.remove_prefix(bom_bytes(BOM_UTF8).size());
            } else if (bom != BOM_NONE) {
                message = "UTF16/32 Unicode format not supported.";
                MINIDATA_ERRTRACE(
                    "MIniData::Open(\"%.80s\"): UTF16/32 Unicode format not supported",
                    file_name.c_str());
                return false;
            }
        }
        // Empty lines are not kept from files (whitespace-only lines are).
        if (text.empty() || text[0] == '\0')
            continue;
        if (!parse_line(text)) {
            MINIDATA_ERRTRACE("MIniData::Open(): parse_line(%.60s) failed",
                              std::string(text).c_str());
            return false;
        }
    }
    // IsEOF reports a failed refill as the end of the file; a half-read document must not
    // pass for the whole file.
    if (reader.HasReadError()) {
        MINIDATA_ERRTRACE("MIniData::Open(): MFastFileReader::ReadLine() failed");
        return false;
    }
    open = true;
    in_sync = true;
    return true;
}

template <class Compare> bool MIniDataT<Compare>::Reload() {
    if (!open)
        return false;
    std::string name = file_name; // Open starts by forgetting the stored name
    return Open(name);
}

template <class Compare> bool MIniDataT<Compare>::Save() {
    const std::string text = GetContentString();
    int mode = MFASTFILE_MODE_OVERWRITE;
    if (flags & MINIDATA_FLUSH_ON_SAVE)
        mode |= MFASTFILE_MODE_FLUSH;
    if (flags & MINIDATA_SAFE_SAVE)
        mode |= MFASTFILE_MODE_SAFE;
    if (MFastFile_WriteLinesAtOnce(file_name.c_str(), text.data(), text.size(), mode) < 0) {
        MINIDATA_ERRTRACE("MIniData::Save(): MFastFile_WriteLinesAtOnce(\"%.40s\") failed",
                          file_name.c_str());
        return false;
    }
    new_file = false;
    in_sync = true;
    return true;
}

template class MIniDataT<MIniDataCaseSensitiveCompare>;
