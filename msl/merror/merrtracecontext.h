#pragma once
// Error-trace scope of a top-level operation (command factories and polling, probe manager,
// sensors): opens an error-trace context for its lifetime and can write the collected
// failure chain to the error log under one headline.

#include "platform/trace/printfformat.h"

class MErrTraceContext {
public:
    // `sourceFile` locates the user's reports; pass __FILE__.
    explicit MErrTraceContext(const char* sourceFile);
    ~MErrTraceContext();
    MErrTraceContext(const MErrTraceContext&) = delete;
    MErrTraceContext& operator=(const MErrTraceContext&) = delete;

    // Formats the headline (at most 254 characters are kept) and writes it with the chain
    // collected so far to the error log; the context is empty afterwards.
    void DumpToMErrLog(int line, const char* format, ...) VYX_PRINTF_FORMAT(3, 4);

private:
    const char* sourceFile;
};
