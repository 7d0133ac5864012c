#include "msl/mutil/minidataline.h"

void MIniDataEntry::SetValue(std::string_view value) {
    text.resize(valueOffset);
    text.append(value);
}

size_t MIniData_FirstNonBlank(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (!MIniData_IsBlankChar(text[i]))
            return i;
    }
    return std::string_view::npos;
}

std::string_view MIniData_TrimTrailingBlanks(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && MIniData_IsBlankChar(text[end - 1]))
        --end;
    return text.substr(0, end);
}

bool MIniData_IsPlainLine(std::string_view text) {
    size_t first = MIniData_FirstNonBlank(text);
    return first == std::string_view::npos || MIniData_IsCommentChar(text[first]);
}
