#include "host/lintelhost/hostplatform.h"

#include <windows.h>

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
