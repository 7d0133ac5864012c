#include "msl/mstreams/stlbase64.h"

#include "msl/mstreams/mbase64.h"
#include "platform/trace/merrtrace.h"

bool stl_encode_base64(std::string& s) {
    const std::size_t n = s.size();
    const std::size_t expected = MBase64_EncodedLength(MBase64_Binary(n));
    s.resize(expected);
    std::int64_t written = MBase64_Encode(s.data(), s.data(), MBase64_Binary(n));
    if (written < 0 || static_cast<std::size_t>(written) != expected) {
        MERRTRACE("stl_encode_base64(): MBase64_Encode() returned %lld instead of %zu",
                  static_cast<long long>(written), expected);
        s.clear();
        return false;
    }
    return true;
}

bool stl_decode_base64(std::string& s) {
    std::size_t n = s.size();
    while (n > 0 && s[n - 1] == '\0')
        --n;
    const std::size_t length = MBase64_Binary(n);
    // Measured before decoding: decoding in place overwrites the padding it looks at.
    const std::size_t expected = MBase64_DecodedLength(s.data(), length);
    std::int64_t written = MBase64_Decode(s.data(), s.data(), length);
    if (written < 0 || static_cast<std::size_t>(written) != expected) {
        MERRTRACE("stl_decode_base64(): MBase64_Decode(%zu) failed (%zu)", length, expected);
        s.clear();
        return false;
    }
    s.resize(expected);
    return true;
}
