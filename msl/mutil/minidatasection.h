#pragma once
// One section of an INI document: its header line, the lines below it in file order, and an
// index of its entries by name.

#include "msl/mutil/minidataline.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Orders names by their bytes taken as unsigned, a proper prefix first
// ('Probe' < 'Probe_1' < 'probe'). Transparent, so look-ups need no std::string.
struct MIniDataCaseSensitiveCompare {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};

template <class Compare> class MIniDataSectionT : public MIniDataLine {
public:
    // Entry name -> entry line; the lines themselves are owned by the section's line list.
    using EntryMap = std::map<std::string, MIniDataEntry*, Compare>;

    // `headerText` is the whole header line, "[Name]" or as read ("[Name]  ; note").
    explicit MIniDataSectionT(std::string_view headerText);
    ~MIniDataSectionT() override;

    // --- Look-up (exact stored names; the document trims requested names) ---
    MIniDataEntry* FindEntry(std::string_view name) const;
    const EntryMap& GetEntryMap() const { return entry_map; }
    // The lines below the header, in file order.
    const std::vector<std::unique_ptr<MIniDataLine>>& GetLines() const { return line_vec; }

    // --- Changes ---
    // Setters: replace the value of an existing entry, or append "name=value" at the end of
    // the section. Numbers are written as "%.17g", "%ld" and "%lld".
    bool SetDoubleEntry(std::string_view name, double value);
    bool SetLongEntry(std::string_view name, int32_t value);
    bool SetLongLongEntry(std::string_view name, long long value);
    bool SetStringEntry(std::string_view name, std::string_view value);

    // Deletes the entry of exactly this name (line and index).
    bool DeleteEntry(std::string_view name);

    // Appends "name=value" (name without trailing blanks) as a new entry. Refuses names that
    // would not read back as the same entry (see MIniData_IsWritableEntryName).
    bool add_new_entry(std::string_view name, std::string_view value);

    // --- Used by the document's parser and RenameSection ---
    void AppendPlainLine(std::string_view text);
    // Appends a parsed entry under `name`; the caller has made sure the name is new.
    void AppendEntry(std::string_view name, std::string_view text, size_t valueOffset);
    void SetHeaderText(std::string_view headerText) { text = headerText; }
    // Moves every line and entry of `source` (not its header) to the end of this section.
    void TakeLinesFrom(MIniDataSectionT& source);

    // --- Output ---
    // Bytes that AppendContent adds: every line plus one line end each.
    size_t GetContentLength() const;
    // Appends the header and every line, each followed by LF.
    void AppendContent(std::string& out) const;

private:
    bool set_value_text(std::string_view name, std::string_view value);

    EntryMap entry_map;
    std::vector<std::unique_ptr<MIniDataLine>> line_vec;
};

// True when "name=value" written at the start of a line reads back as an entry of that name:
// not empty, no leading blank or tab, no '[' first (a header), no comment character first,
// and no '=', CR or LF inside. Trailing blanks are ignored.
bool MIniData_IsWritableEntryName(std::string_view name);

// True when "[" name "]" reads back as a header of that name: no ']', CR or LF inside.
bool MIniData_IsWritableSectionName(std::string_view name);

extern template class MIniDataSectionT<MIniDataCaseSensitiveCompare>;
using MIniDataSection = MIniDataSectionT<MIniDataCaseSensitiveCompare>;
