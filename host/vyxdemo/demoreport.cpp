#include "host/vyxdemo/demoreport.h"

#include "platform/trace/merrtrace.h"

#include <cstdarg>
#include <cstdio>

bool DemoFailed(const char* format, ...) {
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::fflush(stdout);
    std::fprintf(stderr, "vyxdemo: %s\n", message);
    if (!MErrTrace_GetContextLines().empty()) {
        _MErrTrace_Location(0, __FILE__, __LINE__);
        _MErrTrace_DumpContextToMErrLog("vyxdemo: why, innermost cause first:");
    }
    return false;
}
