#pragma once
// What both systems' named events share (mnamedevent.cpp): the calling thread's last error and
// the check of a name before any system call.

// Records `error` as the calling thread's last error (MNamedEvent_GetLastError) and returns it.
int MNamedEvent_Fail(int error);

// False, with an error-trace line of `operation` and the invalid-object error recorded, for an
// empty name or one the system cannot take.
bool MNamedEvent_CheckName(const char* operation, const char* name);
