#include "host/lintelhost/textescape.h"

std::string QuoteText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    out += '"';
    return out;
}

bool UnquoteText(std::string_view line, size_t& pos, std::string& text) {
    text.clear();
    size_t i = pos + 1; // past the opening quote
    while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
            pos = i;
            return true;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (i >= line.size())
            return false;
        switch (line[i++]) {
        case '\\':
            text += '\\';
            break;
        case '"':
            text += '"';
            break;
        case 'n':
            text += '\n';
            break;
        case 'r':
            text += '\r';
            break;
        case 't':
            text += '\t';
            break;
        default:
            return false;
        }
    }
    return false;
}
