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

template <typename Command, typename... Args>
void ExpectNames(const char* keyword, const char* className, Args&&... args) {
    Command command(nullptr, std::forward<Args>(args)...);
    EXPECT_STREQ(command.GetName(), keyword);
    EXPECT_STREQ(Command::ClassName, className);
}

} // namespace

// The keywords fill the diagnostics and the class names are the keys the server enables
// commands by; both are matched byte for byte.
TEST(MMachCommands, KeywordsAndClassNames) {
    ExpectNames<Done<MMachGetCommand>>("get", "MMachGetCommand", std::vector<std::string>{});
    ExpectNames<Done<MMachInitCommand>>("init", "MMachInitCommand", std::set<std::string>{});
    ExpectNames<Done<MMachSetCommand>>("set", "MMachSetCommand", std::map<std::string, double>{});
    ExpectNames<Done<MMachSendCommand>>("send", "MMachSendCommand", "c", "d");
    ExpectNames<Done<MMachReceiveCommand>>("receive", "MMachReceiveCommand", "c");
    ExpectNames<DoneScan<MMachScanCommand>>("scan", "MMachScanCommand", MMachScanRequest{});
    ExpectNames<Done<MMachScandataCommand>>("scandata", "MMachScandataCommand",
                                            std::vector<std::string>{});
    ExpectNames<DoneScan<MMachScanpointCommand>>("scanpoint", "MMachScanpointCommand",
                                                 MMachScanRequest{});
    ExpectNames<Done<MMachProbeDefineCommand>>("probe define", "MMachProbeDefineCommand");
    ExpectNames<Done<MMachProbeDeleteCommand>>("probe delete", "MMachProbeDeleteCommand");
    ExpectNames<Done<MMachProbeLoadCommand>>("probe load", "MMachProbeLoadCommand");
    ExpectNames<Done<MMachProbeChangeCommand>>("probe change", "MMachProbeChangeCommand");
    ExpectNames<Done<MMachProbeUnloadCommand>>("probe unload", "MMachProbeUnloadCommand");
    ExpectNames<Done<MMachProbesystemDefineCommand>>("probesystem define",
                                                     "MMachProbesystemDefineCommand");
    ExpectNames<Done<MMachProbesystemDeleteCommand>>("probesystem delete",
                                                     "MMachProbesystemDeleteCommand");
    ExpectNames<Done<MMachProbesystemLoadCommand>>("probesystem load",
                                                   "MMachProbesystemLoadCommand");
    ExpectNames<Done<MMachProbesystemUnloadCommand>>("probesystem unload",
                                                     "MMachProbesystemUnloadCommand");
    ExpectNames<Done<MMachImagefifoSelectCommand>>("imagefifo select",
                                                   "MMachImagefifoSelectCommand", "fifo");
    EXPECT_STREQ(MMachImagefifoCreateCommand::ClassName, "MMachImagefifoCreateCommand");
    EXPECT_STREQ(MMachImagefifoDeleteCommand::ClassName, "MMachImagefifoDeleteCommand");
    EXPECT_STREQ(MMachImagefifoResetCommand::ClassName, "MMachImagefifoResetCommand");
}

TEST(MMachCommands, ArgumentsAreCopied) {
    std::vector<std::string> axes{"time", "x"};
    Done<MMachGetCommand> get(nullptr, axes);
    axes.clear();
    EXPECT_EQ(get.GetAxes(), (std::vector<std::string>{"time", "x"}));
    EXPECT_TRUE(get.GetValues().empty());

    Done<MMachReceiveCommand> receive(nullptr, "probe.tip");
    EXPECT_EQ(receive.GetComponent(), "probe.tip");
    EXPECT_EQ(receive.GetData(), "");

    MMachScanRequest request;
    request.axes["time"] = MMachScanTarget{0.5, 1};
    DoneScan<MMachScanCommand> scan(nullptr, request);
    request.axes.clear();
    ASSERT_EQ(scan.GetRequest().axes.count("time"), 1u);
    EXPECT_EQ(scan.GetRequest().axes.at("time").value, 0.5);
    EXPECT_EQ(scan.GetRequest().axes.at("time").relative, 1);
}
