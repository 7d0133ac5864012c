#include "tests/mt_proxy/camera/machinetestutil.h"

#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "platform/vyx/simcontrol.h"
#include "platform/vyx/vyxbase.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace machinetest {

void CountingNotifier::WakeUp() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        wakeUps.fetch_add(1);
    }
    woken.notify_all();
}

bool CountingNotifier::WaitBeyond(int seen, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return woken.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return wakeUps.load() > seen; });
}

std::string Finish(MMachCommand* command, MOutputChannel& out, int polls) {
    if (command != nullptr) {
        bool done = false;
        for (int i = 0; i < polls && !(done = command->IsDone()); ++i) {
        }
        EXPECT_TRUE(done) << command->GetName() << " not done";
        delete command;
    }
    std::string text;
    out.Take(text, true);
    return text;
}

void CameraMachineTest::SetUp() {
    vyx::test::SetEnvironment("VYX_SIMCAMERA_INI", nullptr);
    Vyx::SimControl::SetConnected(true);
    WriteCameraConfig("");
}

void CameraMachineTest::TearDown() {
    machine.reset();
    Vyx::SimControl::SetConnected(true);
    for (int call = 0; call < static_cast<int>(Vyx::SimCall::Count); ++call)
        Vyx::SimControl::SetCallFailure(static_cast<Vyx::SimCall>(call), false);
    EXPECT_FALSE(Vyx::SimControl::GetState().initialised) << "the machine left the camera open";
    EXPECT_EQ(CImageReceivers_Count(), 0u) << "the machine left an image receiver behind";
    std::string rest;
    machineChannel.Take(rest, true);
}

void CameraMachineTest::WriteCameraConfig(const std::string& simSection) {
    std::filesystem::create_directories(host.File("camera"));
    ASSERT_TRUE(
        vyx::test::WriteFileBytes(host.File("camera/vyxcamera.ini"), "[SimCamera]\n" + simSection));
}

MCameraMachAbstract& CameraMachineTest::OpenMachine(bool* opened) {
    machine =
        std::make_unique<MCameraMachAbstract>("camera", host.Path(), &machineChannel, &notifier);
    const bool result = machine->Open();
    if (opened != nullptr)
        *opened = result;
    else
        EXPECT_TRUE(result);
    return *machine;
}

void CameraMachineTest::CloseMachine() {
    ASSERT_TRUE(machine->Close());
    machine.reset();
}

std::string CameraMachineTest::Reply(const std::function<MMachCommand*(MOutputChannel*)>& factory) {
    MOutputChannel out(7);
    return Finish(factory(&out), out);
}

std::string CameraMachineTest::MachineChannel() {
    std::string text;
    machineChannel.Take(text, true);
    return text;
}

void CameraMachineTest::LoadCamera() {
    ASSERT_EQ(Reply([&](MOutputChannel* out) {
                  return machine->NewMMachProbesystemDefineCommand(out, "Camera:1");
              }),
              "");
    ASSERT_EQ(Reply([&](MOutputChannel* out) {
                  return machine->NewMMachProbesystemLoadCommand(out, "Camera:1", 1);
              }),
              "0000\tevent \"capabilities changed\"\r\n");
}

std::string CameraMachineTest::ConfigDir() const {
    return vyx::test::Native(host.File("camera/VX1280M-SIM/SIM0000001"));
}

} // namespace machinetest
