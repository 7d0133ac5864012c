#include "clients/c/vyxfifomap.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxfifo_os {

int MapSegment(const char* name, void** address, size_t* size, const char** what) {
    const std::string object = std::string("/") + name;
    const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        *what = "cannot open";
        return errno;
    }
    struct stat info {};
    int error = 0;
    if (fstat(fd, &info) != 0) {
        *what = "cannot tell the size of";
        error = errno;
    } else if (info.st_size <= 0) {
        *what = "cannot map the empty segment";
        error = EINVAL;
    } else {
        // MAP_POPULATE: the pages are in place before the first image is read.
        void* mapped = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_POPULATE, fd, 0);
        if (mapped == MAP_FAILED) {
            *what = "cannot map";
            error = errno;
        } else {
            *address = mapped;
            *size = static_cast<size_t>(info.st_size);
        }
    }
    close(fd);
    return error;
}

void UnmapSegment(void* address, size_t size) {
    munmap(address, size);
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

} // namespace vyxfifo_os
