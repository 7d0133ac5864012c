#pragma once
// The commands of vyxshm. Each prints its result to standard output and any failure as one
// line on standard error, and returns the exit status: 0 success, 1 failure (nothing is
// changed then). Usage errors (exit status 2) are caught by the command line before.

#include <cstdint>
#include <string>

// One line per segment in /dev/shm: name, size, kind, the kind's own details and the
// processes that map it.
int ShmCommand_List();

// The ring buffer's header and counts as "key: value" lines.
int ShmCommand_Info(const std::string& name);

// Block `number` (1-based) to `output` (standard output when empty), written through a
// temporary file so that a failed read leaves no partial file; `release` frees the block
// once its bytes are out.
int ShmCommand_Read(const std::string& name, uint64_t number, const std::string& output,
                    bool release);

// Frees block `number`.
int ShmCommand_Release(const std::string& name, uint64_t number);

// Removes the segment's name. A segment that a process maps is refused unless `force`; the
// processes then keep their mapping, but nobody can open the name again.
int ShmCommand_Remove(const std::string& name, bool force);

// A block number as typed: false for anything but decimal digits; a number beyond 64 bits
// becomes UINT64_MAX, which is out of every range.
bool ShmCommand_ParseBlockNumber(const std::string& text, uint64_t* number);
