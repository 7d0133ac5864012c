#pragma once
// What vyxshm needs of the operating system: segments mapped whole, the list of segment
// names, and files written safely (vyxshmos_posix.cpp, vyxshmos_win32.cpp).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vyxshm_os {

// A whole segment mapped into this process, released with the object.
class Mapping {
public:
    Mapping() = default;
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    // 0, or the system error of the failing step. Writable only when blocks are to be released.
    int Open(const std::string& name, bool writable);

    uint8_t* base = nullptr;
    size_t size = 0;

private:
    void* handle = nullptr; // the system's mapping object, where it keeps one
};

// The error Open gives for a name no segment has.
bool NotFound(int error);
std::string ErrorText(int error);

// The names of the shared-memory segments of this machine (of this session on Windows);
// false with the reason in `error` when they cannot be listed.
bool ListNames(std::vector<std::string>& names, std::string& error);

// Writes the bytes to a temporary file beside `path` and renames it into place, so a failed
// write never leaves a half-written file. 0 or the system error.
int SaveFile(const std::string& path, const uint8_t* bytes, size_t count);

// Standard output and standard error pass bytes unchanged (no LF to CR LF on Windows), so the
// tool's output is the same on every system.
void SetBinaryStandardStreams();

} // namespace vyxshm_os
