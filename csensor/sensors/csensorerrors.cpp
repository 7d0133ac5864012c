#include "csensor/sensors/csensorerrors.h"

const char* CSensor_GetErrorMessage(uint32_t code) {
    switch (code) {
    case 31:
        return "Failed to initialize";
    case 32:
        return "Failed to process configuration";
    case 33:
        return "Failed to read configuration";
    case 34:
        return "Failed to save configuration";
    case 35:
        return "Invalid probe tip gain [0.1 < E_1 < 20. Retry calibration].";
    case 36:
        return "Probe protection triggered [Check probe tip position].";
    case 37:
        return "Invalid probe system type [Use probe.list to determine type]";
    case 39:
        return "Internal error: Invalid argument";
    case 40:
        return "Internal error: Sensor not initialized";
    case 41:
        return "Internal error: Invalid channel index";
    case 42:
        return "Invalid probe tip geometry [Enter valid geometry with probe arm lenght > 0]";
    case 43:
        return "Command 'movezero' not possible with 'forcedir=0' and 'deflection=0' [Enter "
               "appropriate values]";
    case 44:
        return "Probe direction and moving direction do not match [Adjust probe direction to "
               "movement]";
    default:
        return "No message available";
    }
}

bool CSensor_IsPaddedErrorCode(uint32_t code) {
    return (code >= 31 && code <= 36) || (code >= 39 && code <= 41);
}

std::string CSensor_FormatErrorText(const char* sensorName, uint32_t code) {
    std::string text = sensorName ? sensorName : "";
    text += ": ";
    std::string message = CSensor_GetErrorMessage(code);
    if (CSensor_IsPaddedErrorCode(code) && message.size() < 59)
        message.resize(59, ' ');
    return text + message;
}
