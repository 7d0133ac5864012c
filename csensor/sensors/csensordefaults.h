#pragma once
// The built-in documents of CSensor: its default configuration data (the channel table of a
// tactile probe system, which every sensor starts from and the subclasses replace) and its
// default hardware data.
//
// The probe manager may replace the default configuration data with the one stored in its
// database; sensors constructed afterwards start from that text. The setting is module-wide
// and guarded, although sensors are normally created on the server's command thread only.

#include <string>
#include <string_view>

// The configuration data built into the module.
const char* CSensor_BuiltinConfigData();

// The configuration data a new CSensor installs: the built-in text unless replaced.
std::string CSensor_GetDefaultConfigData();
// Replaces it for sensors constructed afterwards; an empty text restores the built-in one.
void CSensor_SetDefaultConfigData(std::string_view text);

// The hardware data a new CSensor starts with.
const char* CSensor_DefaultHardwareData();
