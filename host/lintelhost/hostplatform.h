#pragma once
// What lintelhost needs of the operating system beyond Asio (hostplatform_posix.cpp,
// hostplatform_win32.cpp).

#include <cstdint>
#include <string>

// A client that goes away while the host writes must not end the host.
void HostPlatform_IgnoreBrokenPipes();

// The folder of the running program, without a trailing separator; empty when unknown.
std::string HostPlatform_ProgramFolder();

// Names the calling thread, so that tests and operators can tell it from the machine's own.
void HostPlatform_NameThisThread(const char* name);

// Sets a variable of this process's environment, where the loaded module sees it too.
void HostPlatform_SetEnvironment(const char* name, const std::string& value);

// A file for the machine's error log that the host reads back, as a path the module can open
// for appending: in memory where the system offers that, else in the host's directory. Empty
// when there is none.
std::string HostPlatform_ScratchLog(const std::string& hostDirectory);
// Gives back the memory of the scratch log's first `bytes` bytes, which have been read.
void HostPlatform_TrimScratchLog(uint64_t bytes);

// An exclusive lock on a directory for the life of the process, so that two hosts cannot share
// one set of databases and FIFOs. False with the reason (and the holder, where known) in
// `error`.
bool HostPlatform_LockDirectory(const std::string& directory, std::string& error);
