#include "platform/trace/tracecapture.h"

#include "platform/trace/mtrace.h"
#include "platform/trace/tracesink.h"

namespace vyx::trace {
namespace {

int savedLevel = 0;

std::vector<std::string> Texts(Stream stream) {
    std::vector<std::string> texts;
    for (CapturedLine& line : CapturedLines(stream))
        texts.push_back(std::move(line.text));
    return texts;
}

int Count(Stream stream, std::string_view part) {
    int n = 0;
    for (const CapturedLine& line : CapturedLines(stream))
        if (line.text.find(part) != std::string::npos)
            ++n;
    return n;
}

} // namespace

TraceCapture::TraceCapture(int traceLevel) {
    savedLevel = MTrace_GetLevel("default");
    _MTrace_SetLevel("default", traceLevel);
    SetCaptureActive(true);
}

TraceCapture::~TraceCapture() {
    SetCaptureActive(false);
    _MTrace_SetLevel("default", savedLevel);
}

std::vector<TraceLine> TraceCapture::Trace() const {
    std::vector<TraceLine> lines;
    for (CapturedLine& line : CapturedLines(Stream::Trace))
        lines.push_back({line.level, std::move(line.text)});
    return lines;
}

std::vector<std::string> TraceCapture::ErrTrace() const { return Texts(Stream::ErrTrace); }
std::vector<std::string> TraceCapture::ErrLog() const { return Texts(Stream::ErrLog); }
void TraceCapture::Clear() { ClearCaptured(); }

int TraceCapture::CountTrace(std::string_view part) const { return Count(Stream::Trace, part); }
int TraceCapture::CountErrTrace(std::string_view part) const {
    return Count(Stream::ErrTrace, part);
}
int TraceCapture::CountErrLog(std::string_view part) const { return Count(Stream::ErrLog, part); }

std::string TraceCapture::Dump() const {
    std::string out;
    for (const TraceLine& line : Trace())
        out += "trace " + std::to_string(line.level) + ": " + line.text + "\n";
    for (const std::string& text : ErrTrace())
        out += "errtrace: " + text + "\n";
    for (const std::string& text : ErrLog())
        out += "errlog: " + text + "\n";
    return out;
}

} // namespace vyx::trace
