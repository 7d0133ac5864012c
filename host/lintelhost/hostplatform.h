#pragma once
// What lintelhost needs of the operating system beyond Asio (hostplatform_posix.cpp,
// hostplatform_win32.cpp).

#include <string>

// A client that goes away while the host writes must not end the host.
void HostPlatform_IgnoreBrokenPipes();

// The folder of the running program, without a trailing separator; empty when unknown.
std::string HostPlatform_ProgramFolder();

// Names the calling thread, so that tests and operators can tell it from the machine's own.
void HostPlatform_NameThisThread(const char* name);
