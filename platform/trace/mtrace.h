#pragma once
// Trace service: progress messages on named channels at levels 1 (rare) to 5 (detailed).
// The module writes everything to the channel "default".
//
// Usage: MTRACE(4, "Open(): %s", name);          level known at the call site
//        MTRACE_LEVEL(level, "Open(): %s", name); level held in a variable
//        MTRACE_ALWAYS("Open(): %s", name);       whatever the level (rare, grave events)

#include "platform/trace/printfformat.h"

#include <cstdarg>

// True when messages of this level are enabled for the channel; test before formatting.
bool _MTrace_TestLevel(const char* channel, int level);

// Records where the next message comes from; true when that message is to be written,
// in which case the caller goes on with _MTrace_Always.
bool _MTrace_Location(const char* sourceFile, int line, const char* channel, int level);

// Writes a printf-style message unconditionally, at the level of the last _MTrace_Location.
void _MTrace_Always(const char* format, ...) VYX_PRINTF_FORMAT(1, 2);

// Writes a printf-style message at the given level, when that level is enabled.
void _MTrace_Level(int level, const char* format, ...) VYX_PRINTF_FORMAT(2, 3);

// Sets the level of a channel; messages of this level and below are written.
void _MTrace_SetLevel(const char* channel, int level);

// The level currently set for a channel (0 writes nothing).
int MTrace_GetLevel(const char* channel);

#define MTRACE(level, ...)                                                                         \
    do {                                                                                           \
        if (_MTrace_Location(__FILE__, __LINE__, "default", (level)))                              \
            _MTrace_Always(__VA_ARGS__);                                                           \
    } while (0)

#define MTRACE_LEVEL(level, ...)                                                                   \
    do {                                                                                           \
        _MTrace_Location(__FILE__, __LINE__, "default", 0);                                        \
        _MTrace_Level((level), __VA_ARGS__);                                                       \
    } while (0)

#define MTRACE_ALWAYS(...)                                                                         \
    do {                                                                                           \
        _MTrace_Location(__FILE__, __LINE__, "default", 0);                                        \
        _MTrace_Always(__VA_ARGS__);                                                               \
    } while (0)
