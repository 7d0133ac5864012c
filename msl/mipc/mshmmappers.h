#pragma once
// Which processes map which shared-memory segments. A segment's name outlives the processes
// that made it, so a crashed server leaves its segments behind; one that no process maps any
// more is stale. Linux tells from /proc/PID/maps, by the segment's device and inode (a process
// that still maps an older segment of the same name does not count); Windows does not tell.

#include <cstdint>
#include <functional>
#include <string>

struct MShmSegmentId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator<(const MShmSegmentId& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
    bool operator==(const MShmSegmentId& other) const {
        return device == other.device && inode == other.inode;
    }
};

// Calls `visit` for every shared-memory mapping of every process (this one too when
// `includeSelf`). Processes whose mappings may not be read (another user's, without root)
// are counted in `*unreadable`. False, with the reason in `*why`, where the system does not
// tell.
bool MShmMappers_Scan(bool includeSelf,
                      const std::function<void(long, const MShmSegmentId&)>& visit, int* unreadable,
                      std::string* why);

// The command name of a process, blanks and commas made '_' so that it stays one word of a
// list; "?" when unknown.
std::string MShmMappers_Command(long pid);
