// Arbitrary bytes into the base64 decoder, in both length modes and through the in-place
// wrapper. Whatever decodes must encode to a text that decodes to the same bytes again.
#include "msl/mstreams/mbase64.h"
#include "msl/mstreams/stlbase64.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Exactly the promised size, so that AddressSanitizer sees a write past it.
bool Decode(const char* text, std::size_t n, std::string* out) {
    const std::size_t length = MBase64_Binary(n);
    std::vector<char> buffer(MBase64_DecodedLength(text, length));
    std::int64_t written = MBase64_Decode(buffer.data(), text, length);
    if (written < 0)
        return false;
    if (static_cast<std::size_t>(written) != buffer.size())
        std::abort();
    out->assign(buffer.data(), buffer.size());
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::string decoded;
    const bool ok = Decode(input.data(), input.size(), &decoded);

    // Text mode must agree and add exactly one terminating zero.
    std::vector<char> text(MBase64_DecodedLength(input.data(), input.size()));
    std::int64_t written = MBase64_Decode(text.data(), input.data(), input.size());
    if ((written >= 0) != ok)
        std::abort();
    if (ok && (text.size() != decoded.size() + 1 || text.back() != '\0' ||
               std::memcmp(text.data(), decoded.data(), decoded.size()) != 0))
        std::abort();

    // The wrapper decodes in place; it differs only in ignoring trailing zero bytes.
    std::string inPlace = input;
    const bool wrapperOk = stl_decode_base64(inPlace);
    if (input.find('\0') == std::string::npos && (wrapperOk != ok || inPlace != decoded))
        std::abort();
    if (!wrapperOk && !inPlace.empty())
        std::abort();
    if (!ok)
        return 0;

    std::string again = decoded;
    if (!stl_encode_base64(again))
        std::abort();
    std::string roundTrip;
    if (!Decode(again.data(), again.size(), &roundTrip) || roundTrip != decoded)
        std::abort();
    return 0;
}
