#pragma once
// Cross-process tests: a child process with its own address space that runs a body the test
// executable registered by name, and pipes to hand over turns between the two processes
// without sleeping. On Linux the child is forked; on Windows it is the test executable itself,
// started again with the body's name (the test main runs the body instead of the tests). A
// body sees only its arguments, so it behaves the same on both.

#include <string>
#include <vector>

namespace vyx::test {

using ChildArgs = std::vector<std::string>;
// A child's work: its result is the child's exit status (0 for success, a step number
// otherwise).
using ChildBody = int (*)(const ChildArgs& args);

bool RegisterChild(const char* name, ChildBody body);

// Defines and registers the child body `name`; `args` are the arguments ChildProcess got.
#define VYX_TEST_CHILD(name)                                                                       \
    static int name##ChildBody(const vyx::test::ChildArgs& args);                                  \
    [[maybe_unused]] static const bool name##ChildRegistered =                                     \
        vyx::test::RegisterChild(#name, name##ChildBody);                                          \
    static int name##ChildBody([[maybe_unused]] const vyx::test::ChildArgs& args)

// For the test main: true when this process was started as a child; it has run its body and
// `*status` is the body's result.
bool RunChildIfAsked(int argc, char** argv, int* status);

// One byte at a time in one direction. Created before the child starts; the child reaches it
// through Token() passed as an argument. Both processes keep both ends, which is harmless for
// the short messages used here.
class Pipe {
public:
    Pipe();
    // The child's view of the parent's pipe.
    explicit Pipe(const std::string& token);
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    std::string Token() const;
    bool Send(char byte);
    // False when nothing arrived within the time.
    bool Receive(char* byte, int timeoutMs = 60000);

private:
    long long ends[2] = {-1, -1}; // read end, write end: descriptors or handles
    bool owned = true;
};

// Runs the registered body `name` in a child process. The child leaves without running any
// test teardown.
class ChildProcess {
public:
    ChildProcess(const char* name, const ChildArgs& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // The child's exit status; -1 when it was killed or did not end in time (it is killed
    // then).
    int Wait(int timeoutMs = 120000);
    // Kills the child at once and reaps it; true when it was still running then.
    bool Kill();
    // True once the child blocks in the kernel, within the time. Linux only: Windows (and
    // Wine) tell no thread states.
    bool WaitUntilSleeping(int timeoutMs = 60000) const;
    // The child's process id; -1 once it was reaped.
    long Pid() const;

private:
    long long process = -1; // process id, or process handle
};

// Runs a program with the arguments, its standard output and standard error going to the two
// files, and waits at most two minutes for it. Its exit status, or -1 when it could not be
// started, was killed or did not end in time. On Windows a program named without a folder is
// looked for beside the test executable first.
int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& outPath, const std::string& errPath);

} // namespace vyx::test
