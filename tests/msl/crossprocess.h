#pragma once
// Cross-process tests: a forked child with its own address space, pipes to hand over turns
// between the two processes without sleeping, and segments made the way another program
// would make them.

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <sys/types.h>

namespace vyx::test {

// One byte at a time in one direction. Create it before forking; both processes keep both
// ends, which is harmless for the short messages used here.
class Pipe {
public:
    Pipe();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool Send(char byte);
    // False when nothing arrived within the time.
    bool Receive(char* byte, int timeoutMs = 60000);

private:
    int fds[2];
};

// Runs `body` in a forked child, whose exit status is the body's result (0 for success, a
// step number otherwise). The child leaves with _exit, running no test teardown.
class ChildProcess {
public:
    explicit ChildProcess(const std::function<int()>& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // The child's exit status; -1 when it died by a signal or did not end in time (it is
    // killed then).
    int Wait(int timeoutMs = 120000);
    // Kills the child at once and reaps it; true when it was still running then.
    bool Kill();
    // True once the child blocks in the kernel (its state is 'S'), within the time.
    bool WaitUntilSleeping(int timeoutMs = 60000) const;
    // -1 once the child was reaped.
    pid_t Pid() const { return pid; }

private:
    pid_t pid = -1;
};

// A zero-filled shared-memory segment made with plain POSIX calls under a unique name,
// unknown to this process's registry; mapped here, and removed with the object.
class RawSegment {
public:
    RawSegment(const std::string& prefix, size_t size);
    ~RawSegment();
    RawSegment(const RawSegment&) = delete;
    RawSegment& operator=(const RawSegment&) = delete;
    template <class T> void Put(size_t offset, T value) {
        std::memcpy(bytes + offset, &value, sizeof value);
    }
    template <class T> T Get(size_t offset) const {
        T value;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    }
    std::string Bytes() const { return std::string(reinterpret_cast<const char*>(bytes), size); }

    const std::string name;
    const size_t size;
    uint8_t* bytes = nullptr; // null when the segment could not be made
};

} // namespace vyx::test
