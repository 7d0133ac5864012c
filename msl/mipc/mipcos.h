#pragma once
// Operating-system layer of the shared-memory segments and the named event: named memory
// objects, their mappings and waiting on a 32-bit word in shared memory. Internal to msl/mipc;
// every function that can fail returns 0 or the system error code.

#include <cstddef>
#include <cstdint>
#include <string>

namespace msl::ipcos {

using Handle = intptr_t;
inline constexpr Handle kNoHandle = -1;

// Why `name` cannot name an object here, or null when it can. The name is not empty.
const char* NameProblem(const char* name);
// NameProblem, and what no system's names may hold (msharedmem.cpp).
const char* SegmentNameProblem(const char* name);

// Creates a new object of `size` bytes with all its pages reserved, so that memory that runs
// out is an error here and never a fault on first touch; fails with an error for which
// AlreadyExists is true when the name is taken. On POSIX systems the creator keeps a shared
// lock on the object while the handle is open, so that a segment still being set up never
// passes for a stale one.
int CreateObject(const char* name, size_t size, Handle* handle);

// Who else has the object open: the processes that map it ("1234/lintelhost,...") or a
// description, empty when nobody does (a stale segment, which only POSIX systems have).
int ObjectUsers(Handle handle, std::string* users);

// Removes the name of a stale object, unless the name has come to mean another object.
int RemoveStaleName(const char* name, Handle handle);

// Opens an existing object for reading and writing.
int OpenObject(const char* name, Handle* handle);

int ObjectSize(Handle handle, size_t* size);
// Maps the object; `populate` also faults every page in now, so that the first writes into
// it take no page faults (for objects whose pages are reserved).
int MapObject(Handle handle, size_t size, bool populate, void** address);
int UnmapObject(void* address, size_t size);
int CloseObject(Handle handle);

// Removes the name; objects still mapped stay valid until their last mapping goes. Nothing to
// do on Windows, where a name goes with the last handle.
int RemoveName(const char* name);

bool AlreadyExists(int error);
bool NotFound(int error);
// The system has no memory left for the object.
bool NoSpace(int error);
// The error AlreadyExists is true for.
int AlreadyExistsError();

// An error code that stands for "this is not what we expected to find".
int InvalidObjectError();

// Waiting on a word is the named event of the POSIX build (mnamedevent_posix.cpp); the Windows
// build has kernel events and leaves these two out.
// Blocks while *word equals `expected`, at most `timeoutNs` nanoseconds (negative: no limit).
// Returns 0 when woken (or the word differed), else the error (time-out, interruption);
// callers re-check the word in any case.
int WaitOnWord(uint32_t* word, uint32_t expected, int64_t timeoutNs);

// Wakes every process and thread waiting on `word`.
int WakeAllOnWord(uint32_t* word);

// Monotonic clock in nanoseconds.
int64_t MonotonicNs();

} // namespace msl::ipcos
