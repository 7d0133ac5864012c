#pragma once
// The error log read back by the host, so that an error reply can carry the machine's own
// reason for it (the chain the module logged while it served that request).
//
// The module writes its error log to the file named by VYX_ERRLOG_FILE, standard error when
// that is unset; each line is "TIME [THREAD] ERR TEXT (FILE:LINE)". When a file is named, the
// host reads what is added to it. Otherwise the host points the log at a scratch file of its
// own before the module loads and copies every line it reads to standard error, so the
// operator sees what they saw before. The module writes each line at once, so what a call
// logged is readable when the call returns.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ErrlogLine {
    long thread = 0;  // the writer's thread number, 0 when the line has another form
    std::string text; // the message without time, thread and place
    std::string raw;  // the line as written
};

class ErrlogTap {
public:
    ErrlogTap() = default;
    ~ErrlogTap();
    ErrlogTap(const ErrlogTap&) = delete;
    ErrlogTap& operator=(const ErrlogTap&) = delete;

    // Call before anything in the process writes to the error log.
    void Start(const std::string& hostDirectory);
    // The lines written since the last call, in order.
    std::vector<ErrlogLine> Take();
    // Whether Take copies the lines to standard error itself.
    bool Echoes() const { return echo; }

    static ErrlogLine Parse(const std::string& raw);

private:
    std::FILE* file = nullptr;
    bool echo = false;
    uint64_t start = 0;    // where reading began
    uint64_t consumed = 0; // bytes read
    uint64_t trimmed = 0;  // bytes of the scratch file given back
    std::string partial;   // a line not yet ended
};
