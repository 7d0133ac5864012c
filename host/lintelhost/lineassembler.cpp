#include "host/lintelhost/lineassembler.h"

#include <cstring>

LineAssembler::LineAssembler(size_t maxLine, std::function<void(std::string_view)> onLine,
                             std::function<void()> onOverlong)
    : maxLine(maxLine), onLine(std::move(onLine)), onOverlong(std::move(onOverlong)) {}

void LineAssembler::Feed(const char* data, size_t size) {
    while (size > 0) {
        const char* lf = static_cast<const char*>(std::memchr(data, '\n', size));
        const size_t take = lf != nullptr ? size_t(lf - data) : size;
        if (!discarding) {
            pending.append(data, take);
            // One byte of slack for the CR of a CR LF that has not arrived with its LF yet.
            if (pending.size() > maxLine + 1) {
                pending.clear();
                discarding = true;
                onOverlong();
            }
        }
        if (lf == nullptr)
            return;
        if (!discarding) {
            std::string_view line(pending);
            const size_t content =
                !line.empty() && line.back() == '\r' ? line.size() - 1 : line.size();
            if (content > maxLine)
                onOverlong();
            else
                onLine(line);
        }
        pending.clear();
        discarding = false;
        data += take + 1;
        size -= take + 1;
    }
}
