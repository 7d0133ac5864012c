#pragma once
// The protocol's numbered errors, warnings and events, and the texts they are sent as.
//
// Error texts are complete reply lines without prefix and line end ("error \"aborted\""),
// warnings likewise ("warning \"...\""), events are kept bare ("capabilities changed") and
// sent as "event \"<bare text>\"". Numbers without a table entry get a text that names the
// number, formatted anew on every call so that threads never share a buffer.

#include <cstdint>
#include <string>

// Error codes 1..50.
constexpr int32_t kMProtocolFirstError = 1;
constexpr int32_t kMProtocolLastError = 50;
// Warning codes 10000..10004.
constexpr int32_t kMProtocolFirstWarning = 10000;
constexpr int32_t kMProtocolLastWarning = 10004;
// Event numbers 0..96 (0, 68, 86 and 87 have no text of their own).
constexpr int32_t kMProtocolLastEvent = 96;

// "error \"...\"" of a code; "error \"unknown error number %d\"" for any other code.
std::string MProtocol_ErrorText(int32_t code);

// "warning \"...\"" of a code; "warning \"unknown warning number %d\"" for any other code.
std::string MProtocol_WarningText(int32_t code);

// "event \"...\"" of a number; "event \"unknown event number %d\"" where there is no text.
std::string MProtocol_EventText(int32_t number);

// The event text without "event \"" and the closing quote.
std::string MProtocol_BareEventText(int32_t number);

// The first error code whose text equals the line text byte for byte, else 0.
int32_t MProtocol_ErrorCode(const std::string& text);

// The first warning code whose text equals the line text byte for byte, else 0.
int32_t MProtocol_WarningCode(const std::string& text);
