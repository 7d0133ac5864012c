#pragma once
// The server's side of the demo: loads the module with dlopen, as the Lintel server does, and
// drives its machine through the machine interface.

#include <string>

// Creates the machine on `directory` (the host's directory), opens it, runs a few protocol
// transactions and prints their reply lines, then closes and deletes the machine. A level of
// 0 or more becomes the module's trace level. False, with a message on standard error, when
// the module cannot be loaded or the machine fails to close.
bool RunServerMachine(const std::string& modulePath, const std::string& directory, int traceLevel);
