#pragma once
// The argument forms of the protocol's keywords: C-locale decimal numbers and axis pairs.
// Every reader answers false, or an error code of the protocol table, and never throws.

#include <cstdint>
#include <string>
#include <string_view>

// Decimal digits only, within the type's range.
bool ParseUnsigned32(std::string_view word, uint32_t& value);
bool ParseUnsigned64(std::string_view word, uint64_t& value);
// A finite decimal number ("-1.5", "2e-3"); no leading '+', no hexadecimal, no "inf"/"nan".
bool ParseNumber(std::string_view word, double& value);
// A decimal integer that fits 32 signed bits (window placement).
bool ParseSigned32(std::string_view word, int32_t& value);

// "AXIS=VALUE" or, where `allowRelative`, "AXIS+=VALUE".
struct AxisPair {
    std::string axis;
    double value = 0.0;
    bool relative = false;
};

// 0 when the word is a pair; 1 ("syntax invalid") when it has no '=' or no axis name, 3
// ("invalid argument") when the value is no number.
int ParseAxisPair(std::string_view word, bool allowRelative, AxisPair& pair);
