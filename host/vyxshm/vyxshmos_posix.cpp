// vyxshm's system calls on Linux: POSIX shared memory, visible under /dev/shm.
#include "host/vyxshm/vyxshmos.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxshm_os {

namespace {

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

Mapping::~Mapping() {
    if (base != nullptr)
        munmap(base, size);
}

int Mapping::Open(const std::string& name, bool writable) {
    int fd = shm_open(("/" + name).c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    struct stat info {};
    int error = fstat(fd, &info) == 0 ? 0 : errno;
    if (error == 0 && info.st_size > 0) {
        size = static_cast<size_t>(info.st_size);
        void* mapped =
            mmap(nullptr, size, PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED, fd, 0);
        if (mapped == MAP_FAILED)
            error = errno;
        else
            base = static_cast<uint8_t*>(mapped);
    }
    close(fd);
    return error;
}

bool NotFound(int error) {
    return error == ENOENT;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

bool ListNames(std::vector<std::string>& names, std::string& error) {
    DIR* folder = opendir("/dev/shm");
    if (folder == nullptr) {
        error = "cannot read /dev/shm: " + ErrorText(errno);
        return false;
    }
    while (dirent* entry = readdir(folder))
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    closedir(folder);
    return true;
}

int SaveFile(const std::string& path, const uint8_t* bytes, size_t count) {
    std::string temporary = path + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0)
        return errno;
    int error = 0;
    if (!WriteAll(fd, bytes, count) || fsync(fd) != 0)
        error = errno != 0 ? errno : EIO;
    if (close(fd) != 0 && error == 0)
        error = errno;
    // mkstemp makes the file private; give it the mode a plain new file would have.
    mode_t mask = umask(0);
    umask(mask);
    if (error == 0 && chmod(temporary.c_str(), 0666 & ~mask) != 0)
        error = errno;
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(temporary.c_str());
    return error;
}

void SetBinaryStandardStreams() {}

} // namespace vyxshm_os
