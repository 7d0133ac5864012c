#pragma once
// Cuts a byte stream into request lines at LF. A line longer than the limit is reported once
// and dropped up to its LF; the stream goes on with the next line.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class LineAssembler {
public:
    // `onLine` gets each line without LF (a CR before the LF stays, the parser drops it);
    // `onOverlong` is called once for each line over `maxLine` bytes (not counting CR LF).
    LineAssembler(size_t maxLine, std::function<void(std::string_view)> onLine,
                  std::function<void()> onOverlong);

    void Feed(const char* data, size_t size);

private:
    size_t maxLine;
    std::function<void(std::string_view)> onLine;
    std::function<void()> onOverlong;
    std::string pending;
    bool discarding = false; // inside an overlong line, until its LF
};
