#pragma once
// Helpers of the file I/O tests.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fileio_test {

// Names in a folder, sorted.
inline std::vector<std::string> ListNames(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline unsigned PermissionBits(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xffffffffu;
}

// Runs `work` where permission bits are enforced: directly for an ordinary user; for root
// in a forked child that has dropped to the user "nobody". Returns what `work` returned,
// or a text starting with "child:" when the child could not run it.
inline std::string RunUnprivileged(const std::function<std::string()>& work) {
    if (::geteuid() != 0)
        return work();
    int fds[2];
    if (::pipe(fds) != 0)
        return "child: pipe failed";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string result = (::setgid(65534) == 0 && ::setuid(65534) == 0)
                                 ? work()
                                 : std::string("child: cannot drop privileges");
        const char* at = result.data();
        std::size_t left = result.size();
        while (left > 0) {
            ssize_t n = ::write(fds[1], at, left);
            if (n <= 0)
                break;
            at += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string result;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fds[0], chunk, sizeof chunk)) > 0)
        result.append(chunk, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (pid < 0 || !WIFEXITED(status))
        return "child: did not finish";
    return result;
}

// Joins lines with '\n', for results handed back from RunUnprivileged.
inline std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

} // namespace fileio_test
