// vyxshm's system calls on Linux: POSIX shared memory, visible under /dev/shm.
#include "host/vyxshm/vyxshmos.h"

#include "msl/mipc/mshmmappers.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

const char kShmFolder[] = "/dev/shm/";

SegmentId IdOf(const struct stat& info) {
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

} // namespace

Mapping::~Mapping() {
    if (base != nullptr)
        munmap(base, size);
}

int Mapping::Open(const std::string& name, bool writable, bool populate) {
    int fd = shm_open(("/" + name).c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    struct stat info {};
    int error = fstat(fd, &info) == 0 ? 0 : errno;
    if (error == 0)
        id = IdOf(info);
    if (error == 0 && info.st_size > 0) {
        size = static_cast<size_t>(info.st_size);
        // Only pages that exist: faulting in the holes of a sparse segment would allocate them.
        const bool reserved = uint64_t(info.st_blocks) * 512 >= uint64_t(info.st_size);
        void* mapped = mmap(nullptr, size, PROT_READ | (writable ? PROT_WRITE : 0),
                            MAP_SHARED | (populate && reserved ? MAP_POPULATE : 0), fd, 0);
        if (mapped == MAP_FAILED)
            error = errno;
        else
            base = static_cast<uint8_t*>(mapped);
    }
    close(fd);
    return error;
}

int Stat(const std::string& name, uint64_t* size, SegmentId* id) {
    struct stat info {};
    if (stat((kShmFolder + name).c_str(), &info) != 0)
        return errno;
    *size = static_cast<uint64_t>(info.st_size);
    *id = IdOf(info);
    return 0;
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
        if (entry->d_name[0] != '.' && (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN))
            names.push_back(entry->d_name);
    closedir(folder);
    return true;
}

bool ScanMappers(MapperTable& mappers, int& unreadable, std::string& error) {
    std::map<long, std::string> commands;
    return MShmMappers_Scan(
        false,
        [&](long pid, const MShmSegmentId& id) {
            auto known = commands.find(pid);
            if (known == commands.end())
                known = commands.emplace(pid, MShmMappers_Command(pid)).first;
            mappers[{id.device, id.inode}][pid] = known->second;
        },
        &unreadable, &error);
}

bool CanRemoveNames(std::string&) {
    return true;
}

int RemoveName(const std::string& name) {
    return shm_unlink(("/" + name).c_str()) == 0 ? 0 : errno;
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
