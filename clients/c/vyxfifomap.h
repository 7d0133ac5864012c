#pragma once
// The segment mapping of the reader library: a named shared-memory segment mapped for
// reading and writing with every page faulted in before the call returns.

#include <cstddef>
#include <string>

namespace vyxfifo_os {

// Maps the segment `name`; 0 or the system's error code, with the failed step in `what`.
int MapSegment(const char* name, void** address, size_t* size, const char** what);

void UnmapSegment(void* address, size_t size);

// The system's text for an error code of MapSegment.
std::string ErrorText(int error);

} // namespace vyxfifo_os
