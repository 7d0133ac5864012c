#include "host/lintelhost/hostplatform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace {

int scratchLog = -1;
int directoryLock = -1;

} // namespace

void HostPlatform_IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

std::string HostPlatform_ProgramFolder() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

void HostPlatform_NameThisThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

void HostPlatform_SetEnvironment(const char* name, const std::string& value) {
    setenv(name, value.c_str(), 1);
}

std::string HostPlatform_ScratchLog(const std::string&) {
    // In memory: a full disk must not silence the log that would say so.
    scratchLog = memfd_create("lintelhost-errlog", MFD_CLOEXEC);
    if (scratchLog < 0)
        return std::string();
    return "/proc/self/fd/" + std::to_string(scratchLog);
}

void HostPlatform_TrimScratchLog(uint64_t bytes) {
    // Offsets stay: the writer appends, the reader reads on where it was.
    if (scratchLog >= 0)
        fallocate(scratchLog, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, off_t(bytes));
}

bool HostPlatform_LockDirectory(const std::string& directory, std::string& error) {
    const std::string path = directory + "/lintelhost.lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    // Held until the process ends, whichever way it ends.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno;
        char holder[32] = "";
        const ssize_t got = pread(fd, holder, sizeof holder - 1, 0);
        holder[got > 0 ? got : 0] = '\0';
        holder[std::strcspn(holder, "\n")] = '\0';
        error = cause == EWOULDBLOCK
                    ? directory + " is in use by another lintelhost" +
                          (holder[0] != '\0' ? std::string(" (process ") + holder + ")" : "") +
                          "; give each host a directory of its own"
                    : "cannot lock " + path + ": " + std::strerror(cause);
        close(fd);
        return false;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds all the same; only the message of a second host is poorer.
    }
    directoryLock = fd;
    return true;
}
