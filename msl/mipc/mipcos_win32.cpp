// Windows named file mappings backed by the paging file. Unlike POSIX objects they go with the
// last handle of the last process, so there is never a name to remove.
#include "msl/mipc/mipcos.h"

#include <cstring>
#include <windows.h>

namespace msl::ipcos {

namespace {

constexpr size_t kMaxName = 200;

int Error() {
    DWORD code = GetLastError();
    return code != 0 ? static_cast<int>(code) : ERROR_GEN_FAILURE;
}

HANDLE ToHandle(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The kernel's own namespaces: "Global\name" is seen from every session, "Local\name" (the
// default) from this one only.
bool HasNamespacePrefix(const char* name) {
    return std::strncmp(name, "Global\\", 7) == 0 || std::strncmp(name, "Local\\", 6) == 0;
}

} // namespace

const char* NameProblem(const char* name) {
    if (std::strlen(name) > kMaxName)
        return "longer than 200 bytes";
    // '/' is refused as on POSIX systems, so that a name means the same on both.
    if (std::strchr(name, '/') != nullptr)
        return "contains '/'";
    const char* rest = HasNamespacePrefix(name) ? std::strchr(name, '\\') + 1 : name;
    if (std::strchr(rest, '\\') != nullptr)
        return "contains '\\'";
    return nullptr;
}

int CreateObject(const char* name, size_t size, Handle* handle) {
    // A section backed by the paging file is committed whole when it is made: lack of memory
    // is an error here, never a fault later.
    const auto size64 = static_cast<unsigned long long>(size);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                        static_cast<DWORD>(size64 >> 32),
                                        static_cast<DWORD>(size64 & 0xFFFFFFFFu), name);
    if (mapping == nullptr)
        return Error();
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping);
        return ERROR_ALREADY_EXISTS;
    }
    *handle = reinterpret_cast<Handle>(mapping);
    return 0;
}

int OpenObject(const char* name, Handle* handle) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (mapping == nullptr)
        return Error();
    *handle = reinterpret_cast<Handle>(mapping);
    return 0;
}

int ObjectUsers(Handle, std::string* users) {
    // A Windows name goes with the last handle: a section that can be opened is in use.
    *users = "another process (Windows does not tell which)";
    return 0;
}

int RemoveStaleName(const char*, Handle) {
    return 0;
}

int ObjectSize(Handle handle, size_t* size) {
    // A mapping tells its size only through a view: the size of the region that the view
    // spans, a multiple of the page size.
    void* view = MapViewOfFile(ToHandle(handle), FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr)
        return Error();
    MEMORY_BASIC_INFORMATION region{};
    int error = VirtualQuery(view, &region, sizeof region) == sizeof region ? 0 : Error();
    UnmapViewOfFile(view);
    if (error == 0)
        *size = region.RegionSize;
    return error;
}

int MapObject(Handle handle, size_t size, bool populate, void** address) {
    // The whole mapping: a size beyond the mapping's own (the page-rounded size that
    // ObjectSize tells) would be refused.
    void* view = MapViewOfFile(ToHandle(handle), FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr)
        return Error();
    if (populate) {
        // One read per page maps it in, as MAP_POPULATE does.
        SYSTEM_INFO system{};
        GetSystemInfo(&system);
        const volatile uint8_t* bytes = static_cast<const volatile uint8_t*>(view);
        for (size_t at = 0; at < size; at += system.dwPageSize)
            (void)bytes[at];
    }
    *address = view;
    return 0;
}

int UnmapObject(void* address, size_t /*size*/) {
    return UnmapViewOfFile(address) ? 0 : Error();
}

int CloseObject(Handle handle) {
    return CloseHandle(ToHandle(handle)) ? 0 : Error();
}

int RemoveName(const char* /*name*/) {
    return 0;
}

bool AlreadyExists(int error) {
    return error == ERROR_ALREADY_EXISTS;
}

bool NotFound(int error) {
    return error == ERROR_FILE_NOT_FOUND;
}

bool NoSpace(int error) {
    return error == ERROR_COMMITMENT_LIMIT || error == ERROR_NOT_ENOUGH_MEMORY ||
           error == ERROR_DISK_FULL;
}

int AlreadyExistsError() {
    return ERROR_ALREADY_EXISTS;
}

int InvalidObjectError() {
    // What the system answers when a name belongs to an object of another kind.
    return ERROR_INVALID_HANDLE;
}

int64_t MonotonicNs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const int64_t ticks = now.QuadPart, perSecond = frequency.QuadPart;
    return ticks / perSecond * 1000000000 + ticks % perSecond * 1000000000 / perSecond;
}

} // namespace msl::ipcos
