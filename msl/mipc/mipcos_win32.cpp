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

int MapObject(Handle handle, size_t /*size*/, void** address) {
    // The whole mapping: a size beyond the mapping's own (the page-rounded size that
    // ObjectSize tells) would be refused.
    void* view = MapViewOfFile(ToHandle(handle), FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr)
        return Error();
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
