#include "host/vyxshm/shmmappers.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const char kShmFolder[] = "/dev/shm/";

std::string CommandOf(const std::string& pid) {
    std::ifstream file("/proc/" + pid + "/comm");
    std::string command;
    std::getline(file, command);
    for (char& c : command)
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',')
            c = '_';
    return command.empty() ? "?" : command;
}

} // namespace

void ShmMappers::Scan() {
    mappers.clear();
    unreadable = 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return;
    const pid_t self = getpid();
    while (dirent* entry = readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == self)
            continue;
        FILE* maps = std::fopen(("/proc/" + name + "/maps").c_str(), "re");
        if (maps == nullptr) {
            if (errno == EACCES || errno == EPERM)
                ++unreadable;
            continue; // gone meanwhile, or not ours to read
        }
        std::string command;
        char line[4096 + 256];
        while (std::fgets(line, sizeof line, maps) != nullptr) {
            // "start-end perms offset major:minor inode   path"
            if (std::strstr(line, kShmFolder) == nullptr)
                continue;
            unsigned major = 0, minor = 0;
            unsigned long inode = 0;
            if (std::sscanf(line, "%*s %*s %*s %x:%x %lu", &major, &minor, &inode) != 3)
                continue;
            if (command.empty())
                command = CommandOf(name);
            mappers[{makedev(major, minor), static_cast<ino_t>(inode)}][pid] = command;
        }
        std::fclose(maps);
    }
    closedir(proc);
}

std::vector<ShmMapper> ShmMappers::Of(dev_t device, ino_t inode) const {
    std::vector<ShmMapper> list;
    auto found = mappers.find({device, inode});
    if (found != mappers.end())
        for (const auto& [pid, command] : found->second)
            list.push_back({pid, command});
    return list;
}

std::string ShmMappers_Text(const std::vector<ShmMapper>& list) {
    if (list.empty())
        return "none";
    std::string text;
    for (const ShmMapper& mapper : list) {
        if (!text.empty())
            text += ',';
        text.append(std::to_string(mapper.pid)).append("/").append(mapper.command);
    }
    return text;
}
