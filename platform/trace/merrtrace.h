#pragma once
// Error-trace service: collects the failure chain of one operation.
//
// A top-level operation opens a context; every level that fails adds one line on its way
// back up (MERRTRACE), so the chain reads from the innermost cause outward. The outermost
// caller writes the chain to the error log (_MErrTrace_DumpContextToMErrLog) or discards it
// (MErrTrace_ClearContext). Contexts nest per thread: a context ended with lines still in
// it hands them to the enclosing context, so an outer caller can still report them.

#include "platform/trace/printfformat.h"

#include <string>
#include <vector>

void MErrTrace_BeginContext();
void MErrTrace_EndContext();

// Records where the next added line comes from. The first argument is always 0.
void _MErrTrace_Location(int reserved, const char* sourceFile, int line);

// Adds one printf-style line to the current context of this thread.
void _MErrTrace_Add(const char* format, ...) VYX_PRINTF_FORMAT(1, 2);

// Discards what the current context holds (an expected failure).
void MErrTrace_ClearContext();

// Writes the headline and then the collected lines to the error log, and empties the context.
void _MErrTrace_DumpContextToMErrLog(const char* format, ...) VYX_PRINTF_FORMAT(1, 2);

// The lines the current context of this thread holds, innermost cause first.
std::vector<std::string> MErrTrace_GetContextLines();

// How many contexts are open on this thread.
int MErrTrace_GetDepth();

#define MERRTRACE(...)                                                                             \
    do {                                                                                           \
        _MErrTrace_Location(0, __FILE__, __LINE__);                                                \
        _MErrTrace_Add(__VA_ARGS__);                                                               \
    } while (0)
