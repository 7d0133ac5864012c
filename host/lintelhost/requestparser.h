#pragma once
// One request line of the protocol: "TID KEYWORD [ARGUMENTS]".
//
// TID is a transaction number from 1 to 9999 in decimal digits. The words after it are
// separated by blanks (spaces or tabs); a word is a bare run of characters without a quote,
// or a double-quoted string with the escapes of textescape.h. Control characters other than
// tab are refused wherever they stand. The line comes without its LF; a trailing CR is
// dropped here.

#include <string>
#include <string_view>
#include <vector>

struct ParsedRequest {
    enum class Status {
        Ok,
        TidMissing,     // the line does not start with a number
        TidInvalid,     // out of range, or a number with trailing characters
        KeywordMissing, // a valid TID and nothing after it
        SyntaxInvalid,  // a valid TID, but the words do not split
    };
    Status status = Status::Ok;
    int tid = 0;                    // valid unless TidMissing or TidInvalid
    std::vector<std::string> words; // the keyword's words and the arguments, unquoted
};

inline constexpr int kMaxTransactionNumber = 9999;

ParsedRequest ParseRequestLine(std::string_view line);
