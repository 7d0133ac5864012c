#pragma once
// Which processes map which shared-memory segment, from /proc/*/maps. POSIX segment names
// outlive the processes that made them, so a crashed server leaves its segments behind; a
// segment that no process maps any more is stale.

#include <map>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct ShmMapper {
    pid_t pid = 0;
    std::string command; // /proc/PID/comm, blanks and commas made '_'
};

class ShmMappers {
public:
    // Reads the maps of every process but this one. Processes whose maps may not be read
    // (another user's, without root) are counted in Unreadable().
    void Scan();

    // The processes mapping the object (device and inode as fstat gives them), by pid.
    std::vector<ShmMapper> Of(dev_t device, ino_t inode) const;
    int Unreadable() const { return unreadable; }

private:
    std::map<std::pair<dev_t, ino_t>, std::map<pid_t, std::string>> mappers;
    int unreadable = 0;
};

// "1234/lintelhost,5678/vyxdemo", or "none".
std::string ShmMappers_Text(const std::vector<ShmMapper>& list);
