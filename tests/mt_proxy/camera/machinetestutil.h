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
#include <mutex>
#include <functional>
#include <memory>
#include <string>

namespace machinetest {

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

// Polls a command until it is done (at most `polls` times), deletes it, and gives the reply
// text with the deferred events. A factory that returned no command leaves its text too.
std::string Finish(MMachCommand* command, MOutputChannel& out, int polls = 1000);

class CameraMachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // [SimCamera] of the camera's configuration file, for the next Open.
    void WriteCameraConfig(const std::string& simSection);
    // A new machine on the host directory, opened; Open's result in `opened`.
    MCameraMachAbstract& OpenMachine(bool* opened = nullptr);
    void CloseMachine();

    // Runs one transaction (number 7) through a factory and gives its reply.
    std::string Reply(const std::function<MMachCommand*(MOutputChannel*)>& factory);
    // The machine's own channel, taken.
    std::string MachineChannel();

    // Defines and loads the camera probesystem "Camera:1" id 1.
    void LoadCamera();
    // The per-camera configuration folder of the simulated camera.
    std::string ConfigDir() const;

    vyx::test::TempDir host;
    MOutputChannel machineChannel{0};
    CountingNotifier notifier;
    std::unique_ptr<MCameraMachAbstract> machine;
};

} // namespace machinetest
