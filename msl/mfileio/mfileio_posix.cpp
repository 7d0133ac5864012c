// POSIX implementation of the file I/O library's system calls.
#include "msl/mfileio/mfileio_os.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mfileio_os {

namespace {

// Linux moves at most this much per read or write call; larger requests come back short.
constexpr std::uint64_t kMaxIo = 0x7ffff000;

int ToFd(Handle handle) {
    return static_cast<int>(handle);
}

// The process's file creation mask, read without changing it (umask() would, racing with
// other threads).
mode_t CurrentUmask() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(status);
    }
    return mask;
}

} // namespace

int LastError() {
    return errno;
}

void SetLastError(int code) {
    errno = code;
}

std::string ErrorText(int code) {
    char text[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    return strerror_r(code, text, sizeof text);
}

std::string ErrorName(int code) {
    const char* name = strerrorname_np(code);
    return name != nullptr ? name : "";
}

bool IsSeparator(char c) {
    return c == '/';
}
char Separator() {
    return '/';
}

Handle OpenRead(const char* name) {
    int fd;
    do {
        fd = ::open(name, O_RDONLY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return kInvalidHandle;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return kInvalidHandle;
    }
    return fd;
}

Handle OpenWrite(const char* name, Creation creation, bool writeThrough) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    switch (creation) {
    case Creation::CreateNew:
        flags |= O_EXCL;
        break;
    case Creation::OpenAppend:
        flags |= O_APPEND;
        break;
    case Creation::CreateAlways:
        flags |= O_TRUNC;
        break;
    }
    if (writeThrough)
        flags |= O_DSYNC;
    int fd;
    do {
        fd = ::open(name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kInvalidHandle : fd;
}

Handle CreateTemp(const std::string& dir, const char* prefix, const char* modelName,
                  std::string& tempName) {
    static const char kSuffix[] = ".tmp";
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '/')
        pattern += '/';
    pattern += prefix;
    pattern += "XXXXXX";
    pattern += kSuffix;
    int fd = ::mkostemps(pattern.data(), sizeof kSuffix - 1, O_CLOEXEC);
    if (fd < 0)
        return kInvalidHandle;
    // Held until the handle closes (or the process dies): the file is in use.
    ::flock(fd, LOCK_EX);
    // mkstemp makes the file private (0600); give it the mode the saved file should have.
    struct stat st;
    mode_t mode = (::stat(modelName, &st) == 0 && S_ISREG(st.st_mode)) ? (st.st_mode & 07777)
                                                                       : (0666 & ~CurrentUmask());
    if (::fchmod(fd, mode) != 0) {
        int error = errno;
        ::close(fd);
        ::unlink(pattern.c_str());
        errno = error;
        return kInvalidHandle;
    }
    tempName = std::move(pattern);
    return fd;
}

bool Close(Handle handle) {
    // A close interrupted by a signal has still released the descriptor on Linux: no retry.
    return ::close(ToFd(handle)) == 0;
}

std::int64_t ReadSome(Handle handle, void* data, std::uint64_t size) {
    ssize_t n;
    do {
        n = ::read(ToFd(handle), data, size < kMaxIo ? size : kMaxIo);
    } while (n < 0 && errno == EINTR);
    return n;
}

std::int64_t WriteSome(Handle handle, const void* data, std::uint64_t size) {
    ssize_t n;
    do {
        n = ::write(ToFd(handle), data, size < kMaxIo ? size : kMaxIo);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool Sync(Handle handle) {
    return ::fsync(ToFd(handle)) == 0;
}

bool SyncDirectory(const std::string& dir) {
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

bool Rename(const char* from, const char* to) {
    return ::rename(from, to) == 0;
}

bool Remove(const char* name) {
    return ::unlink(name) == 0;
}

bool Stat(const char* name, FileInfo& info) {
    struct stat st;
    if (::stat(name, &st) != 0)
        return false;
    info.isDirectory = S_ISDIR(st.st_mode);
    info.isRegular = S_ISREG(st.st_mode);
    const char* slash = std::strrchr(name, '/');
    const char* base = slash != nullptr ? slash + 1 : name;
    bool dotName = base[0] == '.' && std::strcmp(base, ".") != 0 && std::strcmp(base, "..") != 0;
    info.isHidden = dotName || (!info.isDirectory && !info.isRegular);
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.permissions = st.st_mode & 07777;
    return true;
}

bool IsReadable(const char* name) {
    return ::access(name, R_OK) == 0;
}

bool MakeDir(const char* name) {
    return ::mkdir(name, 0777) == 0;
}

bool RemoveUnlessOpen(const char* name) {
    int fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    // The writer's lock; a file whose writer died has none.
    bool removed = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(name) == 0;
    ::close(fd);
    return removed;
}

bool RemoveDir(const char* name) {
    return ::rmdir(name) == 0;
}

bool SetPermissions(const char* name, unsigned permissions) {
    return ::chmod(name, static_cast<mode_t>(permissions)) == 0;
}

bool FullPath(const char* name, std::string& out) {
    char* resolved = ::realpath(name, nullptr);
    if (resolved == nullptr)
        return false;
    out = resolved;
    std::free(resolved);
    return true;
}

bool CurrentDir(std::string& out) {
    char* dir = ::getcwd(nullptr, 0);
    if (dir == nullptr)
        return false;
    out = dir;
    std::free(dir);
    return true;
}

DirSearch::~DirSearch() {
    if (dir != nullptr)
        ::closedir(static_cast<DIR*>(dir));
}

bool DirSearch::Open(const std::string& name) {
    if (dir != nullptr)
        ::closedir(static_cast<DIR*>(dir));
    endError = 0;
    path = name;
    dir = ::opendir(name.c_str());
    return dir != nullptr;
}

bool DirSearch::Next(std::string& name, bool& isDirectory) {
    if (dir == nullptr) {
        endError = EBADF;
        return false;
    }
    for (;;) {
        errno = 0;
        struct dirent* entry = ::readdir(static_cast<DIR*>(dir));
        if (entry == nullptr) {
            endError = errno;
            return false;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        name = entry->d_name;
        if (entry->d_type != DT_UNKNOWN) {
            isDirectory = entry->d_type == DT_DIR;
            return true;
        }
        // Some file systems do not fill in the type.
        struct stat st;
        std::string full = path + "/" + name;
        isDirectory = ::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        return true;
    }
}

} // namespace mfileio_os
