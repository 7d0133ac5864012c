#pragma once
// Named shared-memory segments that other processes on the machine map too (image FIFOs, the
// measurand FIFO, preview memories). A segment is known across processes by its name and
// inside this process by the address of its view. Each name is mapped once per process: a
// process-wide registry counts the links to every view, so repeated links return the same
// address and only the last unlink releases the view.
//
// Names are at most 200 bytes of UTF-8 without '/' and without control characters. A
// segment's name lives on after its processes end, so the process that created a segment
// removes the name when it releases its last link; processes that only linked never do.
// Failures add a line to the error trace and return null, 0 or (size_t)-1. Every function may
// be called from any thread.

#include <cstddef>

// A new segment of `size` bytes, zero-filled, its pages reserved and mapped in (so that a full
// shared memory is this call's failure, and the first writes take no page faults). Null when
// the name is taken in this process or by a living process on the machine; a stale segment
// of that name, which no process has open any more, is replaced.
void* MSharedMem_Create(const char* name, size_t size);

// A view of the named segment, created with `size` bytes when it does not exist (as Create
// makes it, but never replacing anything). An existing segment must be at least `size`
// bytes; its own size is registered then.
void* MSharedMem_LinkOrCreate(const char* name, size_t size);

// A view of an existing segment.
void* MSharedMem_Link(const char* name);

// Drops one link; the last one releases the view. 1 on success, 0 on failure.
int MSharedMem_Unlink(void* address);

// Releases the view regardless of its link count. 1 when every step succeeded.
int MSharedMem_Destroy(void* address);

// The segment's name (valid while the view stays registered), or null.
const char* MSharedMem_GetName(void* address);

// The registered size: the requested size for a segment this process created, the segment's
// own size for one opened from another process; (size_t)-1 on failure. Lookups are by the
// exact address MSharedMem_Create or a link returned.
size_t MSharedMem_GetSize(void* address);
