#pragma once
// The camera machine's configuration directory: every camera gets a folder of its own below
// the machine's directory, and a new folder is seeded from the files of an older installation
// so that a camera moved to a new machine keeps its probes.

#include <string>

// True when `path` exists or could be created with its missing parents; a new folder is then
// seeded from `path`/../../../machines/Pellorscope and from `path`/../../../.., the folder of
// the host's folder and of the other installations beside it (a seeding failure is reported
// in the error trace but does not fail the creation).
bool create_config_dir(const std::string& path);

// Seeds `newDir` (just created, empty) from the first subdirectory X of `oldDir` that has a
// folder X/camera: that folder's files (not its subdirectories) are copied. When `oldDir` has
// more than one subdirectory, those whose name ends in "0000_08" (or in that and one more
// character) are passed over. Nothing to copy is a success.
bool copy_old_config_dir(const std::string& newDir, const std::string& oldDir);
