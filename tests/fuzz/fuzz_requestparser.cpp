// Arbitrary bytes as request lines of lintelhost: cut into lines (with a small line limit, so
// that overlong lines happen), parsed, and every word read as each argument form. A parsed
// line's words, quoted again and parsed, must give the same words.
#include "host/lintelhost/lineassembler.h"
#include "host/lintelhost/requestarguments.h"
#include "host/lintelhost/requestparser.h"
#include "host/lintelhost/textescape.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void CheckLine(std::string_view line) {
    ParsedRequest request = ParseRequestLine(line);
    if (request.status != ParsedRequest::Status::Ok)
        return;
    if (request.tid < 1 || request.tid > kMaxTransactionNumber || request.words.empty())
        std::abort();
    std::string again = std::to_string(request.tid);
    for (const std::string& word : request.words) {
        double number = 0;
        uint32_t u32 = 0;
        uint64_t u64 = 0;
        int32_t s32 = 0;
        AxisPair pair;
        ParseNumber(word, number);
        ParseUnsigned32(word, u32);
        ParseUnsigned64(word, u64);
        ParseSigned32(word, s32);
        if (ParseAxisPair(word, true, pair) == 0 && pair.axis.empty())
            std::abort();
        again += ' ';
        again += QuoteText(word);
    }
    ParsedRequest reparsed = ParseRequestLine(again);
    if (reparsed.status != ParsedRequest::Status::Ok || reparsed.words != request.words)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    CheckLine(std::string_view(text, size));
    LineAssembler lines(
        256, [](std::string_view line) { CheckLine(line); }, [] {});
    lines.Feed(text, size);
    return 0;
}
