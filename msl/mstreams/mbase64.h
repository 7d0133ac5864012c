#pragma once
// Base64 codec: RFC 4648 standard alphabet, '=' padding, no line breaks, no white space.
//
// Length arguments carry a mode. A plain length is text mode: the output gets a terminating
// zero byte, and the length helpers count it. The bitwise complement of the length (top bit
// set; write it as MBase64_Binary(n)) is binary mode: no terminator is written or counted.
//
// Both directions work in place: encoding runs from the end of the data towards its start,
// decoding from the start, so the output never overwrites input that is still to be read.
// Failures add one line to the error trace and return -1.

#include <cstddef>
#include <cstdint>

// The binary-mode form of a length.
constexpr std::size_t MBase64_Binary(std::size_t length) {
    return ~length;
}

// Characters needed for `length` source bytes: 4 * ceil(length / 3), plus 1 in text mode.
std::size_t MBase64_EncodedLength(std::size_t length);

// Bytes needed to decode the `length` characters at `src`: 3 * length / 4, plus 1 in text
// mode, minus 2 when the second-last character is '=', else minus 1 when the last one is.
// Never below zero; `src` is not read for lengths below 2.
std::size_t MBase64_DecodedLength(const char* src, std::size_t length);

// Writes the base64 text of the source bytes to `dst`, which holds
// MBase64_EncodedLength(length) bytes and may be `src` itself. Returns the number of
// characters written, without the terminator.
std::int64_t MBase64_Encode(char* dst, const void* src, std::size_t length);

// Decodes `length` characters (a multiple of 4) into `dst`, which holds
// MBase64_DecodedLength(src, length) bytes and may be `src` itself. Returns the number of
// bytes written (without the terminator), or -1 for a length that is not a multiple of 4 or
// an illegal character ('=' is only allowed as the last one or two characters).
std::int64_t MBase64_Decode(void* dst, const char* src, std::size_t length);
