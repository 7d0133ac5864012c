#pragma once
// Test interface of the trace services: while a TraceCapture lives, every trace line,
// every error-trace line added and every error-log line is also kept in memory, as the
// bare message text (no time stamp, no location). Captures do not nest.

#include <string>
#include <string_view>
#include <vector>

namespace vyx::trace {

struct TraceLine {
    int level;
    std::string text;
};

class TraceCapture {
public:
    // Sets the "default" trace level for the capture's lifetime (restored afterwards).
    explicit TraceCapture(int traceLevel = 5);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<TraceLine> Trace() const;
    std::vector<std::string> ErrTrace() const; // every line added to any error-trace context
    std::vector<std::string> ErrLog() const;
    void Clear();

    // Number of lines of the stream that contain `part`.
    int CountTrace(std::string_view part) const;
    int CountErrTrace(std::string_view part) const;
    int CountErrLog(std::string_view part) const;

    // Everything captured, one line each, for test failure messages.
    std::string Dump() const;
};

} // namespace vyx::trace
