#include "msl/mutil/bom.h"

#include <cstring>

namespace {

constexpr std::string_view kMarks[] = {
    {},
    std::string_view("\xEF\xBB\xBF", 3),
    std::string_view("\xFE\xFF", 2),
    std::string_view("\xFF\xFE", 2),
    std::string_view("\x00\x00\xFE\xFF", 4),
    std::string_view("\xFF\xFE\x00\x00", 4),
};

bool StartsWith(const void* bytes, std::size_t length, int type) {
    const std::string_view mark = kMarks[type];
    return length >= mark.size() && std::memcmp(bytes, mark.data(), mark.size()) == 0;
}

} // namespace

int detect_bom(const void* bytes, std::size_t length) {
    for (int type : {BOM_UTF32_BE, BOM_UTF32_LE, BOM_UTF8, BOM_UTF16_BE, BOM_UTF16_LE})
        if (StartsWith(bytes, length, type))
            return type;
    return BOM_NONE;
}

std::string_view bom_bytes(int type) {
    if (type < BOM_UTF8 || type > BOM_UTF32_LE)
        return {};
    return kMarks[type];
}
