#include "platform/trace/merrlog.h"

#include "platform/trace/tracesink.h"

#include <cstdarg>

namespace {
thread_local const char* locationFile = nullptr;
thread_local int locationLine = 0;
} // namespace

void _MErrLog_Location(int, const char* sourceFile, int line) {
    locationFile = sourceFile;
    locationLine = line;
}

void _MErrLog_Add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vyx::trace::FormatV(format, args);
    va_end(args);
    vyx::trace::Emit(vyx::trace::Stream::ErrLog, 0, locationFile, locationLine, text);
}
