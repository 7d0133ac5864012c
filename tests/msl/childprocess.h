#pragma once
// Cross-process tests: a forked child with its own address space, and pipes to hand over
// turns between the two processes without sleeping.

#include <functional>
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

    pid_t Pid() const { return pid; }

    // True once the child blocks in the kernel (its state is 'S'), within the time.
    bool WaitUntilSleeping(int timeoutMs = 60000) const;

private:
    pid_t pid = -1;
};

} // namespace vyx::test
