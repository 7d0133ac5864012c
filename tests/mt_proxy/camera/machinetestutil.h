#pragma once
// Helpers of the camera machine tests: a machine on the simulated camera in a fresh host
// directory, driven through the machine interface the way the server drives it.

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace machinetest {

using Machine = MCameraMachAbstract;

// The event of a command that changed the axes' descriptions.
inline const std::string kCapabilities = "0000\tevent \"capabilities changed\"\r\n";

class CountingNotifier : public MClientNotifier {
public:
    int32_t GetState() override { return 1; }
    void WakeUp() override;
    // Waits until more than `seen` wake-ups happened; false when the time ran out.
    bool WaitBeyond(int seen, int timeoutMs);
    std::atomic<int> wakeUps{0};

private:
    std::mutex mutex;
    std::condition_variable woken;
};

// Everything the channel holds, taken.
std::string Take(MOutputChannel& channel);

// Polls a command until it is done (at most 1000 times), deletes it, and gives the reply text
// with the deferred events. A factory that returned no command leaves its text too.
std::string Finish(MMachCommand* command, MOutputChannel& out);

// What the server does with a scan: polls it whenever woken (or every 20 ms) and hands every
// line on, until it is done; false when it is not done after `polls` polls.
bool RunScan(MMachScanCommand& scan, CountingNotifier& notifier,
             const std::function<void(const std::vector<double>&)>& onLine, int polls = 3000);

// A scan over the "time" axis: `value` seconds from now, or up to the camera time `value`.
inline MMachScanRequest TimeSpan(double value, bool relative = true) {
    MMachScanRequest request;
    request.axes["time"] = MMachScanTarget{value, static_cast<uint8_t>(relative ? 1 : 0)};
    return request;
}

// Emits one frame of the simulated camera once `receivers` image receivers are registered
// (the machine's permanent axes callback is the first).
void EmitFrameOnceReceivers(size_t receivers);

// A camera machine in a host directory of its own, with the commands the tests run on it: the
// fixture's, or a second server's in a child process.
class CameraMachine {
public:
    // [SimCamera] of the camera's configuration file, for the next Open.
    void WriteCameraConfig(const std::string& simSection);
    // A new machine on the host directory, opened.
    MCameraMachAbstract& OpenMachine();
    // The same with the camera probesystem loaded (LoadCamera); false when that failed.
    bool OpenWithCamera();
    void CloseMachine();

    // Runs one transaction (number 7) through one of the machine's command factories and gives
    // its reply, e.g. Run(&Machine::NewMMachProbeLoadCommand, 1, 1).
    template <class Command, class... Params>
    std::string Run(Command* (Machine::*make)(MOutputChannel*, Params...),
                    std::type_identity_t<Params>... args) {
        MOutputChannel out(7);
        return Finish((machine.get()->*make)(&out, args...), out);
    }
    // The commands the tests run most, each one transaction as Run runs it.
    std::string Send(const std::string& component, const std::string& data) {
        return Run(&Machine::NewMMachSendCommand, component, data);
    }
    std::string Set(const std::map<std::string, double>& values) {
        return Run(&Machine::NewMMachSetCommand, values);
    }
    std::string FifoCreate(const std::string& name, uint64_t size) {
        return Run(&Machine::NewMMachImagefifoCreateCommand, name, size);
    }
    std::string FifoSelect(const std::string& name) {
        return Run(&Machine::NewMMachImagefifoSelectCommand, name);
    }
    std::string FifoReset() { return Run(&Machine::NewMMachImagefifoResetCommand); }
    std::string FifoDelete(const std::string& name) {
        return Run(&Machine::NewMMachImagefifoDeleteCommand, name);
    }
    // Scans report "imageindex", "trigger_count" and "lock", their images going to a new FIFO
    // of `size` bytes, selected.
    void ScanIntoNewFifo(const std::string& fifo, uint64_t size);
    // The machine's own channel, taken.
    std::string MachineChannel() { return Take(machineChannel); }

    // Defines and loads the camera probesystem "Camera:1" id 1.
    void LoadCamera();
    // A machine on a simulated camera of 64 x 32 pixels (clips from 8 x 2) in `mode`, opened
    // and with the camera probesystem loaded.
    void OpenSmallCamera(const std::string& mode);
    // The per-camera configuration folder of the simulated camera.
    std::string ConfigDir() const;

    vyx::test::TempDir host;
    MOutputChannel machineChannel{0};
    CountingNotifier notifier;
    std::unique_ptr<MCameraMachAbstract> machine;
};

class CameraMachineTest : public ::testing::Test, public CameraMachine {
protected:
    using CameraMachine::Run; // not the test's own
    void SetUp() override;
    void TearDown() override;
};

} // namespace machinetest
