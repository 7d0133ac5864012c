#pragma once
// Named manual-reset event that other processes can open by name: the preview memory
// signals "<segment name>.event" after writing an image, and its client resets it once the
// image is taken.
//
// On Windows it is a named event of the system (CreateEventA, manual reset). On Linux it is a
// 64-byte shared-memory object that clients in any language can also use directly:
//   offset 0: u32 magic 0x54564556 ("VEVT" little-endian)
//   offset 4: u32 state, 0 not signalled, 1 signalled
// Signalling stores 1 and wakes every waiter with a shared futex wake on the state word;
// waiting is a futex wait while the word is 0; resetting stores 0. The process that created
// the object removes its name when it closes it (a Windows event goes with its last handle).
//
// Names follow the shared-memory segment rules (at most 200 bytes, no '/'). Failures add a
// line to the error trace; MNamedEvent_GetLastError tells the system error code of this
// thread's last failure.

#include <cstdint>

struct MNamedEvent;

inline constexpr uint32_t kMNamedEventMagic = 0x54564556;
inline constexpr uint32_t kMNamedEventSize = 64;
inline constexpr uint32_t kMNamedEventInfinite = 0xFFFFFFFF;

// Creates the event, not signalled. When an event of that name already exists it is opened
// as it is, and its name stays with whoever created it. Null on failure.
MNamedEvent* MNamedEvent_Create(const char* name);

// Opens an existing event. Null when there is none or the object is no event.
MNamedEvent* MNamedEvent_Open(const char* name);

// Sets the event and wakes every waiter in every process. 1 on success, 0 on failure.
int MNamedEvent_Signal(MNamedEvent* event);

// Clears the event. 1 on success, 0 on failure.
int MNamedEvent_Reset(MNamedEvent* event);

// Waits until the event is signalled or `timeout_ms` milliseconds have passed (0 only tests,
// kMNamedEventInfinite waits without limit). 1 when signalled, 0 when the time ran out, -1
// for a null event or when the system cannot wait on it.
int MNamedEvent_Wait(MNamedEvent* event, uint32_t timeout_ms);

// Releases this process's handle (a null event is fine). 1 on success, 0 when a step failed;
// the handle is gone in either case.
int MNamedEvent_Close(MNamedEvent* event);

// The system error code of this thread's last failed event operation.
int MNamedEvent_GetLastError();
