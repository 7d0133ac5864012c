#include "host/vyxshm/shmsegment.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

ShmSegment::~ShmSegment() {
    if (base != nullptr)
        munmap(base, size);
}

int ShmSegment::Open(const std::string& name, bool writable) {
    int fd = shm_open(("/" + name).c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    struct stat info {};
    int error = fstat(fd, &info) == 0 ? 0 : errno;
    if (error == 0) {
        device = info.st_dev;
        inode = info.st_ino;
    }
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

bool ShmSegment_IsValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string ShmSegment_Name(const std::string& typed) {
    return !typed.empty() && typed[0] == '/' ? typed.substr(1) : typed;
}

bool ShmSegment_ListNames(std::vector<std::string>& names) {
    DIR* folder = opendir("/dev/shm");
    if (folder == nullptr)
        return false;
    while (dirent* entry = readdir(folder))
        if (entry->d_name[0] != '.' && (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN))
            names.push_back(entry->d_name);
    closedir(folder);
    std::sort(names.begin(), names.end());
    return true;
}
