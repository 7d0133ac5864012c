#include "platform/trace/merrtrace.h"

#include "platform/trace/tracesink.h"

#include <cstdarg>
#include <deque>

namespace {

// A context keeps at most this many lines; a chain longer than that is a loop gone wrong,
// and its oldest (innermost) lines are dropped rather than letting memory grow.
constexpr size_t kMaxLines = 256;

struct Context {
    std::deque<std::string> lines;
};

// The contexts of this thread, innermost last. The bottom entry is an implicit context for
// lines added while no operation has opened one.
struct ThreadContexts {
    std::vector<Context> stack{Context{}};
    const char* file = nullptr;
    int line = 0;
};

ThreadContexts& Contexts() {
    void* state =
        vyx::trace::ThreadState([]() -> void* { return new ThreadContexts; },
                                [](void* ended) { delete static_cast<ThreadContexts*>(ended); });
    // Without a slot of the system's (none left), every thread shares one fallback.
    static ThreadContexts fallback;
    return state != nullptr ? *static_cast<ThreadContexts*>(state) : fallback;
}

void AddLine(Context& context, std::string text) {
    if (context.lines.size() >= kMaxLines)
        context.lines.pop_front();
    context.lines.push_back(std::move(text));
}

} // namespace

void MErrTrace_BeginContext() {
    Contexts().stack.emplace_back();
}

void MErrTrace_EndContext() {
    ThreadContexts& contexts = Contexts();
    if (contexts.stack.size() <= 1) {
        contexts.stack.front().lines.clear(); // unmatched end: just forget the implicit lines
        return;
    }
    Context ended = std::move(contexts.stack.back());
    contexts.stack.pop_back();
    for (std::string& text : ended.lines)
        AddLine(contexts.stack.back(), std::move(text));
    // The implicit context has no one to report it: keep it from piling up.
    if (contexts.stack.size() == 1)
        contexts.stack.front().lines.clear();
}

void _MErrTrace_Location(int, const char* sourceFile, int line) {
    ThreadContexts& contexts = Contexts();
    contexts.file = sourceFile;
    contexts.line = line;
}

void _MErrTrace_Add(const char* format, ...) {
    ThreadContexts& contexts = Contexts();
    va_list args;
    va_start(args, format);
    std::string text = vyx::trace::FormatV(format, args);
    va_end(args);
    vyx::trace::Emit(vyx::trace::Stream::ErrTrace, 0, contexts.file, contexts.line, text);
    AddLine(contexts.stack.back(), std::move(text));
}

void MErrTrace_ClearContext() {
    Contexts().stack.back().lines.clear();
}

void _MErrTrace_DumpContextToMErrLog(const char* format, ...) {
    ThreadContexts& contexts = Contexts();
    va_list args;
    va_start(args, format);
    std::string headline = vyx::trace::FormatV(format, args);
    va_end(args);
    using vyx::trace::Stream;
    vyx::trace::Emit(Stream::ErrLog, 0, contexts.file, contexts.line, headline);
    for (const std::string& text : contexts.stack.back().lines)
        vyx::trace::Emit(Stream::ErrLog, 0, contexts.file, contexts.line, text);
    contexts.stack.back().lines.clear();
}

std::vector<std::string> MErrTrace_GetContextLines() {
    const auto& lines = Contexts().stack.back().lines;
    return std::vector<std::string>(lines.begin(), lines.end());
}

int MErrTrace_GetDepth() {
    return static_cast<int>(Contexts().stack.size()) - 1;
}
