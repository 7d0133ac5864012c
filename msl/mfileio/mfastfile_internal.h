#pragma once
// Opening, reading and writing helpers shared by the reader, the writer and the whole-file
// functions. Each failure adds its line to the error trace.

#include "msl/mfileio/mfileio_os.h"

#include <cstdint>

namespace mfastfile {

// Opens an existing file for reading (shared with other readers and writers).
mfileio_os::Handle openfile(const char* name);
// Opens a file for writing in a writer mode (MFASTFILE_MODE_*); FLUSH adds write-through.
mfileio_os::Handle openwritefile(const char* name, int mode);

// Moves exactly `size` bytes unless the file ends (reads) or the system refuses; `done`
// tells how many were moved. False on a system error.
bool read64(mfileio_os::Handle handle, void* data, std::uint64_t size, std::uint64_t& done);
bool write64(mfileio_os::Handle handle, const void* data, std::uint64_t size, std::uint64_t& done);

} // namespace mfastfile
