// The module as the server sees it: loaded at run time, reached through its three exports.

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "lintel/server/machine/mmachabstract.h"
#include "msl/mutil/mmodule.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

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

#if defined(_WIN32)
// The names in the export table of the loaded DLL, as the system's loader reads them.
std::set<std::string> ExportedNames(HMODULE module) {
    auto* base = reinterpret_cast<const unsigned char*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    if (entry.Size == 0)
        return names;
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameOffsets[i]));
    // Exports by number only would not show as names.
    EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames);
    return names;
}

TEST(VyxcameraModule, ExportsExactlyTheThreeEntryPoints) {
    HMODULE module = LoadLibraryExA(VYX_MODULE_PATH, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(ExportedNames(module),
              (std::set<std::string>{"IsProxy", "NewMMachAbstract", "SetDefaultTracelevel"}));
    FreeLibrary(module);
}
#else
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
#endif

TEST(VyxcameraModule, CreatesACameraMachineWhoseFactoriesAreUnknownCommands) {
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

    MOutputChannel machineChannel(0);
    CountingNotifier notifier;
#if defined(_WIN32)
    const std::string host = "C:\\Lintel\\machines\\m1", camera = host + "\\camera";
#else
    const std::string host = "/opt/lintel/machines/m1", camera = host + "/camera";
#endif
    std::unique_ptr<MMachAbstract> machine(
        newMachine("Vyxcamera", host, &machineChannel, &notifier));
    ASSERT_NE(machine, nullptr);
    EXPECT_EQ(machine->GetMachineName(), "Vyxcamera");
    EXPECT_EQ(machine->GetDirectory(), camera);
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
