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

// Files whose reads, or writes, fail in the system call once opened, with the system's error
// code: this process's memory read from address 0, and /dev/full. Windows has no such files,
// and Wine does not let a byte-range lock stop its own process: the tests that use them are on
// the list of tests that do not run under Wine (cmake/VyxWindows.cmake).
struct FailingFiles {
    const std::string readFails = "/proc/self/mem", writeFails = "/dev/full";
    static constexpr int kReadError = 5, kWriteError = 28; // EIO, ENOSPC
};

} // namespace fileio_test
