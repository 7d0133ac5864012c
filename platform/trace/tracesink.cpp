#include "platform/trace/tracesink.h"
#include "platform/trace/immortal.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace vyx::trace {
namespace {

// Opened on first use and kept for the life of the process: trace calls can come from
// static destructors, so nothing here is ever torn down.
struct Sink {
    std::mutex lock;
    std::FILE* traceFile = nullptr;
    std::FILE* errlogFile = nullptr;
    bool capture = false;
    std::vector<CapturedLine> captured[3];

    Sink() {
        traceFile = Open(std::getenv("VYX_TRACE_FILE"), nullptr);
        errlogFile = Open(std::getenv("VYX_ERRLOG_FILE"), stderr);
    }

    static std::FILE* Open(const char* name, std::FILE* fallback) {
        if (name == nullptr || *name == '\0')
            return fallback;
        if (name[0] == '-' && name[1] == '\0')
            return stderr;
        std::FILE* f = std::fopen(name, "a");
        return f != nullptr ? f : stderr;
    }
};

Sink& TheSink() {
    return Immortal<Sink>(); // never destroyed, see above
}

const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

void WriteLine(std::FILE* f, const char* kind, const char* sourceFile, int line,
               const std::string& text) {
    std::string stamp = TimeStamp();
    std::fprintf(f, "%s [%ld] %s %s (%s:%d)\n", stamp.c_str(), CurrentThreadId(), kind,
                 text.c_str(), sourceFile != nullptr ? BaseName(sourceFile) : "?", line);
    std::fflush(f);
}

} // namespace

void Emit(Stream stream, int level, const char* sourceFile, int line, const std::string& text) {
    Sink& sink = TheSink();
    std::lock_guard<std::mutex> guard(sink.lock);
    if (sink.capture)
        sink.captured[static_cast<int>(stream)].push_back({level, text});
    switch (stream) {
    case Stream::Trace:
        if (sink.traceFile != nullptr) {
            char kind[8];
            std::snprintf(kind, sizeof kind, "T%d", level);
            WriteLine(sink.traceFile, kind, sourceFile, line, text);
        }
        break;
    case Stream::ErrTrace:
        // Error-trace lines reach a file only when their chain is dumped to the error log.
        break;
    case Stream::ErrLog:
        if (sink.errlogFile != nullptr)
            WriteLine(sink.errlogFile, "ERR", sourceFile, line, text);
        break;
    }
}

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n), '\0');
    std::vsnprintf(big.data(), big.size() + 1, format, args);
    return big;
}

int InitialTraceLevel() {
    static const int level = [] {
        const char* v = std::getenv("VYX_TRACE_LEVEL");
        return v != nullptr ? std::atoi(v) : 0;
    }();
    return level;
}

void SetCaptureActive(bool active) {
    Sink& sink = TheSink();
    std::lock_guard<std::mutex> guard(sink.lock);
    sink.capture = active;
    for (auto& lines : sink.captured)
        lines.clear();
}

std::vector<CapturedLine> CapturedLines(Stream stream) {
    Sink& sink = TheSink();
    std::lock_guard<std::mutex> guard(sink.lock);
    return sink.captured[static_cast<int>(stream)];
}

void ClearCaptured() {
    Sink& sink = TheSink();
    std::lock_guard<std::mutex> guard(sink.lock);
    for (auto& lines : sink.captured)
        lines.clear();
}

} // namespace vyx::trace
