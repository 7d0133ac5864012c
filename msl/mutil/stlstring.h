#pragma once
// Helpers on byte strings (std::string holding 8-bit text, no character-set conversion):
// printf-style formatting, appending numbers, replacing, the space-quoting pair used for
// values that must stay one token, and the check of names that clients choose.
//
// The formatting helpers report failures to the error log, not the error trace, because they
// are used while trace messages are being built.

#include "platform/trace/printfformat.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The formatted text; the empty string (and an error-log line) when formatting fails.
std::string stl_string_format(const char* format, ...) VYX_PRINTF_FORMAT(1, 2);

// Assigns the formatted text to `target` and returns its length; -1 when formatting fails,
// with `target` unchanged.
int stl_string_format(std::string& target, const char* format, ...) VYX_PRINTF_FORMAT(2, 3);

// stl_string_format with an argument list; `args` is left unused for the caller to va_end.
std::string stl_string_format_va(const char* format, va_list args) VYX_PRINTF_FORMAT(1, 0);

// Appends the decimal text of `value`.
void stl_string_append_int(std::string& s, std::int32_t value);

// Appends `value` formatted with "%.*lf" and `digits` decimals, then drops trailing zeros after
// the decimal point and the point itself when nothing follows it (1.5 with 6 digits gives
// "1.5", 2 with 3 digits gives "2", 100 gives "100").
void stl_string_append_double(std::string& s, double value, int digits);

// Replaces every occurrence of `search`, left to right; the search goes on after each inserted
// replacement, so a replacement that contains `search` is not replaced again. Returns the
// number of replacements; an empty `search` replaces nothing.
std::size_t stl_string_replace_all(std::string& s, std::string_view search,
                                   std::string_view replacement);

// `text` without the blanks and tabs at its start and end (a view into `text`).
std::string_view stl_string_trim_blanks(std::string_view text);

// Makes a string with spaces one token: a backslash goes before every quotation mark and
// backslash, and a string that contains a space is put in quotation marks. A string without
// any of the three characters stays as it is.
void stl_string_quote_space(std::string& s);

// Undoes stl_string_quote_space: quotation marks are dropped (they toggle the quoted state),
// a backslash keeps the quotation mark or backslash after it. Fails, tracing the reason and
// leaving `s` unchanged, on a space before any quotation mark or backslash, on a backslash
// followed by anything else or by nothing, and on a missing closing quotation mark.
bool stl_string_unquote_space(std::string& s);

// Why `name` cannot name a shared-memory segment, a probesystem or a file of one: it holds a
// control character (below 0x20, 0x7f, or U+0080 to U+009F) or bytes that are not UTF-8.
// Null when it can. Such names would break the lines of replies, INI files and listings.
const char* stl_name_problem(std::string_view name);

// `name` for one line of a message: the bytes of control characters, bytes that are not
// UTF-8, and the backslash written as \xHH.
std::string stl_escape_name(std::string_view name);
