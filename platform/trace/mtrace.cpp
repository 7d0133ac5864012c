#include "platform/trace/mtrace.h"
#include "platform/trace/immortal.h"

#include "platform/trace/tracesink.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

// "default" is the only channel the module writes to; its level is read on every trace
// statement, so it is a plain atomic. Other channel names are kept for completeness.
std::atomic<int>& DefaultLevel() {
    static std::atomic<int> level{vyx::trace::InitialTraceLevel()};
    return level;
}

struct OtherChannels {
    std::mutex lock;
    std::map<std::string, int> levels;
};

OtherChannels& Others() {
    return Immortal<OtherChannels>(); // outlives static destructors
}

bool IsDefault(const char* channel) {
    return channel == nullptr || std::strcmp(channel, "default") == 0;
}

// Location of the statement being traced, set by _MTrace_Location on this thread.
struct PendingLocation {
    const char* file = nullptr;
    int line = 0;
    int level = 0;
};
thread_local PendingLocation pending;

void Write(int level, const char* format, va_list args) {
    std::string text = vyx::trace::FormatV(format, args);
    vyx::trace::Emit(vyx::trace::Stream::Trace, level, pending.file, pending.line, text);
}

} // namespace

int MTrace_GetLevel(const char* channel) {
    if (IsDefault(channel))
        return DefaultLevel().load(std::memory_order_relaxed);
    OtherChannels& others = Others();
    std::lock_guard<std::mutex> guard(others.lock);
    auto it = others.levels.find(channel);
    return it == others.levels.end() ? 0 : it->second;
}

bool _MTrace_TestLevel(const char* channel, int level) {
    return level > 0 && level <= MTrace_GetLevel(channel);
}

bool _MTrace_Location(const char* sourceFile, int line, const char* channel, int level) {
    pending.file = sourceFile;
    pending.line = line;
    pending.level = level;
    return _MTrace_TestLevel(channel, level);
}

void _MTrace_Always(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(pending.level, format, args);
    va_end(args);
}

void _MTrace_Level(int level, const char* format, ...) {
    if (!_MTrace_TestLevel("default", level))
        return;
    va_list args;
    va_start(args, format);
    Write(level, format, args);
    va_end(args);
}

void _MTrace_SetLevel(const char* channel, int level) {
    if (IsDefault(channel)) {
        DefaultLevel().store(level, std::memory_order_relaxed);
        return;
    }
    OtherChannels& others = Others();
    std::lock_guard<std::mutex> guard(others.lock);
    others.levels[channel] = level;
}
