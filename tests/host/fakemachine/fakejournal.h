#pragma once
// What the fake machine did, one line per event, appended to "fakemachine.log" in the host's
// directory, so that the host tests can check calls that leave no trace in the protocol
// (Close, the deletion of the machine, the unloading of the module, released blocks).

#include <string>

void FakeJournal_SetDirectory(const std::string& directory);
void FakeJournal_Write(const char* format, ...) __attribute__((format(printf, 1, 2)));
