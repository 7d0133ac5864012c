#include "lintel/server/machine/mmachcommand.h"

// Out of line so that the class has one home for its virtual table.
MMachCommand::~MMachCommand() = default;
