// The module as the server sees it: loaded with dlopen, reached through its three exports.

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "lintel/server/machine/mmachabstract.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

class CountingNotifier : public MClientNotifier {
public:
    int32_t GetState() override {
        ++states;
        return 1;
    }
    void WakeUp() override { ++wakeUps; }

    std::atomic<int> states{0};
    std::atomic<int> wakeUps{0};
};

std::string Take(MOutputChannel& channel) {
    std::string out;
    channel.Take(out, true);
    return out;
}

} // namespace

TEST(VyxcameraModule, ExportsExactlyTheThreeEntryPoints) {
    std::string command = std::string(VYX_NM_PATH) + " -D --defined-only '" VYX_MODULE_PATH "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], kind[8], symbol[400];
        if (std::sscanf(line, "%63s %7s %399s", address, kind, symbol) == 3)
            symbols.insert(symbol);
    }
    ASSERT_EQ(pclose(pipe), 0) << command;
    EXPECT_EQ(symbols,
              (std::set<std::string>{"IsProxy", "NewMMachAbstract", "SetDefaultTracelevel"}));
}

TEST(VyxcameraModule, OpensACameraMachineThroughTheExport) {
    std::unique_ptr<void, int (*)(void*)> module(dlopen(VYX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL),
                                                 dlclose);
    ASSERT_NE(module, nullptr) << dlerror();
    auto isProxy = reinterpret_cast<bool (*)()>(dlsym(module.get(), "IsProxy"));
    auto newMachine = reinterpret_cast<MMachAbstract* (*)(const std::string&, const std::string&,
                                                          MOutputChannel*, MClientNotifier*)>(
        dlsym(module.get(), "NewMMachAbstract"));
    auto setLevel =
        reinterpret_cast<void (*)(int32_t)>(dlsym(module.get(), "SetDefaultTracelevel"));
    ASSERT_NE(isProxy, nullptr);
    ASSERT_NE(newMachine, nullptr);
    ASSERT_NE(setLevel, nullptr);
    EXPECT_FALSE(isProxy());
    setLevel(0); // allowed before any machine exists

    vyx::test::TempDir host;
    std::filesystem::create_directories(host.File("camera"));
    ASSERT_TRUE(vyx::test::WriteFileBytes(host.File("camera/vyxcamera.ini"), "[SimCamera]\n"));
    MOutputChannel machineChannel(0);
    CountingNotifier notifier;
    std::unique_ptr<MMachAbstract> machine(
        newMachine("camera", host.Path(), &machineChannel, &notifier));
    ASSERT_NE(machine, nullptr);
    EXPECT_EQ(machine->GetMachineName(), "camera");
    EXPECT_EQ(machine->GetDirectory(), host.File("camera"));
    EXPECT_EQ(machine->GetVersion(), "1.00-0");
    EXPECT_TRUE(machine->HasAutoinfo());
    EXPECT_TRUE(machine->NotProvided97());
    EXPECT_EQ(machine->GetDefaultTimeout(), 5.0);
    EXPECT_TRUE(machine->IsNotifierSet());
    EXPECT_FALSE(machine->IsCommandEnabled("MMachGetCommand")); // nothing before Open
    EXPECT_FALSE(machine->HasImageFifos());

    ASSERT_TRUE(machine->Open());
    MMachAbstract& m = *machine;
    EXPECT_EQ(m.GetDirectory(), host.File("camera/VX1280M-SIM/SIM0000001"));
    EXPECT_TRUE(m.IsCommandEnabled("MMachGetCommand"));
    MOutputChannel out(815);
    delete m.NewMMachProbesystemDefineCommand(&out, "Camera:1");
    std::unique_ptr<MMachCommand> load(m.NewMMachProbesystemLoadCommand(&out, "Camera:1", 1));
    ASSERT_NE(load, nullptr);
    EXPECT_TRUE(load->IsDone());
    EXPECT_EQ(Take(out), "0000\tevent \"capabilities changed\"\r\n");
    std::unique_ptr<MMachGetCommand> get(m.NewMMachGetCommand(&out, {"imagewidth", "nosuch"}));
    ASSERT_TRUE(get->IsDone());
    ASSERT_EQ(get->GetValues().size(), 2u);
    EXPECT_EQ(get->GetValues()[0], 1280.0);
    EXPECT_TRUE(std::isnan(get->GetValues()[1]));

    // What the camera machine does not provide stays "command unknown"; 122 stays silent.
    using Plain = MMachCommand* (MMachAbstract::*)(MOutputChannel*);
    const Plain plain[] = {&MMachAbstract::NewMMachCommand106, &MMachAbstract::NewMMachCommand115,
                           &MMachAbstract::NewMMachCommand120, &MMachAbstract::NewMMachCommand132,
                           &MMachAbstract::NewMMachCommand138, &MMachAbstract::NewMMachCommand146};
    for (Plain factory : plain) {
        EXPECT_EQ((m.*factory)(&out), nullptr);
        EXPECT_EQ(Take(out), "0815\terror \"transaction: command unknown\"\r\n");
    }
    EXPECT_EQ(m.NewMMachCommand122(&out), nullptr);
    EXPECT_TRUE(out.IsEmpty());
    out.ResetError();

    load.reset();
    get.reset();
    EXPECT_TRUE(machine->Close());
    machine.reset(); // through the virtual destructor, inside the module
    std::string rest;
    machineChannel.Take(rest, true);
}
