#pragma once
// What vyxshm needs of the operating system (vyxshmos_posix.cpp, vyxshmos_win32.cpp): segments
// mapped whole, their names, the processes that map them, removing a name, and files written
// safely.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vyxshm_os {

// What tells two segments apart beyond their names: device and inode on Linux, where a
// process may still map an older segment of the same name. Windows gives none (zeros).
struct SegmentId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator<(const SegmentId& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

// A whole segment mapped into this process, released with the object.
class Mapping {
public:
    Mapping() = default;
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    // 0, or the system error of the failing step. Writable only when blocks are to be
    // released; `populate` maps every page in at once (those the segment has reserved), for
    // reading blocks. An empty segment is opened but not mapped (base stays null).
    int Open(const std::string& name, bool writable, bool populate = false);

    uint8_t* base = nullptr;
    size_t size = 0;
    SegmentId id;

private:
    void* handle = nullptr; // the system's mapping object, where it keeps one
};

// Size and identity of the segment NAME, also of one this user may not map. 0 or the system
// error.
int Stat(const std::string& name, uint64_t* size, SegmentId* id);

// The error Open and Stat give for a name no segment has.
bool NotFound(int error);
std::string ErrorText(int error);

// The names of the shared-memory segments of this machine (of this session on Windows);
// false with the reason in `error` when they cannot be listed.
bool ListNames(std::vector<std::string>& names, std::string& error);

// Every process but this one that maps a segment: pid and command name (blanks and commas
// made '_'), by segment. Processes whose mappings may not be read (another user's, without
// root) are counted in `unreadable`. False with the reason in `error` where the system does
// not tell (Windows).
using MapperTable = std::map<SegmentId, std::map<long, std::string>>;
bool ScanMappers(MapperTable& mappers, int& unreadable, std::string& error);

// Removes the segment's name; processes that map it keep their mapping. 0 or the system
// error; where names cannot be removed (Windows: a segment goes with the last process that
// has it open) false from CanRemoveNames with the reason.
bool CanRemoveNames(std::string& why);
int RemoveName(const std::string& name);

// Writes the bytes to a temporary file beside `path` and renames it into place, so a failed
// write never leaves a half-written file. 0 or the system error.
int SaveFile(const std::string& path, const uint8_t* bytes, size_t count);

// Standard output and standard error pass bytes unchanged (no LF to CR LF on Windows), so the
// tool's output is the same on every system.
void SetBinaryStandardStreams();

} // namespace vyxshm_os
