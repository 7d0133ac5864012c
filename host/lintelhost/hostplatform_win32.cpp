#include "host/lintelhost/hostplatform.h"

#include "msl/mfileio/mfileio_os.h"

#include <windows.h>

#include <cstdlib>

namespace {

HANDLE directoryLock = INVALID_HANDLE_VALUE;

} // namespace

void HostPlatform_IgnoreBrokenPipes() {
    // Windows has no such signal: a send to a closed connection fails with an error code.
}

std::string HostPlatform_ProgramFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return std::string();
    std::string folder(path, length);
    size_t separator = folder.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : folder.substr(0, separator);
}

void HostPlatform_NameThisThread(const char* name) {
    // Looked up: older Windows (and MinGW's headers) lack it, and a name only helps debuggers.
    using Describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    auto describe = reinterpret_cast<Describe>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
    wchar_t wide[64];
    if (describe != nullptr && MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 64) > 0)
        describe(GetCurrentThread(), wide);
}

void HostPlatform_SetEnvironment(const char* name, const std::string& value) {
    // Both the C run-time's copy, which getenv reads, and the process's own.
    _putenv_s(name, value.c_str());
    SetEnvironmentVariableA(name, value.c_str());
}

std::string HostPlatform_ScratchLog(const std::string& hostDirectory) {
    // Windows has no file in memory that the C run-time opens by name: the log is a plain
    // file in the host's directory, which the host reads and keeps.
    return hostDirectory + "\\errlog.txt";
}

void HostPlatform_TrimScratchLog(uint64_t) {}

bool HostPlatform_LockDirectory(const std::string& directory, std::string& error) {
    const std::string path = directory + "\\lintelhost.lock";
    // No sharing: a second host's open fails while this handle lives, and the system closes
    // it when the process ends, whichever way.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD cause = GetLastError();
        error = cause == ERROR_SHARING_VIOLATION
                    ? directory + " is in use by another lintelhost; give each host a "
                                  "directory of its own"
                    : "cannot lock " + path + ": " +
                          mfileio_os::ErrorText(static_cast<int>(cause));
        return false;
    }
    directoryLock = file;
    return true;
}
