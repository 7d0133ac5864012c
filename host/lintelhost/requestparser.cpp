#include "host/lintelhost/requestparser.h"

#include "host/lintelhost/textescape.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsControl(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7f;
}

size_t SkipBlanks(std::string_view line, size_t pos) {
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    return pos;
}

// The transaction number at the start of the line; `pos` ends after it.
ParsedRequest::Status ReadTid(std::string_view line, size_t& pos, int& tid) {
    pos = SkipBlanks(line, 0);
    size_t end = pos;
    while (end < line.size() && !IsBlank(line[end]))
        ++end;
    std::string_view token = line.substr(pos, end - pos);
    pos = end;
    if (token.empty())
        return ParsedRequest::Status::TidMissing;
    const bool sign = (token[0] == '+' || token[0] == '-') && token.size() > 1 && IsDigit(token[1]);
    if (!IsDigit(token[0]))
        return sign ? ParsedRequest::Status::TidInvalid : ParsedRequest::Status::TidMissing;
    long value = 0;
    for (char c : token) {
        if (!IsDigit(c))
            return ParsedRequest::Status::TidInvalid;
        value = value * 10 + (c - '0');
        if (value > kMaxTransactionNumber)
            return ParsedRequest::Status::TidInvalid;
    }
    if (value < 1)
        return ParsedRequest::Status::TidInvalid;
    tid = static_cast<int>(value);
    return ParsedRequest::Status::Ok;
}

bool SplitWords(std::string_view line, size_t pos, std::vector<std::string>& words) {
    for (char c : line)
        if (IsControl(c))
            return false;
    std::string word;
    while ((pos = SkipBlanks(line, pos)) < line.size()) {
        if (line[pos] == '"') {
            if (!UnquoteText(line, pos, word))
                return false;
            if (pos < line.size() && !IsBlank(line[pos]))
                return false; // text glued to a closing quote
        } else {
            size_t end = pos;
            while (end < line.size() && !IsBlank(line[end])) {
                if (line[end] == '"')
                    return false; // a quote inside a bare word
                ++end;
            }
            word.assign(line.substr(pos, end - pos));
            pos = end;
        }
        words.push_back(std::move(word));
    }
    return true;
}

} // namespace

ParsedRequest ParseRequestLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    ParsedRequest request;
    size_t pos = 0;
    request.status = ReadTid(line, pos, request.tid);
    if (request.status != ParsedRequest::Status::Ok)
        return request;
    if (!SplitWords(line, pos, request.words)) {
        request.words.clear();
        request.status = ParsedRequest::Status::SyntaxInvalid;
    } else if (request.words.empty()) {
        request.status = ParsedRequest::Status::KeywordMissing;
    }
    return request;
}
