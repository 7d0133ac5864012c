// A Windows segment is a named file mapping; the view spans all of it.
#include "clients/c/vyxfifomap.h"

#include <windows.h>

namespace vyxfifo_os {

int MapSegment(const char* name, void** address, size_t* size, const char** what) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (mapping == nullptr) {
        *what = "cannot open";
        return static_cast<int>(GetLastError());
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    const DWORD error = view == nullptr ? GetLastError() : 0;
    // The view keeps the mapping alive.
    CloseHandle(mapping);
    if (view == nullptr) {
        *what = "cannot map";
        return static_cast<int>(error);
    }
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(view, &region, sizeof region) != sizeof region) {
        const DWORD queryError = GetLastError();
        UnmapViewOfFile(view);
        *what = "cannot tell the size of";
        return static_cast<int>(queryError);
    }
    // One read per page faults the view in now rather than during the first images.
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const volatile unsigned char* bytes = static_cast<const unsigned char*>(view);
    for (size_t at = 0; at < region.RegionSize; at += system.dwPageSize)
        (void)bytes[at];
    *address = view;
    *size = region.RegionSize;
    return 0;
}

void UnmapSegment(void* address, size_t) {
    UnmapViewOfFile(address);
}

std::string ErrorText(int error) {
    char text[256] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr) == 0)
        return "system error " + std::to_string(error);
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

} // namespace vyxfifo_os
