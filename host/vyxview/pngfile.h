#pragma once
// A picture saved as a grey PNG file: eight bits for pictures of up to eight significant bits,
// sixteen otherwise (with an sBIT chunk naming the significant ones). Written to a temporary
// file beside the target and renamed over it, so that a failed save leaves no partial file.

#include "host/vyxview/picture.h"

#include <string>

namespace vyxview {

// False with `error` saying why.
bool SavePng(const std::string& path, const Picture& picture, std::uint32_t bits,
             std::string& error);

} // namespace vyxview
