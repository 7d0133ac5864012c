#pragma once
// How the demo reports a failure: one "vyxdemo: ..." line on standard error, followed by the
// failure chain the libraries collected in the current error-trace context (error log).

#include "platform/trace/printfformat.h"

// Prints the message, writes the error-trace lines collected so far to the error log and
// returns false, so that callers can `return DemoFailed(...)`.
bool DemoFailed(const char* format, ...) VYX_PRINTF_FORMAT(1, 2);
