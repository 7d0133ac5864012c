#pragma once
// The error-log lines written while the machine opens. The module writes a failure chain to
// its error log, which is standard error unless VYX_ERRLOG_FILE names a file; for a file, the
// lines added since this object was made can be copied to standard error.

#include <cstdint>
#include <cstdio>
#include <string>

class ErrlogTail {
public:
    // Remembers where the error-log file ends now.
    ErrlogTail();
    // Copies the lines added since to `stream`.
    void EchoNewLines(std::FILE* stream) const;

private:
    std::string path; // empty: the error log is standard error already
    uintmax_t start = 0;
};
