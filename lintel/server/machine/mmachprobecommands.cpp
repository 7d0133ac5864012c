#include "lintel/server/machine/mmachprobecommands.h"

const char* MMachProbeDefineCommand::GetName() const {
    return "probe define";
}

const char* MMachProbeDeleteCommand::GetName() const {
    return "probe delete";
}

const char* MMachProbeLoadCommand::GetName() const {
    return "probe load";
}

const char* MMachProbeChangeCommand::GetName() const {
    return "probe change";
}

const char* MMachProbeUnloadCommand::GetName() const {
    return "probe unload";
}

const char* MMachProbesystemDefineCommand::GetName() const {
    return "probesystem define";
}

const char* MMachProbesystemDeleteCommand::GetName() const {
    return "probesystem delete";
}

const char* MMachProbesystemLoadCommand::GetName() const {
    return "probesystem load";
}

const char* MMachProbesystemUnloadCommand::GetName() const {
    return "probesystem unload";
}
