#include "msl/merror/merrtracecontext.h"

#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"

#include <cstdarg>
#include <cstdio>

MErrTraceContext::MErrTraceContext(const char* sourceFile) : sourceFile(sourceFile) {
    MErrTrace_BeginContext();
}

MErrTraceContext::~MErrTraceContext() { MErrTrace_EndContext(); }

void MErrTraceContext::DumpToMErrLog(int line, const char* format, ...) {
    char text[255];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(sizeof text)) {
        if (n < 0)
            text[0] = '\0';
        _MErrLog_Location(0, sourceFile, line);
        _MErrLog_Add("MErrTraceContext::DumpToMErrLog(): output string too long !");
    }
    _MErrTrace_Location(0, sourceFile, line);
    _MErrTrace_DumpContextToMErrLog("%s", text);
}
