#include "tests/support/childprocess.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vyx::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kChildOption = "--vyx-child";

std::map<std::string, ChildBody>& Bodies() {
    static std::map<std::string, ChildBody> bodies;
    return bodies;
}

bool Expired(Clock::time_point start, int timeoutMs) {
    return Clock::now() - start > std::chrono::milliseconds(timeoutMs);
}

int RunBody(const std::string& name, const ChildArgs& args) {
    auto found = Bodies().find(name);
    if (found == Bodies().end()) {
        std::fprintf(stderr, "no child body \"%s\"\n", name.c_str());
        return 125;
    }
    return found->second(args);
}

#if defined(_WIN32)
HANDLE AsHandle(long long value) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

// One argument as the C run-time of the child splits its command line again.
std::string Quote(const std::string& argument) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

// Starts the program with the arguments; the child inherits the inheritable handles (the
// pipes, the redirected output). Its process handle, or null.
HANDLE Launch(const std::string& program, const std::vector<std::string>& args,
              STARTUPINFOA& startup) {
    std::string command = Quote(program);
    for (const std::string& argument : args)
        command.append(" ").append(Quote(argument));
    std::fflush(nullptr);
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started))
        return nullptr;
    CloseHandle(started.hThread);
    return started.hProcess;
}

// The exit status of the process, or -1 when it had to be killed after the time; the handle
// is closed.
int WaitOrKill(long long value, int timeoutMs) {
    HANDLE process = AsHandle(value);
    DWORD code = 0;
    const bool ended =
        WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process, &code);
    if (!ended) {
        TerminateProcess(process, 255);
        WaitForSingleObject(process, INFINITE);
    }
    CloseHandle(process);
    return ended ? static_cast<int>(code) : -1;
}
#endif

} // namespace

bool RegisterChild(const char* name, ChildBody body) {
    return Bodies().emplace(name, body).second;
}

bool RunChildIfAsked(int argc, char** argv, int* status) {
    if (argc < 3 || std::strcmp(argv[1], kChildOption) != 0)
        return false;
    *status = RunBody(argv[2], ChildArgs(argv + 3, argv + argc));
    std::fflush(nullptr);
    return true;
}

#if defined(_WIN32)

Pipe::Pipe() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ends[0] = reinterpret_cast<intptr_t>(readEnd);
        ends[1] = reinterpret_cast<intptr_t>(writeEnd);
    }
}

Pipe::~Pipe() {
    if (owned && ends[0] != -1) {
        CloseHandle(AsHandle(ends[0]));
        CloseHandle(AsHandle(ends[1]));
    }
}

bool Pipe::Send(char byte) {
    DWORD written = 0;
    return WriteFile(AsHandle(ends[1]), &byte, 1, &written, nullptr) && written == 1;
}

bool Pipe::Receive(char* byte, int timeoutMs) {
    auto start = Clock::now();
    // Anonymous pipes cannot be waited on: look until a byte is there, within the time.
    DWORD available = 0, read = 0;
    while (PeekNamedPipe(AsHandle(ends[0]), nullptr, 0, nullptr, &available, nullptr) &&
           available == 0 && !Expired(start, timeoutMs))
        Sleep(1);
    return available > 0 && ReadFile(AsHandle(ends[0]), byte, 1, &read, nullptr) && read == 1;
}

ChildProcess::ChildProcess(const char* name, const ChildArgs& args) {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self)
        return;
    std::vector<std::string> all = {kChildOption, name};
    all.insert(all.end(), args.begin(), args.end());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (HANDLE started = Launch(self, all, startup))
        process = reinterpret_cast<intptr_t>(started);
}

bool ChildProcess::Kill() {
    if (process == -1)
        return false;
    const bool running = WaitForSingleObject(AsHandle(process), 0) == WAIT_TIMEOUT;
    WaitOrKill(process, 0);
    process = -1;
    return running;
}

bool ChildProcess::WaitUntilSleeping(int /*timeoutMs*/) const {
    return false;
}

long ChildProcess::Pid() const {
    return process == -1 ? -1 : static_cast<long>(GetProcessId(AsHandle(process)));
}

int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& outPath, const std::string& errPath) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    int status = -1;
    if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out;
        startup.hStdError = err;
        if (HANDLE started = Launch(program, args, startup))
            status = WaitOrKill(reinterpret_cast<intptr_t>(started), 120000);
    }
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE)
        CloseHandle(err);
    return status;
}

#else

// The exit status of the process, or -1 when it was killed or had to be killed after the time.
static int WaitOrKill(long long process, int timeoutMs) {
    const auto pid = static_cast<pid_t>(process);
    auto start = Clock::now();
    int status = 0;
    // Polling the exit status is a bounded wait for an event, not an ordering by sleep.
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Expired(start, timeoutMs)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Pipe::Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
        ends[0] = fds[0];
        ends[1] = fds[1];
    }
}

Pipe::~Pipe() {
    if (owned && ends[0] != -1) {
        close(static_cast<int>(ends[0]));
        close(static_cast<int>(ends[1]));
    }
}

bool Pipe::Send(char byte) {
    return write(static_cast<int>(ends[1]), &byte, 1) == 1;
}

bool Pipe::Receive(char* byte, int timeoutMs) {
    pollfd wanted{static_cast<int>(ends[0]), POLLIN, 0};
    int ready;
    do {
        ready = poll(&wanted, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready == 1 && read(static_cast<int>(ends[0]), byte, 1) == 1;
}

ChildProcess::ChildProcess(const char* name, const ChildArgs& args) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(RunBody(name, args));
    process = pid;
}

bool ChildProcess::Kill() {
    if (process <= 0)
        return false;
    const auto pid = static_cast<pid_t>(process);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    process = -1;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool ChildProcess::WaitUntilSleeping(int timeoutMs) const {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/stat", process);
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

long ChildProcess::Pid() const {
    return process == -1 ? -1 : static_cast<long>(process);
}

int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& outPath, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : args)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    return WaitOrKill(pid, 120000);
}

#endif

ChildProcess::~ChildProcess() {
    Kill();
}

int ChildProcess::Wait(int timeoutMs) {
    if (process == -1)
        return -1;
    const int status = WaitOrKill(process, timeoutMs);
    process = -1;
    return status;
}

Pipe::Pipe(const std::string& token) : owned(false) {
    std::sscanf(token.c_str(), "%lld,%lld", &ends[0], &ends[1]);
}

std::string Pipe::Token() const {
    return std::to_string(ends[0]) + "," + std::to_string(ends[1]);
}

} // namespace vyx::test
