#include "host/lintelhost/requestarguments.h"

#include <charconv>
#include <cmath>

namespace {

template <class T> bool ParseInteger(std::string_view word, T& value) {
    if (word.empty() || word[0] < '0' || word[0] > '9')
        return false;
    T parsed{};
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
    if (error != std::errc() || end != word.data() + word.size())
        return false;
    value = parsed;
    return true;
}

} // namespace

bool ParseUnsigned32(std::string_view word, uint32_t& value) {
    return ParseInteger(word, value);
}

bool ParseUnsigned64(std::string_view word, uint64_t& value) {
    return ParseInteger(word, value);
}

bool ParseSigned32(std::string_view word, int32_t& value) {
    if (!word.empty() && word[0] == '-') {
        uint32_t magnitude = 0;
        if (!ParseInteger(word.substr(1), magnitude) || magnitude > 2147483648u)
            return false;
        value = static_cast<int32_t>(-static_cast<int64_t>(magnitude));
        return true;
    }
    uint32_t magnitude = 0;
    if (!ParseInteger(word, magnitude) || magnitude > 2147483647u)
        return false;
    value = static_cast<int32_t>(magnitude);
    return true;
}

bool ParseNumber(std::string_view word, double& value) {
    if (word.empty() || word[0] == '+')
        return false;
    double parsed = 0.0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
    if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

int ParseAxisPair(std::string_view word, bool allowRelative, AxisPair& pair) {
    size_t eq = word.find('=');
    if (eq == std::string_view::npos)
        return 1;
    size_t nameEnd = eq;
    pair.relative = false;
    if (allowRelative && nameEnd > 0 && word[nameEnd - 1] == '+') {
        pair.relative = true;
        --nameEnd;
    }
    if (nameEnd == 0)
        return 1;
    pair.axis.assign(word.substr(0, nameEnd));
    return ParseNumber(word.substr(eq + 1), pair.value) ? 0 : 3;
}
