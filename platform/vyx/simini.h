#pragma once
// Minimal INI reader of the simulated camera: it only needs to find the keys of
// one section. Same rules as the module's INI files: a header starts in column
// 0 with '[', comment lines start with ';', '#', '/' or '*', a value is the
// trimmed text after the first '=', names are case-sensitive. A UTF-8
// byte-order mark is skipped.

#include <string>
#include <utility>
#include <vector>

namespace Vyx::sim {

class SimIni {
public:
    // Parses text; false (with a message naming the line) on a line that is
    // neither header, comment, blank nor entry.
    bool Parse(const std::string& text, std::string& error);

    // Entries of one section in file order; a name given twice appears twice.
    std::vector<std::pair<std::string, std::string>> Section(const std::string& name) const;
    // True when the text has a header of that section, entries or not.
    bool HasSection(const std::string& name) const;

private:
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };
    std::vector<Entry> m_entries;
    std::vector<std::string> m_sections;
};

} // namespace Vyx::sim
