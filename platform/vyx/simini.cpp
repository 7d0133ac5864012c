#include "platform/vyx/simini.h"

namespace Vyx::sim {

namespace {

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

} // namespace

bool SimIni::Parse(const std::string& text, std::string& error) {
    m_entries.clear();
    m_sections.clear();
    std::string section;
    size_t pos = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    int lineNo = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        // CR, LF and CR LF each end a line.
        pos = end + 1;
        if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n')
            ++pos;
        ++lineNo;

        if (!line.empty() && line[0] == '[') {
            size_t close = line.find(']');
            if (close == std::string::npos) {
                error = "line " + std::to_string(lineNo) + ": section header without ']'";
                return false;
            }
            section = line.substr(1, close - 1);
            m_sections.push_back(section);
            continue;
        }
        std::string trimmed = Trim(line);
        if (trimmed.empty())
            continue;
        char first = trimmed[0];
        if (first == ';' || first == '#' || first == '/' || first == '*')
            continue;
        size_t equals = trimmed.find('=');
        if (equals == std::string::npos || equals == 0) {
            error = "line " + std::to_string(lineNo) + ": not an entry: " + trimmed;
            return false;
        }
        m_entries.push_back(
            {section, Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1))});
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> SimIni::Section(const std::string& name) const {
    std::vector<std::pair<std::string, std::string>> result;
    for (const Entry& entry : m_entries)
        if (entry.section == name)
            result.emplace_back(entry.key, entry.value);
    return result;
}

bool SimIni::HasSection(const std::string& name) const {
    for (const std::string& section : m_sections)
        if (section == name)
            return true;
    return false;
}

} // namespace Vyx::sim
