#include "msl/mutil/minidatasection.h"

#include "msl/mutil/minidata_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

bool MIniDataCaseSensitiveCompare::operator()(std::string_view a,
                                              std::string_view b) const noexcept {
    size_t common = std::min(a.size(), b.size());
    int order = common ? std::memcmp(a.data(), b.data(), common) : 0; // memcmp is unsigned
    return order < 0 || (order == 0 && a.size() < b.size());
}

bool MIniData_IsWritableEntryName(std::string_view name) {
    name = MIniData_TrimTrailingBlanks(name);
    if (name.empty() || MIniData_IsBlankChar(name[0]) || name[0] == '[' ||
        MIniData_IsCommentChar(name[0]))
        return false;
    return name.find_first_of(std::string_view("=\r\n\0", 4)) == std::string_view::npos;
}

bool MIniData_IsWritableSectionName(std::string_view name) {
    return name.find_first_of(std::string_view("]\r\n\0", 4)) == std::string_view::npos;
}

template <class Compare>
MIniDataSectionT<Compare>::MIniDataSectionT(std::string_view headerText)
    : MIniDataLine(headerText) {
    line_vec.reserve(10);
}

template <class Compare> MIniDataSectionT<Compare>::~MIniDataSectionT() = default;

template <class Compare>
MIniDataEntry* MIniDataSectionT<Compare>::FindEntry(std::string_view name) const {
    auto it = entry_map.find(name);
    return it == entry_map.end() ? nullptr : it->second;
}

template <class Compare>
bool MIniDataSectionT<Compare>::set_value_text(std::string_view name, std::string_view value) {
    if (MIniDataEntry* entry = FindEntry(MIniData_TrimTrailingBlanks(name))) {
        entry->SetValue(value);
        return true;
    }
    return add_new_entry(name, value);
}

template <class Compare>
bool MIniDataSectionT<Compare>::SetDoubleEntry(std::string_view name, double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    if (!set_value_text(name, buffer)) {
        MINIDATA_ERRTRACE("MIniDataSectionT::SetDoubleEntry(): add_new_entry() failed");
        return false;
    }
    return true;
}

template <class Compare>
bool MIniDataSectionT<Compare>::SetLongEntry(std::string_view name, int32_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%ld", static_cast<long>(value));
    if (!set_value_text(name, buffer)) {
        MINIDATA_ERRTRACE("MIniDataSectionT::SetLongEntry(): add_new_entry() failed");
        return false;
    }
    return true;
}

template <class Compare>
bool MIniDataSectionT<Compare>::SetLongLongEntry(std::string_view name, long long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%lld", value);
    if (!set_value_text(name, buffer)) {
        MINIDATA_ERRTRACE("MIniDataSectionT::SetLongLongEntry(): add_new_entry() failed");
        return false;
    }
    return true;
}

template <class Compare>
bool MIniDataSectionT<Compare>::SetStringEntry(std::string_view name, std::string_view value) {
    if (!set_value_text(name, value)) {
        MINIDATA_ERRTRACE("MIniDataSectionT::SetStringEntry(): add_new_entry() failed");
        return false;
    }
    return true;
}

template <class Compare> bool MIniDataSectionT<Compare>::DeleteEntry(std::string_view name) {
    const std::string wanted(name);
    auto mapped = entry_map.find(name);
    if (mapped == entry_map.end()) {
        MINIDATA_ERRTRACE("MIniDataSectionT::DeleteEntry(): entry \"%.40s\" not found in entry_map",
                          wanted.c_str());
        return false;
    }
    // The line is found again by its text, the way the parser named it; a lenient line
    // without '=' (or without a name) before the wanted one stops the search.
    for (auto line = line_vec.begin(); line != line_vec.end(); ++line) {
        const std::string& lineText = (*line)->GetText();
        if (MIniData_IsPlainLine(lineText))
            continue;
        size_t equals = lineText.find('=');
        if (equals == std::string::npos) {
            MINIDATA_ERRTRACE("MIniDataSectionT::DeleteEntry(): no '=' found in \"%.50s\"",
                              lineText.c_str());
            return false;
        }
        size_t first = MIniData_FirstNonBlank(lineText);
        if (equals <= first) {
            MINIDATA_ERRTRACE("MIniDataSectionT::DeleteEntry(): no entry name in \"%.50s\"",
                              lineText.c_str());
            return false;
        }
        std::string_view lineName =
            MIniData_TrimTrailingBlanks(std::string_view(lineText).substr(first, equals - first));
        if (lineName == name && line->get() == mapped->second) {
            entry_map.erase(mapped);
            line_vec.erase(line);
            return true;
        }
    }
    MINIDATA_ERRTRACE("MIniDataSectionT::DeleteEntry(): entry \"%.40s\" not found in line_vec",
                      wanted.c_str());
    return false;
}

template <class Compare>
bool MIniDataSectionT<Compare>::add_new_entry(std::string_view name, std::string_view value) {
    name = MIniData_TrimTrailingBlanks(name);
    if (!MIniData_IsWritableEntryName(name)) {
        MINIDATA_ERRTRACE("MIniDataSectionT::add_new_entry(): invalid entry name \"%.40s\"",
                          std::string(name).c_str());
        return false;
    }
    if (FindEntry(name)) {
        MINIDATA_ERRTRACE("MIniDataSectionT::add_new_entry(): entry \"%.40s\" already exists",
                          std::string(name).c_str());
        return false;
    }
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append(1, '=').append(value);
    AppendEntry(name, line, name.size() + 1);
    return true;
}

template <class Compare> void MIniDataSectionT<Compare>::AppendPlainLine(std::string_view text) {
    line_vec.push_back(std::make_unique<MIniDataLine>(text));
}

template <class Compare>
void MIniDataSectionT<Compare>::AppendEntry(std::string_view name, std::string_view text,
                                            size_t valueOffset) {
    auto entry = std::make_unique<MIniDataEntry>(text, valueOffset);
    entry_map.emplace(std::string(name), entry.get());
    line_vec.push_back(std::move(entry));
}

template <class Compare> void MIniDataSectionT<Compare>::TakeLinesFrom(MIniDataSectionT& source) {
    for (auto& line : source.line_vec)
        line_vec.push_back(std::move(line));
    source.line_vec.clear();
    entry_map.merge(source.entry_map);
    source.entry_map.clear();
}

template <class Compare> size_t MIniDataSectionT<Compare>::GetContentLength() const {
    size_t length = text.size() + 1;
    for (const auto& line : line_vec)
        length += line->GetText().size() + 1;
    return length;
}

template <class Compare> void MIniDataSectionT<Compare>::AppendContent(std::string& out) const {
    out.append(text).append(1, '\n');
    for (const auto& line : line_vec)
        out.append(line->GetText()).append(1, '\n');
}

template class MIniDataSectionT<MIniDataCaseSensitiveCompare>;
