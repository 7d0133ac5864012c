#pragma once
// Opening, reading and writing helpers shared by the reader, the writer and the whole-file
// functions. Each failure adds its line to the error trace.

#include "msl/mfileio/mfileio_os.h"

#include <cstdint>
#include <cstring>

namespace mfastfile {

// Opens an existing file for reading (shared with other readers and writers).
mfileio_os::Handle openfile(const char* name);
// Opens a file for writing in a writer mode (MFASTFILE_MODE_*); FLUSH adds write-through.
mfileio_os::Handle openwritefile(const char* name, int mode);

// Moves exactly `size` bytes unless the file ends (reads) or the system refuses; `done`
// tells how many were moved. False on a system error.
bool read64(mfileio_os::Handle handle, void* data, std::uint64_t size, std::uint64_t& done);
bool write64(mfileio_os::Handle handle, const void* data, std::uint64_t size, std::uint64_t& done);

inline bool IsLineEnd(char c) {
    // Most bytes are above CR: one comparison settles them.
    return static_cast<unsigned char>(c) <= '\r' && (c == '\r' || c == '\n');
}

// The first CR or LF in [p, end), or end. Tests eight bytes at a time: text lines are long
// compared with a word, and the INI files are read through here.
inline const char* FindLineEnd(const char* p, const char* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        std::uint64_t lf = word ^ (kOnes * '\n');
        std::uint64_t cr = word ^ (kOnes * '\r');
        // Non-zero exactly when some byte of lf or cr is zero.
        if ((((lf - kOnes) & ~lf) | ((cr - kOnes) & ~cr)) & kHighs)
            break;
        p += 8;
    }
    while (p < end && !IsLineEnd(*p))
        ++p;
    return p;
}

} // namespace mfastfile
