#pragma once
// One POSIX shared-memory segment of /dev/shm, mapped whole into this process for as long as
// the object lives, and the names of all segments there.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class ShmSegment {
public:
    ShmSegment() = default;
    ~ShmSegment();
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    // Maps the segment NAME (without its leading '/'), writable only when blocks are to be
    // released. 0, or the errno of the failing step. An empty segment is opened but not
    // mapped (base stays null).
    int Open(const std::string& name, bool writable);

    uint8_t* base = nullptr;
    size_t size = 0;
    dev_t device = 0; // with `inode`, what /proc/PID/maps names the segment by
    ino_t inode = 0;
};

// A name the tool accepts: not empty, no '/', not "." or "..". A leading '/' of the POSIX
// object name is to be stripped before (ShmSegment_Name).
bool ShmSegment_IsValidName(const std::string& name);

// The name as typed, without the leading '/' that POSIX object names carry.
std::string ShmSegment_Name(const std::string& typed);

// Every segment name in /dev/shm, sorted; false (with errno set) when the folder cannot be
// read.
bool ShmSegment_ListNames(std::vector<std::string>& names);
