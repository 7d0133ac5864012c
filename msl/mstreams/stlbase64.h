#pragma once
// Base64 on byte strings, in place: how component data and other multi-line or binary
// values are made to fit on one INI line. Both use the codec's binary mode, so no terminator
// becomes part of the string.

#include <string>

// Replaces `s` by its base64 text. On failure traces the reason, empties `s` and returns false.
bool stl_encode_base64(std::string& s);

// Replaces the base64 text `s` by the bytes it encodes; trailing zero bytes of `s` are
// ignored. On failure (length not a multiple of 4, illegal character) traces the reason,
// empties `s` and returns false.
bool stl_decode_base64(std::string& s);
