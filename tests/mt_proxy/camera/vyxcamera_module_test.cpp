// The module as the server sees it: loaded at run time, reached through its three exports.

#include "lintel/server/machine/mmachabstract.h"
#include "msl/mutil/mmodule.h"
#include "tests/mt_proxy/camera/machinetestutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#if !defined(_WIN32)
// (On Windows the export table is checked by its own test, vyxcamera_exports, with the
// binary tools.)
TEST(VyxcameraModule, ExportsExactlyTheThreeEntryPoints) {
    const std::set<std::string> kEntryPoints = {"IsProxy", "NewMMachAbstract",
                                                "SetDefaultTracelevel"};
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
    EXPECT_EQ(symbols, kEntryPoints);
}
#endif

TEST(VyxcameraModule, OpensACameraMachineThroughTheExport) {
    MModule module;
    ASSERT_TRUE(module.Load(VYX_MODULE_PATH)) << module.Error();
    auto isProxy = module.Find<bool (*)()>("IsProxy");
    auto newMachine =
        module.Find<MMachAbstract* (*)(const std::string&, const std::string&, MOutputChannel*,
                                       MClientNotifier*)>("NewMMachAbstract");
    auto setLevel = module.Find<void (*)(int32_t)>("SetDefaultTracelevel");
    ASSERT_NE(isProxy, nullptr);
    ASSERT_NE(newMachine, nullptr);
    ASSERT_NE(setLevel, nullptr);
    EXPECT_FALSE(isProxy());
    setLevel(0); // allowed before any machine exists

    vyx::test::TempDir host;
    std::filesystem::create_directories(host.File("camera"));
    ASSERT_TRUE(vyx::test::WriteFileBytes(host.File("camera/vyxcamera.ini"), "[SimCamera]\n"));
    MOutputChannel machineChannel(0);
    machinetest::CountingNotifier notifier;
    std::unique_ptr<MMachAbstract> machine(
        newMachine("camera", host.Path(), &machineChannel, &notifier));
    ASSERT_NE(machine, nullptr);
    EXPECT_EQ(machine->GetDirectory(), host.File("camera"));
    EXPECT_EQ(machine->GetVersion(), "1.00-0");
    EXPECT_FALSE(machine->IsCommandEnabled("MMachGetCommand")); // nothing before Open
    EXPECT_FALSE(machine->HasImageFifos());

    ASSERT_TRUE(machine->Open());
    EXPECT_EQ(machine->GetDirectory(),
              vyx::test::Native(host.File("camera/VX1280M-SIM/SIM0000001")));
    EXPECT_TRUE(machine->IsCommandEnabled("MMachGetCommand"));
    EXPECT_TRUE(machine->Close());
    machine.reset(); // through the virtual destructor, inside the module
    machinetest::Take(machineChannel);
}
