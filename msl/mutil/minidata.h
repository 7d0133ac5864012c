#pragma once
// INI documents: every configuration and database file of the system is read, changed and
// written through MIniData.
//
// A document keeps its text as lines grouped into sections, so that comments, white space
// and the exact text of untouched entries survive a load-and-save cycle, while sections and
// entries are found by name in logarithmic time. Values are the raw text after the '=' of
// their line; there is no quoting, no escaping and no inline comment stripping.
//
// Written text: the leading lines (comments and blank lines before the first section), then
// every section in name order, each line followed by LF. On disk every line end is CR LF and
// no byte-order mark is written. Reading from a file drops empty lines (not whitespace-only
// ones); reading from a string keeps them.
//
// A document has no lock: use it from one thread at a time.

#include "msl/mutil/minidatasection.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Document flags (constructor argument).
// Inside a section, a line without '=' or without a name before the '=' is an entry too.
constexpr uint32_t MINIDATA_LENIENT_ENTRIES = 0x01;
// A header seen again replaces the earlier section; implies MINIDATA_LENIENT_ENTRIES.
constexpr uint32_t MINIDATA_REPLACE_SECTIONS = 0x02;
// Save flushes the file to disk before closing it.
constexpr uint32_t MINIDATA_FLUSH_ON_SAVE = 0x08;
// Save writes a temporary file beside the target and renames it over the target.
constexpr uint32_t MINIDATA_SAFE_SAVE = 0x10;
// An entry name repeated within a section replaces the earlier entry. The earlier line is
// found by its text, so a lenient line without '=' or without a name before it in the section
// stops the replacement, and with it the load.
constexpr uint32_t MINIDATA_REPLACE_ENTRIES = 0x20;

template <class Compare> class MIniDataT {
public:
    using Section = MIniDataSectionT<Compare>;

    // Empty document, not open, new-file set.
    explicit MIniDataT(uint32_t flags = 0);
    // Flags 0, then Open(fileName); a failure goes to the error log and leaves the document
    // usable (not open).
    explicit MIniDataT(const std::string& fileName);
    // Copies file name, flags, message, the content (through its text) and the state flags.
    MIniDataT(const MIniDataT& other);
    MIniDataT& operator=(const MIniDataT& other);
    ~MIniDataT();

    // --- Document ---
    // Reads the file; a missing file gives an empty, open, new document. UTF-16 and UTF-32
    // files are refused, a UTF-8 byte-order mark is skipped.
    bool Open(const std::string& fileName);
    // Open again with the stored name; false (no message) when not open.
    bool Reload();
    // Empties the document and forgets the file name; always true.
    bool Close();
    // Writes GetContentString() to the stored file name with CR LF line ends; does not need
    // the document to be open.
    bool Save();
    std::string GetContentString() const;
    // Replaces the content by the parsed text (CR, LF and CR LF end lines; the text ends at
    // its first zero byte). Stops at the first line that does not parse, keeping what came
    // before it. Open, new-file and the file name stay as they are.
    bool SetContentString(std::string_view text);
    // Deletes all lines and sections.
    void Clear();

    bool IsOpen() const { return open; }
    bool IsNewFile() const { return new_file; }
    bool IsInSync() const { return in_sync; }
    // Text of the last parse or set failure.
    const std::string& GetMessage() const { return message; }
    const std::string& GetFileName() const { return file_name; }
    uint32_t GetFlags() const { return flags; }

    // --- Sections and entries ---
    // Entry names given to the getters and setters may carry trailing blanks and tabs, which
    // are ignored; HasEntry and DeleteEntry want the exact stored name.
    bool HasSection(std::string_view section) const;
    // All section names in name order.
    void GetSectionNames(std::vector<std::string>& names) const;
    // The section's entry names in name order (not file order); false and empty when the
    // section does not exist.
    bool GetEntryNames(std::string_view section, std::vector<std::string>& names) const;
    size_t GetEntryCount(std::string_view section) const;
    bool HasEntry(std::string_view section, std::string_view entry) const;

    // Getters: false when section or entry is absent (output untouched). Otherwise the value
    // is converted like strtod/strtol (leading white space skipped, trailing text ignored),
    // the result (0 when nothing converts) is stored, and true means at least one character
    // converted. 32-bit values saturate at their limits.
    bool GetDoubleEntry(std::string_view section, std::string_view entry, double& value) const;
    bool GetLongEntry(std::string_view section, std::string_view entry, int32_t& value) const;
    bool GetLongLongEntry(std::string_view section, std::string_view entry, long long& value) const;
    // The value exactly as written (everything after the '=').
    bool GetStringEntry(std::string_view section, std::string_view entry, std::string& value) const;

    // Creates the section "[" section "]" unless it exists. Names holding ']', CR, LF or a
    // zero byte are refused, since they would not read back.
    bool AddSection(std::string_view section);
    // Setters: create the section if needed; replace the existing value (a trailing comment
    // on that line goes with it) or append "entry=value" at the end of the section. Numbers
    // are written "%.17g", "%ld" and "%lld". A name starting with a comment character is
    // refused; so is a new name that would not read back as itself (empty, leading blank,
    // '[' first, or holding '=', CR, LF or a zero byte). Values are written as given:
    // callers must not pass CR or LF in them.
    bool SetDoubleEntry(std::string_view section, std::string_view entry, double value);
    bool SetLongEntry(std::string_view section, std::string_view entry, int32_t value);
    bool SetLongLongEntry(std::string_view section, std::string_view entry, long long value);
    bool SetStringEntry(std::string_view section, std::string_view entry, std::string_view value);
    bool DeleteSection(std::string_view section);
    bool DeleteEntry(std::string_view section, std::string_view entry);
    // Moves all lines of `from` into a new section `to` with the header "[" to "]" (a comment
    // after the old header is lost). Refused when `to` exists or `from` does not.
    bool RenameSection(std::string_view from, std::string_view to);

private:
    using SectionMap = std::map<std::string, std::unique_ptr<Section>, Compare>;

    void copy_from(const MIniDataT& other);
    bool parse_line(std::string_view line);
    bool parse_header(std::string_view line);
    bool parse_entry(std::string_view line, size_t firstNonBlank);
    void append_plain_line(std::string_view line);
    bool read_file();
    Section* find_section(std::string_view section) const;
    const MIniDataEntry* find_entry(std::string_view section, std::string_view entry) const;
    Section* add_new_section(std::string_view section);
    // Section for a setter: found or created. `operation` names the caller in failure lines.
    Section* section_for_setter(std::string_view section, const char* operation);
    bool check_entry_name(std::string_view section, std::string_view entry, const char* operation,
                          const std::string& shownValue);
    void erase_section(typename SectionMap::iterator it);
    void changed() { in_sync = false; }

    bool open = false;
    bool new_file = true;
    bool in_sync = false;
    std::string file_name;
    uint32_t flags;
    std::vector<std::unique_ptr<MIniDataLine>> leading_lines;
    SectionMap sections;
    Section* current_section = nullptr; // where the parser appends
    std::string message;
};

extern template class MIniDataT<MIniDataCaseSensitiveCompare>;
using MIniData = MIniDataT<MIniDataCaseSensitiveCompare>;
