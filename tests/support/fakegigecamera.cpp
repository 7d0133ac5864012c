#include "tests/support/fakegigecamera.h"

#include "tests/support/testsupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vyx::test {

namespace {

using Clock = std::chrono::steady_clock;

bool g_privateNetwork = false; // this process's loopback is no other's

constexpr uint16_t kControlPort = 3956;                  // GigE Vision control protocol (GVCP)
constexpr auto kAddressWait = std::chrono::seconds(600); // others' tests may hold the address
constexpr auto kStartWait = std::chrono::seconds(20);
constexpr auto kStopWait = std::chrono::seconds(5);

// True once a GigE Vision discovery sent to the address is answered.
bool Answers(const std::string& address) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in camera{};
    camera.sin_family = AF_INET;
    camera.sin_port = htons(kControlPort);
    inet_pton(AF_INET, address.c_str(), &camera.sin_addr);
    // Key 0x42, flags "acknowledge", DISCOVERY_CMD, no payload, request id 1.
    const unsigned char discovery[8] = {0x42, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01};
    bool answered = false;
    if (sendto(fd, discovery, sizeof discovery, 0, reinterpret_cast<sockaddr*>(&camera),
               sizeof camera) == sizeof discovery) {
        pollfd wait{fd, POLLIN, 0};
        unsigned char reply[512];
        if (poll(&wait, 1, 200) == 1) {
            ssize_t got = recv(fd, reply, sizeof reply, 0);
            // DISCOVERY_ACK
            answered = got >= 8 && reply[2] == 0x00 && reply[3] == 0x03;
        }
    }
    close(fd);
    return answered;
}

} // namespace

std::string FakeGigECamera::Program() {
    const char* path = getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/arv-fake-gv-camera-0.8";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

bool FakeGigECamera::UsePrivateNetwork() {
    const int shared = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (shared < 0 || unshare(CLONE_NEWNET) != 0) {
        if (shared >= 0)
            close(shared);
        return false;
    }
    // A new network has its loopback down.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq loopback{};
    strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
    loopback.ifr_flags = static_cast<short>(loopback.ifr_flags | IFF_UP | IFF_RUNNING);
    up = up && ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
    if (fd >= 0)
        close(fd);
    if (!up)
        setns(shared, CLONE_NEWNET); // a network without a loopback serves no test
    close(shared);
    g_privateNetwork = up;
    return up;
}

bool FakeGigECamera::TakeAddress(std::string& error) {
    m_address = "127.0.0.1";
    if (g_privateNetwork)
        return true;
    // One lock file for the address, shared with other users' test runs.
    const std::string path = "/tmp/vyx-fake-gige-" + m_address + ".lock";
    m_lockFd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_lockFd >= 0)
        fchmod(m_lockFd, 0666);
    const auto deadline = Clock::now() + kAddressWait;
    // Another test process has the camera; it gives the address back when it is done.
    while (m_lockFd >= 0 && flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (Clock::now() > deadline) {
            error = "the loopback address stays taken by another fake GigE Vision camera";
            ReleaseAddress();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (m_lockFd < 0)
        error = "cannot open the lock file of " + m_address + ": " + strerror(errno);
    return m_lockFd >= 0;
}

void FakeGigECamera::ReleaseAddress() {
    if (m_lockFd >= 0)
        close(m_lockFd); // drops the lock
    m_lockFd = -1;
    m_address.clear();
}

bool FakeGigECamera::Start(const Options& options, std::string& error) {
    Stop();
    const std::string program = Program();
    if (program.empty()) {
        error = "arv-fake-gv-camera-0.8 is not installed (Debian package aravis-tools)";
        return false;
    }
    if (m_lockFd < 0 && !TakeAddress(error))
        return false;
    if (Answers(m_address)) {
        error = "another program answers as a GigE Vision camera on " + m_address;
        ReleaseAddress();
        return false;
    }
    m_logPath = "/tmp/" + UniqueName("vyx-fake-gige") + ".log";
    const std::string loss = std::to_string(options.lossPerThousand);
    std::vector<const char*> argv = {program.c_str(), "-i", m_address.c_str(), "-r", loss.c_str()};
    if (options.lossPerThousand == 0)
        argv.resize(3); // no packets dropped on purpose
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("fork: ") + strerror(errno);
        ReleaseAddress();
        return false;
    }
    if (pid == 0) {
        // A test that crashes must not leave the camera holding the address.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        int log = open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    m_pid = pid;

    const auto deadline = Clock::now() + kStartWait;
    while (!Answers(m_address)) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            error = "arv-fake-gv-camera-0.8 ended at once: " + ReadFileBytes(m_logPath);
            unlink(m_logPath.c_str());
            ReleaseAddress();
            return false;
        }
        if (Clock::now() > deadline) {
            error = "arv-fake-gv-camera-0.8 does not answer on " + m_address + ": " +
                    ReadFileBytes(m_logPath);
            Stop();
            return false;
        }
    }
    return true;
}

void FakeGigECamera::Stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGINT); // it ignores SIGTERM
        const auto deadline = Clock::now() + kStopWait;
        int status = 0;
        bool ended = false;
        while (!(ended = waitpid(m_pid, &status, WNOHANG) == m_pid) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }
    if (!m_logPath.empty())
        unlink(m_logPath.c_str());
    m_logPath.clear();
}

} // namespace vyx::test
