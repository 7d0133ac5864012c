#include "msl/mutil/mmodule.h"

#include <windows.h>

namespace {

std::string SystemText(DWORD code) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.'))
        text[--n] = '\0';
    return (n > 0 ? std::string(text, n) + " " : std::string()) + "(" + std::to_string(code) + ")";
}

} // namespace

MModule::~MModule() {
    Unload();
}

void MModule::Unload() {
    if (handle != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle));
    handle = nullptr;
}

bool MModule::Load(const std::string& path) {
    Unload();
    // The DLLs the module imports are looked for beside it first, as for a program.
    handle = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle == nullptr) {
        error = SystemText(GetLastError());
        return false;
    }
    return true;
}

void (*MModule::FindSymbol(const char* name))() {
    if (handle == nullptr) {
        error = "no module loaded";
        return nullptr;
    }
    FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle), name);
    if (symbol == nullptr) {
        error = std::string("no symbol ") + name + ": " + SystemText(GetLastError());
        return nullptr;
    }
    return reinterpret_cast<void (*)()>(symbol);
}
