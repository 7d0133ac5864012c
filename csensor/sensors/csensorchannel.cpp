#include "csensor/sensors/csensorchannel.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

void copy_cut(char (&target)[CSENSOR_NAME_MAX + 1], std::string_view text) {
    size_t n = text.size() < CSENSOR_NAME_MAX ? text.size() : CSENSOR_NAME_MAX;
    std::memset(target, 0, sizeof(target));
    std::memcpy(target, text.data(), n);
}

} // namespace

void CSensorChannelDesc::SetName(std::string_view text) {
    copy_cut(name, text);
}

void CSensorChannelDesc::SetLink(std::string_view text) {
    copy_cut(link, text);
}

bool CSensorChannelDesc::IsLinkedToItself() const {
    return link[0] != '\0' && std::strcmp(link, name) == 0;
}

uint32_t CSensor_AccessCodeFromLetters(std::string_view letters) {
    if (letters == "R")
        return CSENSOR_ACCESS_R;
    if (letters == "W")
        return CSENSOR_ACCESS_W;
    if (letters == "RW")
        return CSENSOR_ACCESS_RW;
    if (letters == "B")
        return CSENSOR_ACCESS_B;
    if (letters == "I")
        return CSENSOR_ACCESS_I;
    return CSENSOR_ACCESS_D;
}

std::vector<std::string> CSensor_SplitChannelList(std::string_view value) {
    std::vector<std::string> names;
    size_t begin = 0;
    while (begin <= value.size()) {
        size_t comma = value.find(',', begin);
        if (comma == std::string_view::npos)
            comma = value.size();
        // Each item on its own: without white space, up to its ';', "//" or "/*".
        std::string item;
        for (char c : value.substr(begin, comma - begin))
            if (!std::isspace(static_cast<unsigned char>(c)))
                item.push_back(c);
        size_t cut = std::min({item.find(';'), item.find("//"), item.find("/*")});
        item.resize(std::min(cut, item.size()));
        if (!item.empty())
            names.push_back(item.substr(0, CSENSOR_NAME_MAX));
        begin = comma + 1;
    }
    return names;
}
