#include "msl/mipc/mipcos.h"

#include "msl/mipc/mshmmappers.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace msl::ipcos {

namespace {

// POSIX object names carry a leading slash; ours never do.
constexpr size_t kMaxName = 200;

struct ObjectName {
    explicit ObjectName(const char* name) {
        text[0] = '/';
        std::strncpy(text + 1, name, kMaxName);
        text[kMaxName + 1] = '\0';
    }
    char text[kMaxName + 2];
};

int Error() {
    return errno != 0 ? errno : EIO;
}

MShmSegmentId IdOf(const struct stat& info) {
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

} // namespace

const char* NameProblem(const char* name) {
    if (std::strlen(name) > kMaxName)
        return "longer than 200 bytes";
    if (std::strchr(name, '/') != nullptr)
        return "contains '/'";
    return nullptr;
}

int CreateObject(const char* name, size_t size, Handle* handle) {
    ObjectName object(name);
    int fd = shm_open(object.text, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return Error();
    int error = flock(fd, LOCK_SH) == 0 ? 0 : Error();
    if (error == 0 && ftruncate(fd, static_cast<off_t>(size)) != 0)
        error = Error();
    // tmpfs hands out pages on first touch; a full /dev/shm would then kill the writer with
    // SIGBUS. posix_fallocate returns its error instead of setting errno.
    if (error == 0)
        error = posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (error != 0) {
        close(fd);
        shm_unlink(object.text);
        return error;
    }
    *handle = fd;
    return 0;
}

int ObjectUsers(Handle handle, std::string* users) {
    users->clear();
    const int fd = static_cast<int>(handle);
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return Error();
    // The creator's lock: held from creation on, also before its first mapping.
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!locked)
        flock(fd, LOCK_UN);
    const MShmSegmentId id = IdOf(info);
    long last = 0;
    int unreadable = 0;
    std::string why;
    MShmMappers_Scan(
        true,
        [&](long pid, const MShmSegmentId& mapped) {
            if (mapped == id && pid != last) {
                users->append(users->empty() ? "" : ",")
                    .append(std::to_string(pid))
                    .append("/")
                    .append(MShmMappers_Command(pid));
                last = pid;
            }
        },
        &unreadable, &why);
    // Processes of other users whose maps we may not read cannot map it either: segments are
    // made private to their user.
    if (users->empty() && locked)
        *users = "a process that holds it open";
    return 0;
}

int RemoveStaleName(const char* name, Handle handle) {
    ObjectName object(name);
    struct stat mine {
    }, named{};
    if (fstat(static_cast<int>(handle), &mine) != 0)
        return Error();
    // glibc's shm_open names objects in /dev/shm.
    const std::string path = std::string("/dev/shm") + object.text;
    if (stat(path.c_str(), &named) != 0)
        return NotFound(errno) ? 0 : Error();
    if (!(IdOf(mine) == IdOf(named)))
        return 0; // someone made a new one meanwhile: CreateObject will tell
    return shm_unlink(object.text) == 0 || errno == ENOENT ? 0 : Error();
}

int OpenObject(const char* name, Handle* handle) {
    ObjectName object(name);
    int fd = shm_open(object.text, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0)
        return Error();
    *handle = fd;
    return 0;
}

int ObjectSize(Handle handle, size_t* size) {
    struct stat info {};
    if (fstat(static_cast<int>(handle), &info) != 0)
        return Error();
    *size = static_cast<size_t>(info.st_size);
    return 0;
}

int MapObject(Handle handle, size_t size, bool populate, void** address) {
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                        MAP_SHARED | (populate ? MAP_POPULATE : 0), static_cast<int>(handle), 0);
    if (mapped == MAP_FAILED)
        return Error();
    *address = mapped;
    return 0;
}

int UnmapObject(void* address, size_t size) {
    return munmap(address, size) == 0 ? 0 : Error();
}

int CloseObject(Handle handle) {
    return close(static_cast<int>(handle)) == 0 ? 0 : Error();
}

int RemoveName(const char* name) {
    ObjectName object(name);
    return shm_unlink(object.text) == 0 ? 0 : Error();
}

bool AlreadyExists(int error) {
    return error == EEXIST;
}

bool NotFound(int error) {
    return error == ENOENT;
}

bool NoSpace(int error) {
    return error == ENOSPC || error == ENOMEM;
}

int AlreadyExistsError() {
    return EEXIST;
}

int InvalidObjectError() {
    return EINVAL;
}

int WaitOnWord(uint32_t* word, uint32_t expected, int64_t timeoutNs) {
    timespec limit{};
    timespec* timeout = nullptr;
    if (timeoutNs >= 0) {
        limit.tv_sec = static_cast<time_t>(timeoutNs / 1000000000);
        limit.tv_nsec = static_cast<long>(timeoutNs % 1000000000);
        timeout = &limit;
    }
    // Not FUTEX_PRIVATE: the word lives in memory that other processes map.
    long result = syscall(SYS_futex, word, FUTEX_WAIT, expected, timeout, nullptr, 0);
    if (result == 0 || errno == EAGAIN)
        return 0;
    return Error();
}

int WakeAllOnWord(uint32_t* word) {
    long result = syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
    return result >= 0 ? 0 : Error();
}

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace msl::ipcos
