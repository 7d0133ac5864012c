#pragma once
// What the INI document and its sections share behind their public headers.

#include "platform/trace/merrtrace.h"

// Every failure line of the INI classes is located at this one source name, whichever file
// reports it.
#define MINIDATA_ERRTRACE(...)                                                                     \
    do {                                                                                           \
        _MErrTrace_Location(0, "MIniData_template_core", __LINE__);                                \
        _MErrTrace_Add(__VA_ARGS__);                                                               \
    } while (0)
