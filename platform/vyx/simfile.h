#pragma once
// File operations of the simulated camera that need the operating system (simfile_*.cpp).

#include <string>

namespace Vyx::sim {

// Removes the file; true when it existed and is gone. One call of many wins a file, so a
// trigger file starts exactly one replay pass.
bool TakeFile(const std::string& path);

} // namespace Vyx::sim
