#include "tests/support/rawsegment.h"

#include "tests/support/testsupport.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace vyx::test {

#if defined(_WIN32)

RawSegment::RawSegment(const std::string& prefix, size_t size)
    : name(UniqueName(prefix)), size(size) {
    HANDLE made = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     static_cast<DWORD>(size), name.c_str());
    if (made == nullptr)
        return;
    mapping = made;
    bytes = static_cast<uint8_t*>(MapViewOfFile(made, FILE_MAP_ALL_ACCESS, 0, 0, size));
}

RawSegment::~RawSegment() {
    if (bytes != nullptr)
        UnmapViewOfFile(bytes);
    if (mapping != nullptr)
        CloseHandle(mapping);
}

bool SegmentExists(const std::string& name) {
    HANDLE found = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (found != nullptr)
        CloseHandle(found);
    return found != nullptr;
}

#else

RawSegment::RawSegment(const std::string& prefix, size_t size)
    : name(UniqueName(prefix)), size(size) {
    int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0) {
        void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        bytes = view == MAP_FAILED ? nullptr : static_cast<uint8_t*>(view);
    }
    if (fd >= 0)
        close(fd);
}

RawSegment::~RawSegment() {
    if (bytes != nullptr)
        munmap(bytes, size);
    shm_unlink(("/" + name).c_str());
}

bool SegmentExists(const std::string& name) {
    return PathExists("/dev/shm/" + name);
}

#endif

} // namespace vyx::test
