#include "lintel/server/machine/mmachaxiscommands.h"
#include "lintel/server/machine/mmachimagefifocommands.h"
#include "lintel/server/machine/mmachprobecommands.h"
#include "lintel/server/machine/mmachscancommands.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Completes an abstract command class the way a machine does: done at once.
template <typename Base> class Done : public Base {
public:
    using Base::Base;
    bool IsDone() override { return true; }
    void Abort() override {}
};

template <typename Base> class DoneScan : public Done<Base> {
public:
    using Done<Base>::Done;
    bool ReadNextLine(std::vector<double>&) override { return false; }
};

// The class name is the class's own identifier, so a typo in either shows.
#define EXPECT_NAMES(Wrapper, Class, keyword, ...)                                                 \
    {                                                                                              \
        Wrapper<Class> command(nullptr __VA_OPT__(, ) __VA_ARGS__);                                \
        EXPECT_STREQ(command.GetName(), keyword);                                                  \
        EXPECT_STREQ(Class::ClassName, #Class);                                                    \
    }

} // namespace

// The keywords fill the diagnostics and the class names are the keys the server enables
// commands by; both are matched byte for byte.
TEST(MMachCommands, KeywordsAndClassNames) {
    EXPECT_NAMES(Done, MMachGetCommand, "get", std::vector<std::string>{});
    EXPECT_NAMES(Done, MMachInitCommand, "init", std::set<std::string>{});
    EXPECT_NAMES(Done, MMachSetCommand, "set", std::map<std::string, double>{});
    EXPECT_NAMES(Done, MMachSendCommand, "send", "c", "d");
    EXPECT_NAMES(Done, MMachReceiveCommand, "receive", "c");
    EXPECT_NAMES(DoneScan, MMachScanCommand, "scan", MMachScanRequest{});
    EXPECT_NAMES(Done, MMachScandataCommand, "scandata", std::vector<std::string>{});
    EXPECT_NAMES(DoneScan, MMachScanpointCommand, "scanpoint", MMachScanRequest{});
    EXPECT_NAMES(Done, MMachProbeDefineCommand, "probe define");
    EXPECT_NAMES(Done, MMachProbeDeleteCommand, "probe delete");
    EXPECT_NAMES(Done, MMachProbeLoadCommand, "probe load");
    EXPECT_NAMES(Done, MMachProbeChangeCommand, "probe change");
    EXPECT_NAMES(Done, MMachProbeUnloadCommand, "probe unload");
    EXPECT_NAMES(Done, MMachProbesystemDefineCommand, "probesystem define");
    EXPECT_NAMES(Done, MMachProbesystemDeleteCommand, "probesystem delete");
    EXPECT_NAMES(Done, MMachProbesystemLoadCommand, "probesystem load");
    EXPECT_NAMES(Done, MMachProbesystemUnloadCommand, "probesystem unload");
    EXPECT_NAMES(Done, MMachImagefifoCreateCommand, "imagefifo create", nullptr, "f", 1u, false);
    EXPECT_NAMES(Done, MMachImagefifoDeleteCommand, "imagefifo delete", nullptr, "f");
    EXPECT_NAMES(Done, MMachImagefifoResetCommand, "imagefifo reset", nullptr);
    EXPECT_NAMES(Done, MMachImagefifoSelectCommand, "imagefifo select", "f");
}
