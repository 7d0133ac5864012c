#pragma once
// Where trace, error-trace and error-log lines end up.
//
// Trace lines go to the file named by VYX_TRACE_FILE ("-" for standard error; nowhere when
// unset) at the level from VYX_TRACE_LEVEL (default 0). Error-log lines go to the file named
// by VYX_ERRLOG_FILE, standard error when unset. Every line carries a time stamp and the
// thread id. While a capture is on, copies of all three streams are kept in memory for tests.

#include <cstdarg>
#include <string>
#include <vector>

namespace vyx::trace {

enum class Stream { Trace, ErrTrace, ErrLog };

struct CapturedLine {
    int level; // trace level; 0 for the other streams
    std::string text;
};

// One formatted message of one stream.
void Emit(Stream stream, int level, const char* sourceFile, int line, const std::string& text);

// printf-style formatting into a std::string; a bad format gives an empty text.
std::string FormatV(const char* format, va_list args);

// The level the environment asks for, read once (VYX_TRACE_LEVEL).
int InitialTraceLevel();

// The operating system's number of the calling thread (trace_posix.cpp).
long CurrentThreadId();

// Local wall-clock time with microseconds, "YYYY-MM-DD hh:mm:ss.uuuuuu" (trace_posix.cpp).
std::string TimeStamp();

// The calling thread's error-trace state, made by `make` on the thread's first call and
// handed to `destroy` by the system when the thread ends (trace_posix.cpp). Not a thread_local
// object: MinGW runs those objects' destructors after it has freed their storage.
void* ThreadState(void* (*make)(), void (*destroy)(void*));

// In-memory capture, all under the sink's lock.
void SetCaptureActive(bool active);
std::vector<CapturedLine> CapturedLines(Stream stream);
void ClearCaptured();

} // namespace vyx::trace
