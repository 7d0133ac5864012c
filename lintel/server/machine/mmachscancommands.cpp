#include "lintel/server/machine/mmachscancommands.h"

const char* MMachScanCommand::GetName() const {
    return "scan";
}

const char* MMachScandataCommand::GetName() const {
    return "scandata";
}

const char* MMachScanpointCommand::GetName() const {
    return "scanpoint";
}
