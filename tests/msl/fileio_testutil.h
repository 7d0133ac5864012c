#pragma once
// Helpers of the file I/O tests.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fileio_test {

using Lines = std::vector<std::string>;

// Names in a folder, sorted.
inline Lines ListNames(const std::string& dir) {
    Lines names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline unsigned PermissionBits(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xffffffffu;
}

inline std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    return bytes;
}

// Files whose reads, or writes, fail in the system call, with the system's error code: on
// Linux this process's memory read from address 0 and /dev/full; on Windows a file that another
// handle has locked whole.
#if defined(_WIN32)
class FailingFiles {
public:
    explicit FailingFiles(const std::string& folder);
    ~FailingFiles();
    FailingFiles(const FailingFiles&) = delete;
    FailingFiles& operator=(const FailingFiles&) = delete;
    bool Ready() const { return locked; }

    const std::string readFails, writeFails;
    static constexpr int kReadError = 33, kWriteError = 33; // ERROR_LOCK_VIOLATION

private:
    void* locker = nullptr; // the handle that holds the lock
    bool locked = false;
};
#else
class FailingFiles {
public:
    explicit FailingFiles(const std::string& /*folder*/) {}
    bool Ready() const { return true; }

    const std::string readFails = "/proc/self/mem", writeFails = "/dev/full";
    static constexpr int kReadError = 5, kWriteError = 28; // EIO, ENOSPC
};
#endif

} // namespace fileio_test
