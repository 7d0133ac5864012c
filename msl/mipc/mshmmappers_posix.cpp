#include "msl/mipc/mshmmappers.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The shared-memory mappings of one process, from its /proc/PID/maps; false when that cannot
// be read.
bool ScanProcess(const std::string& pid,
                 const std::function<void(long, const MShmSegmentId&)>& visit) {
    FILE* maps = std::fopen(("/proc/" + pid + "/maps").c_str(), "re");
    if (maps == nullptr)
        return false;
    const long number = std::stol(pid);
    char line[4096 + 256];
    while (std::fgets(line, sizeof line, maps) != nullptr) {
        // "start-end perms offset major:minor inode   path"
        if (std::strstr(line, " /dev/shm/") == nullptr)
            continue;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(line, "%*s %*s %*s %x:%x %lu", &major, &minor, &inode) == 3)
            visit(number, {static_cast<uint64_t>(makedev(major, minor)), inode});
    }
    std::fclose(maps);
    return true;
}

} // namespace

bool MShmMappers_Scan(bool includeSelf,
                      const std::function<void(long, const MShmSegmentId&)>& visit, int* unreadable,
                      std::string* why) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        *why = std::string("cannot read /proc: ") + std::strerror(errno);
        return false;
    }
    const std::string self = std::to_string(getpid());
    while (dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ||
            (pid == self && !includeSelf))
            continue;
        // A process gone meanwhile maps nothing; one not ours to read is counted.
        errno = 0;
        if (!ScanProcess(pid, visit) && (errno == EACCES || errno == EPERM))
            ++*unreadable;
    }
    closedir(proc);
    return true;
}

std::string MShmMappers_Command(long pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
    std::string command;
    std::getline(file, command);
    for (char& c : command)
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',')
            c = '_';
    return command.empty() ? "?" : command;
}
