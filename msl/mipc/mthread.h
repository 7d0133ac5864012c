#pragma once
// Worker threads, kept in a process-wide registry by thread number.
//
// MThread_Create starts a thread at idle priority (below all normal work of the process) and
// registers it under its number, the system's thread id. MThread_Join waits for it, hands out
// its exit code and removes it from the registry; a thread that is never joined stays
// registered. Thread numbers are reused by the system, so a new thread may take over the entry
// of an old, unjoined one.
//
// A thread handle (MThreadHandle) is this library's stand-in for a Windows thread handle: a
// reference to the thread's record that stays valid, whatever happens to the registry, until
// it is closed with MThread_CloseHandle. It can be waited on, with a time-out, and tells the
// exit code once the thread has ended. Closing the last handle of a thread that still runs
// lets it run on.
//
// All functions may be called from any thread. They serialise on the registry's lock and never
// hold it while waiting for a thread.

#include <cstdint>

// A thread's work; its result becomes the thread's exit code.
typedef std::uint32_t (*MThreadFunction)(void* argument);

typedef struct MThreadHandleT* MThreadHandle;

// The invalid handle value (all bits set), as Windows has it.
inline const MThreadHandle MTHREAD_INVALID_HANDLE =
    reinterpret_cast<MThreadHandle>(~std::uintptr_t{0});

// A time-out that never expires.
constexpr std::uint32_t MTHREAD_INFINITE = 0xFFFFFFFFu;

// Starts a thread running function(argument) at idle priority and returns its number; the
// number is known, and registered, before the function runs. -1 when no thread can be started
// ("MThread_Create(): failed to create thread: %d" in the error trace). A failure to lower the
// priority is written to the error log and the thread runs on.
int MThread_Create(MThreadFunction function, void* argument);

// Waits without time limit for the registered thread `thread` to end, stores its exit code in
// `*exitCode` when given, and removes it from the registry. 1 on success (also when another
// caller removed the entry meanwhile); 0 with an error-trace line when the thread is not
// registered or the wait fails (a thread cannot join itself).
int MThread_Join(int thread, std::uint32_t* exitCode = nullptr);

// A new handle of the registered thread `thread`, which the caller closes with
// MThread_CloseHandle. MTHREAD_INVALID_HANDLE when the thread is not registered (no message)
// or no handle can be made (error-trace line).
MThreadHandle MThread_DuplicateWindowsHandle(int thread);

// Waits until the handle's thread has ended, at most `timeoutMs` (MTHREAD_INFINITE: no limit).
// 1 when it has ended, 0 when the time ran out, -1 for an invalid handle or when the calling
// thread would wait for itself.
int MThread_WaitHandle(MThreadHandle handle, std::uint32_t timeoutMs);

// The exit code of the handle's thread; false while the thread runs or for an invalid handle.
bool MThread_GetHandleExitCode(MThreadHandle handle, std::uint32_t* exitCode);

// Releases a handle; false for an invalid one.
bool MThread_CloseHandle(MThreadHandle handle);

// How many threads the registry holds.
int MThread_GetRegisteredCount();
