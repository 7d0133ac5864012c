#include "msl/mutil/stlstring.h"

#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Formats into a stack buffer first; a text of 1024 characters or more is measured and
// formatted again into a buffer of exactly its size. -1 on a formatting error.
int FormatInto(std::string& target, const char* format, va_list args) {
    char buffer[1024];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) {
        va_end(again);
        return -1;
    }
    if (static_cast<std::size_t>(n) < sizeof buffer) {
        va_end(again);
        target.assign(buffer, static_cast<std::size_t>(n));
        return n;
    }
    auto big = std::make_unique<char[]>(static_cast<std::size_t>(n) + 1);
    int m = std::vsnprintf(big.get(), static_cast<std::size_t>(n) + 1, format, again);
    va_end(again);
    if (m != n)
        return -1;
    target.assign(big.get(), static_cast<std::size_t>(n));
    return n;
}

bool IsQuoteSpecial(char c) {
    return c == '"' || c == '\\' || c == ' ';
}

} // namespace

std::string stl_string_format(const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    int n = FormatInto(text, format, args);
    int error = errno;
    va_end(args);
    if (n < 0) {
        MERRLOG("%s(): stl_string_format() failed: %s", "stl_string_format", std::strerror(error));
        return std::string();
    }
    return text;
}

int stl_string_format(std::string& target, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatInto(target, format, args);
    va_end(args);
    return n;
}

std::string stl_string_format_va(const char* format, va_list args) {
    std::string text;
    va_list copy;
    va_copy(copy, args);
    int n = FormatInto(text, format, copy);
    int error = errno;
    va_end(copy);
    if (n < 0) {
        MERRLOG("%s(): stl_string_format_va() failed: %s", "stl_string_format_va",
                std::strerror(error));
        return std::string();
    }
    return text;
}

void stl_string_append_int(std::string& s, std::int32_t value) {
    char text[16];
    auto result = std::to_chars(text, text + sizeof text, value);
    s.append(text, result.ptr);
}

void stl_string_append_double(std::string& s, double value, int digits) {
    std::string text;
    if (stl_string_format(text, "%.*lf", digits, value) < 0)
        return;
    std::size_t point = text.find('.');
    if (point != std::string::npos) {
        std::size_t end = text.find_last_not_of('0');
        if (end == point)
            --end;
        text.resize(end + 1);
    }
    s += text;
}

std::size_t stl_string_replace_all(std::string& s, std::string_view search,
                                   std::string_view replacement) {
    if (search.empty())
        return 0;
    // Built aside, so that `search` or `replacement` may point into `s`.
    std::string result;
    std::size_t count = 0;
    std::size_t from = 0;
    for (std::size_t at = s.find(search); at != std::string::npos; at = s.find(search, from)) {
        result.append(s, from, at - from);
        result.append(replacement);
        from = at + search.size();
        ++count;
    }
    if (count == 0)
        return 0;
    result.append(s, from, std::string::npos);
    s.swap(result);
    return count;
}

std::string_view stl_string_trim_blanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::string_view();
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

void stl_string_quote_space(std::string& s) {
    bool special = false, space = false;
    for (char c : s) {
        special = special || IsQuoteSpecial(c);
        space = space || c == ' ';
    }
    if (!special)
        return;
    std::string result;
    result.reserve(s.size() + 8);
    if (space)
        result += '"';
    for (char c : s) {
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    if (space)
        result += '"';
    s.swap(result);
}

bool stl_string_unquote_space(std::string& s) {
    std::size_t first = 0;
    while (first < s.size() && !IsQuoteSpecial(s[first]))
        ++first;
    if (first == s.size())
        return true;
    if (s[first] == ' ') {
        MERRTRACE("stl_string_unquote_space(): found unquoted space");
        return false;
    }
    std::string result(s, 0, first);
    bool quoted = false;
    for (std::size_t i = first; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\') {
            if (i + 1 == s.size() || (s[i + 1] != '"' && s[i + 1] != '\\')) {
                MERRTRACE("stl_string_unquote_space(): can't unquote a lonely backslash");
                return false;
            }
            result += s[++i];
        } else {
            result += c;
        }
    }
    if (quoted) {
        MERRTRACE("stl_string_unquote_space(): no closing quote found");
        return false;
    }
    s.swap(result);
    return true;
}

namespace {

// The length of the UTF-8 sequence at `text[at]` that encodes one code point, stored in
// `*code`; 0 for bytes that are not UTF-8 (overlong forms, surrogates, beyond U+10FFFF).
std::size_t DecodeUtf8(std::string_view text, std::size_t at, std::uint32_t* code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    if (length == 0 || at + length > text.size() || lead > 0xF4)
        return 0;
    std::uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (next & 0x3F);
    }
    static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *code = value;
    return length;
}

bool IsControl(std::uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

} // namespace

const char* stl_name_problem(std::string_view name) {
    for (std::size_t at = 0; at < name.size();) {
        std::uint32_t code = 0;
        const std::size_t length = DecodeUtf8(name, at, &code);
        if (length == 0)
            return "not UTF-8";
        if (IsControl(code))
            return "contains a control character";
        at += length;
    }
    return nullptr;
}

std::string stl_escape_name(std::string_view name) {
    static const char kHex[] = "0123456789abcdef";
    std::string escaped;
    for (std::size_t at = 0; at < name.size();) {
        std::uint32_t code = 0;
        std::size_t length = DecodeUtf8(name, at, &code);
        if (length != 0 && code != '\\' && !IsControl(code)) {
            escaped.append(name.substr(at, length));
            at += length;
            continue;
        }
        // The bytes of a control character, or one byte that starts no character.
        for (length = length != 0 ? length : 1; length > 0; --length, ++at) {
            const auto byte = static_cast<unsigned char>(name[at]);
            const char hex[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
            escaped.append(hex, sizeof hex);
        }
    }
    return escaped;
}
