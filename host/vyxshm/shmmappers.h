#pragma once
// Which processes map which shared-memory segment. POSIX segment names outlive the processes
// that made them, so a crashed server leaves its segments behind; a segment that no process
// maps any more is stale.

#include "host/vyxshm/vyxshmos.h"

#include <string>
#include <vector>

struct ShmMapper {
    long pid = 0;
    std::string command;
};

class ShmMappers {
public:
    // Reads the mappings of every process but this one. Processes whose mappings may not be
    // read are counted in Unreadable(); where the system does not tell at all, Known() is
    // false and Note() says why.
    void Scan();

    // The processes mapping the segment, by pid.
    std::vector<ShmMapper> Of(const vyxshm_os::SegmentId& id) const;
    int Unreadable() const { return unreadable; }
    bool Known() const { return known; }
    const std::string& Note() const { return note; }
    // "1234/lintelhost,5678/viewer", "none", or "unknown" where the system does not tell.
    std::string Text(const vyxshm_os::SegmentId& id) const;

private:
    vyxshm_os::MapperTable mappers;
    int unreadable = 0;
    bool known = false;
    std::string note;
};
