// The module as the server sees it: loaded at run time, reached through its three exports.

#include "lintel/server/machine/mmachabstract.h"
#include "msl/mutil/mmodule.h"
#include "tests/mt_proxy/camera/machinetestutil.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

using machinetest::Take;

const std::set<std::string> kEntryPoints = {"IsProxy", "NewMMachAbstract", "SetDefaultTracelevel"};

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
    EXPECT_EQ(ExportedNames(module), kEntryPoints);
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
    EXPECT_EQ(machine->GetMachineName(), "camera");
    EXPECT_EQ(machine->GetDirectory(), host.File("camera"));
    EXPECT_EQ(machine->GetVersion(), "1.00-0");
    EXPECT_TRUE(machine->IsNotifierSet());
    EXPECT_FALSE(machine->IsCommandEnabled("MMachGetCommand")); // nothing before Open
    EXPECT_FALSE(machine->HasImageFifos());

    ASSERT_TRUE(machine->Open());
    MMachAbstract& m = *machine;
    EXPECT_EQ(m.GetDirectory(), vyx::test::Native(host.File("camera/VX1280M-SIM/SIM0000001")));
    EXPECT_TRUE(m.IsCommandEnabled("MMachGetCommand"));
    MOutputChannel out(815);

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

    EXPECT_TRUE(machine->Close());
    machine.reset(); // through the virtual destructor, inside the module
    Take(machineChannel);
}
