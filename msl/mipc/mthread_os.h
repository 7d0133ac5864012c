#pragma once
// Operating-system side of MThread (mthread_posix.cpp).

#include <cstdint>

// The system's handle of a started thread, kept as an integer.
typedef std::uintptr_t MThreadOsId;

// Implemented by mthread.cpp: the body of every new thread, given the start block.
void mthread_run(void* startBlock);

// Starts a thread, default stack size, running mthread_run(startBlock) at once. False with the
// system error in `*error` when none can be started.
bool mthread_os_start(void* startBlock, MThreadOsId* thread, int* error);

// Waits for a started thread to end and frees its system resources. 0 or the system error.
int mthread_os_join(MThreadOsId thread);

// Lets the system free a started thread's resources when it ends; it is never joined then.
void mthread_os_detach(MThreadOsId thread);

// The system's thread id of the calling thread.
int mthread_os_current_number();

// Lowers the calling thread to idle priority. 0 or the system error.
int mthread_os_set_idle_priority();
