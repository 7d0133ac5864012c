// vyxshm's system calls on Windows: named file mappings, listed from the session's object
// directory (\Sessions\<n>\BaseNamedObjects, where "Local\" names live).
#include "host/vyxshm/vyxshmos.h"

#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winternl.h>

// The object directory calls of ntdll, which the SDK headers leave out.
extern "C" {
NTSTATUS NTAPI NtOpenDirectoryObject(PHANDLE directory, ACCESS_MASK access,
                                     POBJECT_ATTRIBUTES attributes);
NTSTATUS NTAPI NtQueryDirectoryObject(HANDLE directory, PVOID buffer, ULONG length, BOOLEAN single,
                                      BOOLEAN restart, PULONG context, PULONG returned);
}

namespace vyxshm_os {

namespace {

constexpr ACCESS_MASK kDirectoryQuery = 0x0001;
constexpr NTSTATUS kNoMoreEntries = static_cast<NTSTATUS>(0x8000001A);

struct DirectoryEntry {
    UNICODE_STRING name;
    UNICODE_STRING type;
};

std::string Narrow(const UNICODE_STRING& text) {
    int length = static_cast<int>(text.Length / sizeof(wchar_t));
    int size = WideCharToMultiByte(CP_ACP, 0, text.Buffer, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.Buffer, length, out.data(), size, nullptr, nullptr);
    return out;
}

bool IsSection(const UNICODE_STRING& type) {
    return type.Length == 7 * sizeof(wchar_t) && std::wcsncmp(type.Buffer, L"Section", 7) == 0;
}

int Error() {
    DWORD code = GetLastError();
    return code != 0 ? static_cast<int>(code) : ERROR_GEN_FAILURE;
}

} // namespace

Mapping::~Mapping() {
    if (base != nullptr)
        UnmapViewOfFile(base);
    if (handle != nullptr)
        CloseHandle(handle);
}

int Mapping::Open(const std::string& name, bool writable, bool populate) {
    DWORD access = writable ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ;
    handle = OpenFileMappingA(access, FALSE, name.c_str());
    if (handle == nullptr)
        return Error();
    void* view = MapViewOfFile(handle, access, 0, 0, 0);
    if (view == nullptr)
        return Error();
    // The size of a mapping shows only as the size of the region its view spans.
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(view, &region, sizeof region) != sizeof region) {
        int error = Error();
        UnmapViewOfFile(view);
        return error;
    }
    base = static_cast<uint8_t*>(view);
    size = region.RegionSize;
    if (populate) {
        // One read per page maps the view in, as MAP_POPULATE does on Linux.
        SYSTEM_INFO system{};
        GetSystemInfo(&system);
        for (size_t at = 0; at < size; at += system.dwPageSize)
            (void)static_cast<const volatile uint8_t*>(base)[at];
    }
    return 0;
}

int Stat(const std::string& name, uint64_t* size, SegmentId* id) {
    Mapping mapping;
    if (int error = mapping.Open(name, false))
        return error;
    *size = mapping.size;
    *id = mapping.id;
    return 0;
}

bool NotFound(int error) {
    return error == ERROR_FILE_NOT_FOUND;
}

std::string ErrorText(int error) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.'))
        text[--n] = '\0';
    return n > 0 ? std::string(text, n) : "system error " + std::to_string(error);
}

bool ListNames(std::vector<std::string>& names, std::string& error) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    wchar_t path[64];
    std::swprintf(path, 64, L"\\Sessions\\%lu\\BaseNamedObjects", session);
    UNICODE_STRING directoryName;
    RtlInitUnicodeString(&directoryName, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &directoryName, 0, nullptr, nullptr);
    HANDLE directory = nullptr;
    NTSTATUS status = NtOpenDirectoryObject(&directory, kDirectoryQuery, &attributes);
    if (status != 0) {
        char text[96];
        std::snprintf(text, sizeof text, "cannot open %ls: status 0x%08lx", path,
                      static_cast<unsigned long>(status));
        error = text;
        return false;
    }
    alignas(8) unsigned char buffer[4096];
    ULONG context = 0;
    for (bool first = true;; first = false) {
        ULONG returned = 0;
        status = NtQueryDirectoryObject(directory, buffer, sizeof buffer, TRUE, first, &context,
                                        &returned);
        if (status != 0)
            break;
        const auto* entry = reinterpret_cast<const DirectoryEntry*>(buffer);
        if (IsSection(entry->type))
            names.push_back(Narrow(entry->name));
    }
    CloseHandle(directory);
    if (status != kNoMoreEntries) {
        char text[96];
        std::snprintf(text, sizeof text, "cannot list %ls: status 0x%08lx", path,
                      static_cast<unsigned long>(status));
        error = text;
        return false;
    }
    return true;
}

bool ScanMappers(MapperTable&, int&, std::string& error) {
    error = "the processes that map a segment are not known on Windows";
    return false;
}

bool CanRemoveNames(std::string& why) {
    why = "Windows has no removable segment names: a segment goes away with the last process "
          "that has it open";
    return false;
}

int RemoveName(const std::string&) {
    return ERROR_NOT_SUPPORTED;
}

int SaveFile(const std::string& path, const uint8_t* bytes, size_t count) {
    size_t slash = path.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char temporary[MAX_PATH];
    if (GetTempFileNameA(folder.c_str(), "shm", 0, temporary) == 0)
        return Error();
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    int error = 0;
    if (file == INVALID_HANDLE_VALUE) {
        error = Error();
    } else {
        while (error == 0 && count > 0) {
            DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
            DWORD written = 0;
            if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0)
                error = Error();
            bytes += written;
            count -= written;
        }
        if (error == 0 && !FlushFileBuffers(file))
            error = Error();
        if (!CloseHandle(file) && error == 0)
            error = Error();
    }
    if (error == 0 &&
        !MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = Error();
    if (error != 0)
        DeleteFileA(temporary);
    return error;
}

void SetBinaryStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

} // namespace vyxshm_os
