#include "tests/msl/crossprocess.h"

#include "tests/support/testsupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vyx::test {

namespace {

using Clock = std::chrono::steady_clock;

bool Expired(Clock::time_point start, int timeoutMs) {
    return Clock::now() - start > std::chrono::milliseconds(timeoutMs);
}

} // namespace

Pipe::Pipe() {
    if (pipe2(fds, O_CLOEXEC) != 0)
        fds[0] = fds[1] = -1;
}

Pipe::~Pipe() {
    close(fds[0]);
    close(fds[1]);
}

bool Pipe::Send(char byte) {
    return write(fds[1], &byte, 1) == 1;
}

bool Pipe::Receive(char* byte, int timeoutMs) {
    pollfd wanted{fds[0], POLLIN, 0};
    int ready;
    do {
        ready = poll(&wanted, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready == 1 && read(fds[0], byte, 1) == 1;
}

ChildProcess::ChildProcess(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid = fork();
    if (pid == 0)
        _exit(body());
}

ChildProcess::~ChildProcess() {
    Kill();
}

int ChildProcess::Wait(int timeoutMs) {
    if (pid <= 0)
        return -1;
    auto start = Clock::now();
    int status = 0;
    // Polling the exit status is a bounded wait for an event, not an ordering by sleep.
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Expired(start, timeoutMs)) {
            Kill();
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProcess::Kill() {
    if (pid <= 0)
        return false;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool ChildProcess::WaitUntilSleeping(int timeoutMs) const {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    auto start = Clock::now();
    while (!Expired(start, timeoutMs)) {
        if (FILE* file = std::fopen(path, "r")) {
            char state = '?';
            int matched = std::fscanf(file, "%*d (%*[^)]) %c", &state);
            std::fclose(file);
            if (matched == 1 && state == 'S')
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

RawSegment::RawSegment(const std::string& prefix, size_t size)
    : name(UniqueName(prefix)), size(size) {
    int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0) {
        void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        bytes = view == MAP_FAILED ? nullptr : static_cast<uint8_t*>(view);
    }
    if (fd >= 0)
        close(fd);
}

RawSegment::~RawSegment() {
    if (bytes != nullptr)
        munmap(bytes, size);
    shm_unlink(("/" + name).c_str());
}

} // namespace vyx::test
