#pragma once
// Byte-order marks at the start of a text file: which one is there, and its bytes.

#include <cstddef>
#include <string_view>

enum BomType {
    BOM_NONE = 0,
    BOM_UTF8 = 1,
    BOM_UTF16_BE = 2,
    BOM_UTF16_LE = 3,
    BOM_UTF32_BE = 4,
    BOM_UTF32_LE = 5,
};

// The mark the first `length` bytes start with (a BomType). The longer marks are tested first,
// so FF FE 00 00 is UTF-32 little-endian, not UTF-16.
int detect_bom(const void* bytes, std::size_t length);

// The bytes of the mark of `type` (3, 2, 2, 4 or 4 of them); empty for any other type.
std::string_view bom_bytes(int type);
