#include "lintel/server/machine/mmachimagefifocommands.h"

// The work of these commands happens inside one IsDone call; there is nothing to stop.
void MMachImagefifoCreateCommand::Abort() {}
void MMachImagefifoDeleteCommand::Abort() {}
void MMachImagefifoResetCommand::Abort() {}

const char* MMachImagefifoCreateCommand::GetName() const {
    return "imagefifo create";
}

const char* MMachImagefifoDeleteCommand::GetName() const {
    return "imagefifo delete";
}

const char* MMachImagefifoResetCommand::GetName() const {
    return "imagefifo reset";
}

const char* MMachImagefifoSelectCommand::GetName() const {
    return "imagefifo select";
}
