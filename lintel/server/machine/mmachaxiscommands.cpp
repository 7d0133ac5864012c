#include "lintel/server/machine/mmachaxiscommands.h"

const char* MMachGetCommand::GetName() const {
    return "get";
}

const char* MMachInitCommand::GetName() const {
    return "init";
}

const char* MMachSetCommand::GetName() const {
    return "set";
}

const char* MMachSendCommand::GetName() const {
    return "send";
}

const char* MMachReceiveCommand::GetName() const {
    return "receive";
}
