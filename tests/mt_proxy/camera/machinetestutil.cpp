#include "tests/mt_proxy/camera/machinetestutil.h"

#include "tests/mt_proxy/camera/camerasensortestutil.h"

#include <filesystem>
#include <thread>

namespace machinetest {

void CountingNotifier::WakeUp() {
    std::lock_guard<std::mutex> lock(mutex);
    wakeUps.fetch_add(1);
    woken.notify_all();
}

bool CountingNotifier::WaitBeyond(int seen, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return woken.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return wakeUps.load() > seen; });
}

std::string Take(MOutputChannel& channel) {
    std::string text;
    channel.Take(text, true);
    return text;
}

std::string Finish(MMachCommand* command, MOutputChannel& out) {
    if (command != nullptr) {
        // A large FIFO is made by a thread of its own: after 1000 polls, give it time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool done = command->IsDone();
        for (int i = 0; !done && std::chrono::steady_clock::now() < deadline; ++i) {
            if (i >= 1000)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            done = command->IsDone();
        }
        EXPECT_TRUE(done) << command->GetName() << " not done";
        delete command;
    }
    return Take(out);
}

bool RunScan(MMachScanCommand& scan, CountingNotifier& notifier,
             const std::function<void(const std::vector<double>&)>& onLine, int polls) {
    std::vector<double> values;
    for (int poll = 0; poll < polls; ++poll) {
        const int seen = notifier.wakeUps.load();
        const bool done = scan.IsDone();
        while (scan.ReadNextLine(values))
            onLine(values);
        if (done)
            return true;
        notifier.WaitBeyond(seen, 20);
    }
    return false;
}

void EmitFrameOnceReceivers(size_t receivers) {
    for (int i = 0; i < 20000 && CImageReceivers_Count() < receivers; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Vyx::SimControl::EmitFrame();
}

void CameraMachineTest::SetUp() {
    cameratest::ResetSimulatedCamera();
    WriteCameraConfig("");
}

void CameraMachineTest::TearDown() {
    machine.reset();
    cameratest::ResetSimulatedCamera();
    EXPECT_FALSE(Vyx::SimControl::GetState().initialised) << "the machine left the camera open";
    EXPECT_EQ(CImageReceivers_Count(), 0u) << "the machine left an image receiver behind";
    Take(machineChannel);
}

void CameraMachine::WriteCameraConfig(const std::string& simSection) {
    std::filesystem::create_directories(host.File("camera"));
    ASSERT_TRUE(
        vyx::test::WriteFileBytes(host.File("camera/vyxcamera.ini"), "[SimCamera]\n" + simSection));
}

MCameraMachAbstract& CameraMachine::OpenMachine() {
    machine =
        std::make_unique<MCameraMachAbstract>("camera", host.Path(), &machineChannel, &notifier);
    EXPECT_TRUE(machine->Open());
    return *machine;
}

bool CameraMachine::OpenWithCamera() {
    OpenMachine();
    LoadCamera();
    return machine->GetActiveProbesystem() == "Camera:1";
}

void CameraMachine::CloseMachine() {
    ASSERT_TRUE(machine->Close());
    machine.reset();
}

void CameraMachine::LoadCamera() {
    ASSERT_EQ(Run(&Machine::NewMMachProbesystemDefineCommand, "Camera:1"), "");
    ASSERT_EQ(Run(&Machine::NewMMachProbesystemLoadCommand, "Camera:1", 1), kCapabilities);
}

void CameraMachine::OpenSmallCamera(const std::string& mode) {
    WriteCameraConfig("Width=64\nHeight=32\nClipWidthMin=8\nClipHeightMin=2\nMode=" + mode + "\n");
    OpenWithCamera();
}

void CameraMachine::ScanIntoNewFifo(const std::string& fifo, uint64_t size) {
    ASSERT_EQ(Run(&Machine::NewMMachScandataCommand, {"imageindex", "trigger_count", "lock"}), "");
    ASSERT_EQ(Run(&Machine::NewMMachImagefifoCreateCommand, fifo, size), "");
    ASSERT_EQ(Run(&Machine::NewMMachImagefifoSelectCommand, fifo), "");
}

std::string CameraMachine::ConfigDir() const {
    return vyx::test::Native(host.File("camera/VX1280M-SIM/SIM0000001"));
}

} // namespace machinetest
