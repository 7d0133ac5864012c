// The module as the server sees it: loaded with dlopen, reached through its three exports.

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "lintel/server/machine/mmachabstract.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstdio>
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

TEST(VyxcameraModule, CreatesACameraMachineWhoseFactoriesAreUnknownCommands) {
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

    MOutputChannel machineChannel(0);
    CountingNotifier notifier;
    std::unique_ptr<MMachAbstract> machine(
        newMachine("Vyxcamera", "/opt/lintel/machines/m1", &machineChannel, &notifier));
    ASSERT_NE(machine, nullptr);
    EXPECT_EQ(machine->GetMachineName(), "Vyxcamera");
    EXPECT_EQ(machine->GetDirectory(), "/opt/lintel/machines/m1/camera");
    EXPECT_EQ(machine->GetVersion(), "1.00-0");
    EXPECT_TRUE(machine->HasAutoinfo());
    EXPECT_TRUE(machine->NotProvided97());
    EXPECT_TRUE(std::isnan(machine->GetAxisValue("no such axis")));
    EXPECT_EQ(machine->GetDefaultTimeout(), 5.0);
    EXPECT_TRUE(machine->IsNotifierSet());
    EXPECT_EQ(notifier.states.load(), 1);
    EXPECT_FALSE(machine->IsCommandEnabled("MMachGetCommand")); // nothing before Open

    MOutputChannel out(815);
    const std::string unknown = "0815\terror \"transaction: command unknown\"\r\n";
    MMachAbstract& m = *machine;
    // The factories without arguments of their own, called through the virtual table.
    using Plain = MMachCommand* (MMachAbstract::*)(MOutputChannel*);
    const Plain plain[] = {&MMachAbstract::NewMMachCommand106, &MMachAbstract::NewMMachCommand107,
                           &MMachAbstract::NewMMachCommand108, &MMachAbstract::NewMMachCommand109,
                           &MMachAbstract::NewMMachCommand110, &MMachAbstract::NewMMachCommand111,
                           &MMachAbstract::NewMMachCommand112, &MMachAbstract::NewMMachCommand113,
                           &MMachAbstract::NewMMachCommand114, &MMachAbstract::NewMMachCommand115,
                           &MMachAbstract::NewMMachCommand120, &MMachAbstract::NewMMachCommand121,
                           &MMachAbstract::NewMMachCommand132, &MMachAbstract::NewMMachCommand133,
                           &MMachAbstract::NewMMachCommand134, &MMachAbstract::NewMMachCommand135,
                           &MMachAbstract::NewMMachCommand136, &MMachAbstract::NewMMachCommand138,
                           &MMachAbstract::NewMMachCommand140, &MMachAbstract::NewMMachCommand141,
                           &MMachAbstract::NewMMachCommand146};
    MMachScanRequest request;
    request.axes["time"] = MMachScanTarget{1.0, 1};
    std::vector<std::function<MMachCommand*()>> factories = {
        [&] { return m.NewMMachGetCommand(&out, {"time"}); },
        [&] { return m.NewMMachInitCommand(&out, {"time"}); },
        [&] { return m.NewMMachReceiveCommand(&out, "probe.config"); },
        [&] { return m.NewMMachSendCommand(&out, "probe.config", "[Camera]\n"); },
        [&] {
            return m.NewMMachSetCommand(&out, {{"gain", 1.0}});
        },
        [&] { return m.NewMMachScanCommand(&out, request); },
        [&] { return m.NewMMachProbesystemLoadCommand(&out, "unloaded", 0); },
        [&] { return m.NewMMachProbesystemUnloadCommand(&out); },
        [&] { return m.NewMMachProbesystemDefineCommand(&out, "Optic"); },
        [&] { return m.NewMMachProbesystemDeleteCommand(&out, "Optic", 2); },
        [&] { return m.NewMMachProbeLoadCommand(&out, 1, 1); },
        [&] { return m.NewMMachProbeDeleteCommand(&out, 1, 1); },
        [&] {
            return m.NewMMachProbeDefineCommand(&out, 1, 1, {{"x", 1.0}});
        },
        [&] { return m.NewMMachProbeUnloadCommand(&out); },
        [&] { return m.NewMMachProbeChangeCommand(&out, 1, 1); },
        [&] { return m.NewMMachScandataCommand(&out, {"time"}); },
        [&] { return m.NewMMachScanpointCommand(&out, request); },
        [&] { return m.NewMMachImagefifoCreateCommand(&out, "fifo", 4096); },
        [&] { return m.NewMMachImagefifoDeleteCommand(&out, "fifo"); },
        [&] { return m.NewMMachImagefifoResetCommand(&out); },
        [&] { return m.NewMMachImagefifoSelectCommand(&out, "fifo"); },
    };
    for (Plain factory : plain)
        factories.push_back([&, factory] { return (m.*factory)(&out); });
    ASSERT_EQ(factories.size(), 42u);
    for (size_t i = 0; i < factories.size(); ++i) {
        std::unique_ptr<MMachCommand> command(factories[i]());
        EXPECT_EQ(command, nullptr) << "factory " << i;
        EXPECT_EQ(Take(out), unknown) << "factory " << i;
    }
    EXPECT_EQ(m.NewMMachCommand122(&out), nullptr);
    EXPECT_TRUE(out.IsEmpty());
    out.ResetError();

    machine.reset();                       // through the virtual destructor, inside the module
    EXPECT_TRUE(machineChannel.IsEmpty()); // construction and destruction report nothing
    EXPECT_EQ(notifier.wakeUps.load(), 0);
}
