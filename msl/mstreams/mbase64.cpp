#include "msl/mstreams/mbase64.h"

#include "platform/trace/merrtrace.h"

#include <array>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kPad = 64; // decoding-table value of '='

// 6-bit value of every alphabet character, 64 for '=', -1 for anything else. Bytes 128 to 255
// are illegal; the table covers them too so that a look-up needs no range check.
constexpr std::array<std::int8_t, 256> MakeDecodingTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    table['='] = kPad;
    return table;
}

// Entry v holds the characters of the upper and the lower 6 bits of the 12-bit value v, so three
// input bytes become two look-ups.
constexpr std::array<std::array<char, 2>, 4096> MakePairTable() {
    std::array<std::array<char, 2>, 4096> table{};
    for (int v = 0; v < 4096; ++v)
        table[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
    return table;
}

constexpr auto kDecode = MakeDecodingTable();
constexpr auto kPairs = MakePairTable();

// Below 2^63 - 1 a length is in text mode; its complement is in binary mode.
constexpr std::size_t kBinaryModeLimit = (std::size_t{1} << 63) - 1;

struct Length {
    std::size_t n;
    bool text;
};

Length SplitMode(std::size_t length) {
    if (length < kBinaryModeLimit)
        return {length, true};
    return {~length, false};
}

std::int64_t IllegalCharacter(unsigned char c) {
    MERRTRACE("MBase64_Decode(): illegal character 0x%02x read, terminating", c);
    return -1;
}

// The first byte of the group whose value is not a plain 6-bit one.
unsigned char FirstOffender(const unsigned char* group, int count) {
    for (int i = 0; i < count; ++i)
        if (kDecode[group[i]] < 0 || kDecode[group[i]] == kPad)
            return group[i];
    return group[count - 1];
}

} // namespace

std::size_t MBase64_EncodedLength(std::size_t length) {
    Length l = SplitMode(length);
    return 4 * (l.n / 3 + (l.n % 3 != 0)) + (l.text ? 1 : 0);
}

std::size_t MBase64_DecodedLength(const char* src, std::size_t length) {
    Length l = SplitMode(length);
    // 3 * n / 4, without overflowing for huge n.
    std::size_t needed = l.n / 4 * 3 + l.n % 4 * 3 / 4 + (l.text ? 1 : 0);
    std::size_t padding = 0;
    if (l.n >= 2) {
        if (src[l.n - 2] == '=')
            padding = 2;
        else if (src[l.n - 1] == '=')
            padding = 1;
    }
    return needed > padding ? needed - padding : 0;
}

std::int64_t MBase64_Encode(char* dst, const void* src, std::size_t length) {
    Length l = SplitMode(length);
    const auto* in = static_cast<const unsigned char*>(src);
    const std::size_t groups = l.n / 3;
    const std::size_t out = 4 * (groups + (l.n % 3 != 0));
    if (l.text)
        dst[out] = '\0';

    // From the end towards the start: group i reads bytes 3i..3i+2 before it writes characters
    // 4i..4i+3, and no later step reads below 3i, so dst may be src.
    char* tail = dst + 4 * groups;
    if (l.n % 3 == 1) {
        unsigned b0 = in[3 * groups];
        std::memcpy(tail, kPairs[b0 << 4].data(), 2);
        tail[2] = '=';
        tail[3] = '=';
    } else if (l.n % 3 == 2) {
        unsigned b0 = in[3 * groups];
        unsigned b1 = in[3 * groups + 1];
        std::memcpy(tail, kPairs[(b0 << 4) | (b1 >> 4)].data(), 2);
        tail[2] = kAlphabet[(b1 & 15) << 2];
        tail[3] = '=';
    }
    for (std::size_t i = groups; i-- > 0;) {
        const unsigned char* g = in + 3 * i;
        unsigned v = (unsigned{g[0]} << 16) | (unsigned{g[1]} << 8) | g[2];
        char* d = dst + 4 * i;
        std::memcpy(d, kPairs[v >> 12].data(), 2);
        std::memcpy(d + 2, kPairs[v & 4095].data(), 2);
    }
    return static_cast<std::int64_t>(out);
}

std::int64_t MBase64_Decode(void* dst, const char* src, std::size_t length) {
    Length l = SplitMode(length);
    if (l.n % 4 != 0) {
        MERRTRACE("MBase64_Decode(): source_len has to be multiple of 4, not %zu", l.n);
        return -1;
    }
    auto* out = static_cast<unsigned char*>(dst);
    if (l.n == 0) {
        if (l.text)
            out[0] = 0;
        return 0;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(src);
    const std::size_t groups = l.n / 4;

    // Group i reads characters 4i..4i+3 before it writes bytes 3i..3i+2, so dst may be src.
    for (std::size_t i = 0; i + 1 < groups; ++i) {
        const unsigned char* g = in + 4 * i;
        int d0 = kDecode[g[0]], d1 = kDecode[g[1]], d2 = kDecode[g[2]], d3 = kDecode[g[3]];
        // -1 sets every bit and '=' (64) sets bit 6: either marks the group as bad.
        if ((d0 | d1 | d2 | d3) & ~63)
            return IllegalCharacter(FirstOffender(g, 4));
        unsigned v = (unsigned(d0) << 18) | (unsigned(d1) << 12) | (unsigned(d2) << 6) | d3;
        unsigned char* o = out + 3 * i;
        o[0] = static_cast<unsigned char>(v >> 16);
        o[1] = static_cast<unsigned char>(v >> 8);
        o[2] = static_cast<unsigned char>(v);
    }

    // The last group: two alphabet characters, then 'zw', 'z=', '==' or '=w'. Padding in the
    // third place makes it one byte whatever follows, as MBase64_DecodedLength counts it. It is
    // checked completely before anything is written, so a bad one never writes past what
    // MBase64_DecodedLength promised.
    const unsigned char* g = in + 4 * (groups - 1);
    int d0 = kDecode[g[0]], d1 = kDecode[g[1]], d2 = kDecode[g[2]], d3 = kDecode[g[3]];
    if ((d0 | d1) & ~63)
        return IllegalCharacter(FirstOffender(g, 2));
    if (d2 < 0)
        return IllegalCharacter(g[2]);
    if (d3 < 0)
        return IllegalCharacter(g[3]);
    int bytes = d2 == kPad ? 1 : d3 == kPad ? 2 : 3;
    unsigned v =
        (unsigned(d0) << 18) | (unsigned(d1) << 12) | (unsigned(d2 & 63) << 6) | unsigned(d3 & 63);
    unsigned char* o = out + 3 * (groups - 1);
    o[0] = static_cast<unsigned char>(v >> 16);
    if (bytes > 1)
        o[1] = static_cast<unsigned char>(v >> 8);
    if (bytes > 2)
        o[2] = static_cast<unsigned char>(v);

    std::size_t written = 3 * (groups - 1) + bytes;
    if (l.text)
        out[written] = 0;
    return static_cast<std::int64_t>(written);
}
