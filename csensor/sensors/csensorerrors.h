#pragma once
// Error codes of the sensors. They wait in a sensor's queue until the protocol side drains
// them with HasErrors, GetErrorCode and GetErrorText.

#include <cstdint>
#include <string>

constexpr uint32_t CSENSOR_ERR_INIT = 31;               // "Failed to initialize"
constexpr uint32_t CSENSOR_ERR_PROCESS_CONFIG = 32;     // "Failed to process configuration"
constexpr uint32_t CSENSOR_ERR_READ_CONFIG = 33;        // "Failed to read configuration"
constexpr uint32_t CSENSOR_ERR_SAVE_CONFIG = 34;        // "Failed to save configuration"
constexpr uint32_t CSENSOR_ERR_TIP_GAIN = 35;           // invalid probe tip gain
constexpr uint32_t CSENSOR_ERR_PROBE_PROTECTION = 36;   // probe protection triggered
constexpr uint32_t CSENSOR_ERR_PROBESYSTEM_TYPE = 37;   // invalid probe system type
constexpr uint32_t CSENSOR_ERR_INVALID_ARGUMENT = 39;   // internal: invalid argument
constexpr uint32_t CSENSOR_ERR_NOT_INITIALISED = 40;    // internal: sensor not initialised
constexpr uint32_t CSENSOR_ERR_INVALID_INDEX = 41;      // internal: invalid channel index
constexpr uint32_t CSENSOR_ERR_TIP_GEOMETRY = 42;       // probe arm length 0
constexpr uint32_t CSENSOR_ERR_MOVEZERO_VALUES = 43;    // movezero with forcedir=0, deflection=0
constexpr uint32_t CSENSOR_ERR_MOVEZERO_DIRECTION = 44; // probe and movement directions differ

// The message of a code, "No message available" for codes without one.
const char* CSensor_GetErrorMessage(uint32_t code);

// Whether the message of a code is padded with blanks to 59 characters in the error text, so
// that a client's list of the common errors lines up: 31 to 36 and 39 to 41.
bool CSensor_IsPaddedErrorCode(uint32_t code);

// sensor name, ": ", message (padded where the code asks for it).
std::string CSensor_FormatErrorText(const char* sensorName, uint32_t code);
