#pragma once
// Aravis's GigE Vision test camera (arv-fake-gv-camera-0.8, Debian package aravis-tools) as a
// process of its own on a loopback address, for tests that drive a camera over the network.
//
// The camera listens on the GigE Vision control port of its address, so only one can run per
// address and network: a test process that may (root) gets a network of its own, where no
// other program's camera or client can answer or write in its place. Otherwise Start takes
// the lock file of 127.0.0.1 (shared by every test process on the machine) and waits for it
// while another test's camera has the address. The process ignores SIGTERM; Stop sends SIGINT
// and, when it has not ended within a few seconds, SIGKILL. It also dies with the test process.

#include <string>
#include <sys/types.h>

namespace vyx::test {

class FakeGigECamera {
public:
    struct Options {
        unsigned lossPerThousand = 0; // GVSP packets the camera drops on purpose (-r)
    };

    // Full path of the program, or empty when it is not installed.
    static std::string Program();
    // Moves this process into a network of its own with only its loopback up; false (and the
    // shared network kept) where that is not allowed. Call before any thread starts: a
    // thread's network is the one it started in.
    static bool UsePrivateNetwork();

    FakeGigECamera() = default;
    ~FakeGigECamera() {
        Stop();
        ReleaseAddress();
    }
    FakeGigECamera(const FakeGigECamera&) = delete;
    FakeGigECamera& operator=(const FakeGigECamera&) = delete;

    // Starts the camera and returns once it answers a discovery on its address; false with
    // the reason (and the program's output) otherwise.
    bool Start(const Options& options, std::string& error);
    // Ends the process (by its id). Safe to call twice. The address stays this object's until
    // it goes: the test's clients of the camera may still write to the address (a camera that
    // went is closed after it), and no other test's camera must be there to take the writes.
    void Stop();

    // The address the camera answers on ("127.0.0.1"); what [GenICam] device takes.
    const std::string& Address() const { return m_address; }

private:
    bool TakeAddress(std::string& error);
    void ReleaseAddress();

    int m_lockFd = -1;
    pid_t m_pid = -1;
    std::string m_address;
    std::string m_logPath;
};

} // namespace vyx::test
