#pragma once
// The lines an INI document is made of. A document keeps every line of its file as one of
// these objects, so that comments, white space and the exact text of untouched entries
// survive a load-and-save cycle.

#include <cstddef>
#include <string>
#include <string_view>

// A line that carries no data: blank, comment, or (as base of a section) a header.
class MIniDataLine {
public:
    explicit MIniDataLine(std::string_view text) : text(text) {}
    virtual ~MIniDataLine() = default;
    MIniDataLine(const MIniDataLine&) = delete;
    MIniDataLine& operator=(const MIniDataLine&) = delete;

    // The whole line without its line end.
    const std::string& GetText() const { return text; }

protected:
    std::string text;
};

// A "name=value" line. The value is the rest of the line after the '=', exactly as written
// (leading blanks, trailing blanks and trailing comments included).
class MIniDataEntry : public MIniDataLine {
public:
    // `valueOffset` is the index in `text` of the first character after the '=' (0 for a
    // lenient entry without '=', whose value is the whole line).
    MIniDataEntry(std::string_view text, size_t valueOffset)
        : MIniDataLine(text), valueOffset(valueOffset) {}

    size_t GetValueOffset() const { return valueOffset; }
    std::string_view GetValue() const { return std::string_view(text).substr(valueOffset); }
    // Replaces everything after the '=' (a trailing comment goes with it).
    void SetValue(std::string_view value);

private:
    size_t valueOffset;
};

// Character rules shared by the parser, the sections and the document.

inline bool MIniData_IsBlankChar(char c) {
    return c == ' ' || c == '\t';
}

// ';', '#', '/' and '*' open a comment line.
inline bool MIniData_IsCommentChar(char c) {
    return c == ';' || c == '#' || c == '/' || c == '*';
}

// Index of the first character that is neither blank nor tab; npos when there is none.
size_t MIniData_FirstNonBlank(std::string_view text);

// The text without its trailing blanks and tabs.
std::string_view MIniData_TrimTrailingBlanks(std::string_view text);

// True for a line the parser keeps as a plain line: blank, or a comment.
bool MIniData_IsPlainLine(std::string_view text);
