#include "lintel/server/commands/mprotocolmessages.h"

#include <cstdio>

namespace {

constexpr int kErrorCount = kMProtocolLastError - kMProtocolFirstError + 1;
constexpr int kWarningCount = kMProtocolLastWarning - kMProtocolFirstWarning + 1;
constexpr int kEventCount = kMProtocolLastEvent + 1;

// The tables are part of the protocol: clients compare these texts byte for byte.

// Error codes 1 to 50, as sent after the transaction prefix.
const char* const kErrorTexts[kErrorCount] = {
    "error \"syntax invalid\"",                          // 1
    "error \"missing argument\"",                        // 2
    "error \"invalid argument\"",                        // 3
    "error \"invalid axis\"",                            // 4
    "error \"unknown axis\"",                            // 5
    "error \"no axis specified\"",                       // 6
    "error \"unknown component\"",                       // 7
    "error \"invalid component\"",                       // 8
    "error \"argument out of range\"",                   // 9
    "error \"aborted\"",                                 // 10
    "error \"transaction: t-id missing\"",               // 11
    "error \"transaction: t-id invalid\"",               // 12
    "error \"t-id unused\"",                             // 13
    "error \"transaction: command missing or invalid\"", // 14
    "error \"transaction: command unknown\"",            // 15
    "error \"internal error\"",                          // 16
    "error \"not implemented\"",                         // 17
    "error \"wrong state\"",                             // 18
    "error \"command already active\"",                  // 19
    "error \"undefined probesystem\"",                   // 20
    "error \"undefined probesystem id\"",                // 21
    "error \"probesystem not loaded\"",                  // 22
    "error \"probesystem not supported\"",               // 23
    "error \"probesystem already defined\"",             // 24
    "error \"unknown probesystem\"",                     // 25
    "error \"undefined probe\"",                         // 26
    "error \"undefined tip\"",                           // 27
    "error \"invalid probe number\"",                    // 28
    "error \"invalid tip number\"",                      // 29
    "error \"tip already defined\"",                     // 30
    "error \"can't delete active probe\"",               // 31
    "error \"probe already loaded\"",                    // 32
    "error \"probe already unloaded\"",                  // 33
    "error \"probe not in magazine\"",                   // 34
    "error \"probe not loaded\"",                        // 35
    "error \"no probe changer\"",                        // 36
    "error \"invalid magazine slot\"",                   // 37
    "error \"slot already free\"",                       // 38
    "error \"slot already in use\"",                     // 39
    "error \"probe already in different slot\"",         // 40
    "error \"too many points\"",                         // 41
    "error \"probe: no contact\"",                       // 42
    "error \"machine: emergency\"",                      // 43
    "error \"machine: not initialized\"",                // 44
    "error \"buffer overrun\"",                          // 45
    "error \"keypad: enabled\"",                         // 46
    "error \"keypad: disabled\"",                        // 47
    "error \"can't access shared memory\"",              // 48
    "error \"shared memory too small\"",                 // 49
    "error \"no imagefifo active\"",                     // 50
};

// Warning codes 10000 to 10004.
const char* const kWarningTexts[kWarningCount] = {
    "warning \"machine: emergency\"",         // 10000
    "warning \"machine: not initialized\"",   // 10001
    "warning \"argument out of range\"",      // 10002
    "warning \"ambiguous tip, using first\"", // 10003
    "warning \"operation with no effect\"",   // 10004
};

// Bare event texts by number; null where a number has no text of its own.
const char* const kEventTexts[kEventCount] = {
    nullptr,                                          // 0
    "capabilities changed",                           // 1
    "keypad: changed",                                // 2
    "measurement begin",                              // 3
    "preview begin",                                  // 4
    "probesystem changed",                            // 5
    "probe: loaded",                                  // 6
    "probe: unloaded",                                // 7
    "machine changed",                                // 8
    "probe: contact",                                 // 9
    "probe: contact lost",                            // 10
    "movement: begin",                                // 11
    "movement: end",                                  // 12
    "measurement: end",                               // 13
    "keypad: enabled",                                // 14
    "keypad: disabled",                               // 15
    "service: maintenance rate exceeded",             // 16
    "keypad: key-start",                              // 17
    "keypad: key-stop",                               // 18
    "keypad: key-monitor",                            // 19
    "keypad: key-enable x z",                         // 20
    "keypad: key-disable x z",                        // 21
    "keypad: key-enable z",                           // 22
    "keypad: key-enable c hb",                        // 23
    "keypad: key-disable c hb",                       // 24
    "keypad: key-enable y",                           // 25
    "keypad: key-disable y",                          // 26
    "keypad: key-enable c sw",                        // 27
    "keypad: key-disable c sw",                       // 28
    "keypad: key-movezero z+",                        // 29
    "keypad: key-movezero z-",                        // 30
    "keypad: key-movezero x+",                        // 31
    "keypad: key-movezero x-",                        // 32
    "keypad: key-get value",                          // 33
    "keypad: key-zero x",                             // 34
    "keypad: key-zero z",                             // 35
    "keypad: key-1",                                  // 36
    "keypad: key-2",                                  // 37
    "keypad: key-3",                                  // 38
    "keypad: key-4",                                  // 39
    "keypad: key-5",                                  // 40
    "keypad: key-6",                                  // 41
    "keypad: key-7",                                  // 42
    "keypad: key-8",                                  // 43
    "keypad: emergency active",                       // 44
    "keypad: emergency passive",                      // 45
    "keypad: key-enable tailstock",                   // 46
    "keypad: key-disable tailstock",                  // 47
    "keypad: key-zfree",                              // 48
    "keypad: key-dyn",                                // 49
    "keypad: key-mv",                                 // 50
    "keypad: key-enable x",                           // 51
    "spindle clamped",                                // 52
    "spindle unclamped",                              // 53
    "pedal value",                                    // 54
    "spin: changed",                                  // 55
    "air: pressure active",                           // 56
    "air: pressure passive",                          // 57
    "keypad: key-enable x+",                          // 58
    "keypad: key-enable x-",                          // 59
    "keypad: key-enable z+",                          // 60
    "keypad: key-enable z-",                          // 61
    "lumora: there is data to read from application", // 62
    "door open",                                      // 63
    "door closed",                                    // 64
    "keypad: key-enable c",                           // 65
    "keypad: key-enable hb",                          // 66
    "keypad: key-enable sw",                          // 67
    nullptr,                                          // 68
    "keypad: key-disable",                            // 69
    "keypad: key-enable z/hw",                        // 70
    "keypad: key-enable x/z/hb",                      // 71
    "keypad: key-movezero hb+",                       // 72
    "keypad: key-movezero hb-",                       // 73
    "keypad: key-disable x/z/hb",                     // 74
    "keypad: key-enable ty",                          // 75
    "keypad: key-disable ty",                         // 76
    "keypad: key-level",                              // 77
    "keypad: key-ok",                                 // 78
    "keypad: key-enable",                             // 79
    "keypad: key-enable z/ty",                        // 80
    "keypad: key-disable x",                          // 81
    "keypad: key-disable z/ty",                       // 82
    "keypad: key-disable hb",                         // 83
    "keypad: key-disable z",                          // 84
    "keypad: key-dmc",                                // 85
    nullptr,                                          // 86
    nullptr,                                          // 87
    "keypad: key-enable x1",                          // 88
    "keypad: key-enable x2",                          // 89
    "keypad: key-enable z/c",                         // 90
    "keypad: key-enable y/hb",                        // 91
    "keypad: key-disable x1",                         // 92
    "keypad: key-disable x2",                         // 93
    "keypad: key-disable z/c",                        // 94
    "keypad: key-disable y/hb",                       // 95
    "start/stop",                                     // 96
};

std::string Enclosed(const char* head, const std::string& bare) {
    std::string text(head);
    text += bare;
    text += '"';
    return text;
}

std::string Unknown(const char* what, int32_t number) {
    char text[64];
    std::snprintf(text, sizeof text, "unknown %s number %d", what, static_cast<int>(number));
    return text;
}

} // namespace

std::string MProtocol_ErrorText(int32_t code) {
    if (code >= kMProtocolFirstError && code <= kMProtocolLastError)
        return kErrorTexts[code - kMProtocolFirstError];
    return Enclosed("error \"", Unknown("error", code));
}

std::string MProtocol_WarningText(int32_t code) {
    if (code >= kMProtocolFirstWarning && code <= kMProtocolLastWarning)
        return kWarningTexts[code - kMProtocolFirstWarning];
    return Enclosed("warning \"", Unknown("warning", code));
}

std::string MProtocol_BareEventText(int32_t number) {
    if (number >= 0 && number <= kMProtocolLastEvent && kEventTexts[number] != nullptr)
        return kEventTexts[number];
    return Unknown("event", number);
}

std::string MProtocol_EventText(int32_t number) {
    return Enclosed("event \"", MProtocol_BareEventText(number));
}

int32_t MProtocol_ErrorCode(const std::string& text) {
    for (int32_t code = kMProtocolFirstError; code <= kMProtocolLastError; ++code)
        if (text == kErrorTexts[code - kMProtocolFirstError])
            return code;
    return 0;
}

int32_t MProtocol_WarningCode(const std::string& text) {
    for (int32_t code = kMProtocolFirstWarning; code <= kMProtocolLastWarning; ++code)
        if (text == kWarningTexts[code - kMProtocolFirstWarning])
            return code;
    return 0;
}
