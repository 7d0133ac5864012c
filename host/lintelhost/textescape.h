#pragma once
// Text arguments and text results of the line protocol: a double-quoted string with the
// escapes \\ \" \n \r \t, so that any text (an INI document, a name with blanks) fits on one
// line.

#include <string>
#include <string_view>

// `text` in double quotes, with backslash, quote, LF, CR and tab escaped.
std::string QuoteText(std::string_view text);

// Reads a quoted string that starts at `line[pos]` (the opening quote). On success stores the
// unescaped text, moves `pos` past the closing quote and answers true; an unknown escape or a
// missing closing quote answers false.
bool UnquoteText(std::string_view line, size_t& pos, std::string& text);
