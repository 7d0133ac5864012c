#pragma once
// Error log: persistent lines for failures that someone has to look at later.

#include "platform/trace/printfformat.h"

// Records where the next line comes from. The first argument is always 0.
void _MErrLog_Location(int reserved, const char* sourceFile, int line);

// Writes one printf-style line to the error log.
void _MErrLog_Add(const char* format, ...) VYX_PRINTF_FORMAT(1, 2);

#define MERRLOG(...)                                                                               \
    do {                                                                                           \
        _MErrLog_Location(0, __FILE__, __LINE__);                                                  \
        _MErrLog_Add(__VA_ARGS__);                                                                 \
    } while (0)
