// The module as the server finds it: exactly its three exports. (Loading it and opening a
// machine through them is what lintelhost does in its end-to-end tests.)

#include <gtest/gtest.h>

#include <cstdio>
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
