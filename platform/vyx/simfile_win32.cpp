// File operations of the simulated camera on Windows.

#include "platform/vyx/simfile.h"
#include "platform/vyx/simflash.h"

#include <string>
#include <windows.h>

namespace Vyx::sim {

namespace {

std::string SystemText(DWORD code) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.'))
        text[--n] = '\0';
    return n > 0 ? std::string(text) : "system error " + std::to_string(code);
}

} // namespace

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    size_t slash = path.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char temporary[MAX_PATH];
    if (GetTempFileNameA(folder.c_str(), "vyx", 0, temporary) == 0) {
        error = "cannot create a temporary file beside " + path + ": " + SystemText(GetLastError());
        return false;
    }
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = std::string("cannot open ") + temporary + ": " + SystemText(GetLastError());
        DeleteFileA(temporary);
        return false;
    }
    const char* data = text.data();
    size_t left = text.size();
    bool ok = true;
    while (ok && left > 0) {
        DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        ok = WriteFile(file, data, chunk, &written, nullptr) && written > 0;
        data += written;
        left -= written;
    }
    ok = ok && FlushFileBuffers(file);
    DWORD failure = ok ? 0 : GetLastError();
    if (!CloseHandle(file) && ok) {
        ok = false;
        failure = GetLastError();
    }
    if (!ok) {
        error = std::string("cannot save ") + temporary + ": " + SystemText(failure);
        DeleteFileA(temporary);
        return false;
    }
    // Write-through: the rename itself is on the disk when the call returns.
    if (!MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = std::string("cannot rename ") + temporary + " to " + path + ": " +
                SystemText(GetLastError());
        DeleteFileA(temporary);
        return false;
    }
    return true;
}

bool TakeFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

} // namespace Vyx::sim
