#pragma once
// Conversion between UTF-8 text and the wide text of the camera library's XML reader
// (wchar_t: UTF-16 on Windows, UTF-32 elsewhere). Invalid input never fails: each byte or
// unit that does not decode becomes U+FFFD, so a camera that describes itself badly still
// shows what it said.

#include <cstddef>
#include <string>
#include <string_view>

// At most maxUnits wide units; a character that would not fit whole is left out.
std::wstring CWideText_FromUtf8(std::string_view text, size_t maxUnits);

std::string CWideText_ToUtf8(std::wstring_view text);
