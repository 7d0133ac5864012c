#include "lintel/server/commands/moutputchannel.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

using vyx::trace::TraceCapture;

namespace {

const std::string kCapabilitiesChanged = "0000\tevent \"capabilities changed\"\r\n";
const std::string kMachineChanged = "0000\tevent \"machine changed\"\r\n";

std::string Number(double value) {
    std::string out;
    MOutputChannel::AppendNumber(out, value);
    return out;
}

// Takes everything, so that the channel's destructor has nothing to report.
std::string TakeAll(MOutputChannel& channel) {
    std::string out;
    channel.Take(out, true);
    return out;
}

} // namespace

TEST(MOutputChannel, LineAndNumberFormats) {
    MOutputChannel channel(7);
    channel.Error(std::string("failed to open probe manager"));
    channel.Error(60); // unknown numbers name themselves
    channel.Error(15);
    channel.Warning(10003);
    channel.Warning(std::string("careful"));
    channel.Data(std::vector<double>{1.5, -0.25});
    channel.Data(std::vector<double>{});
    channel.Data(std::string("abc"));
    channel.Event(3);
    channel.Event(std::string("preview begin"));
    EXPECT_EQ(TakeAll(channel), "0007\terror \"failed to open probe manager\"\r\n"
                                "0007\terror \"unknown error number 60\"\r\n"
                                "0007\terror \"transaction: command unknown\"\r\n"
                                "0007\twarning \"ambiguous tip, using first\"\r\n"
                                "0007\twarning \"careful\"\r\n"
                                "0007\tdata 1.5 -0.25\r\n"
                                "0007\tdata\r\n"
                                "0007\tdata abc\r\n"
                                "0000\tevent \"measurement begin\"\r\n"
                                "0000\tevent \"preview begin\"\r\n");
    MOutputChannel big(123456); // at least four digits
    big.Data(std::string("x"));
    EXPECT_EQ(TakeAll(big), "123456\tdata x\r\n");

    // Numbers of data lines.
    struct Case {
        double value;
        const char* text;
    };
    // Fixed notation rounds to six decimals and keeps the zeros of the integer part; beyond
    // 32 bits "%.6f" takes over up to 1e11, then "%.17g".
    // clang-format off
    const Case cases[] = {
        {0.0, " 0"}, {-0.0, " 0"}, {1.5, " 1.5"}, {-0.25, " -0.25"}, {2.0000001, " 2"},
        {10.0, " 10"}, {0.1, " 0.1"}, {1.0 / 3.0, " 0.333333"}, {2.0 / 3.0, " 0.666667"},
        {5e-7, " 0.000001"}, {-5e-7, " -0.000001"}, {2147483647.0, " 2147483647"},
        {-2147483648.0, " -2147483648"}, {2147483648.5, " 2147483648.5"},
        {99999999999.25, " 99999999999.25"}, {3e11, " 300000000000"}, {1e12, " 1000000000000"},
        {1.2345678e-7, " 0"}, {-1.2345678e-7, " -0"},
        {1.2345678901234567e15, " 1234567890123456.8"}, {-2.5e20, " -2.5e+20"}};
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(Number(c.value), c.text) << "value " << c.value;
    EXPECT_EQ(Number(std::numeric_limits<double>::infinity()), " inf");
}

TEST(MOutputChannel, EventsOneAndEightAreDeferredAndSentOnceTheRestAtOnce) {
    MOutputChannel channel(2);
    channel.Event(std::string("machine changed"));
    for (int i = 0; i < 3; ++i)
        channel.Event(1);
    channel.Data(std::string("x"));
    EXPECT_TRUE(channel.IsEventSet(1) && channel.IsEventSet(8));
    // GetText shows them at the end, 1 before 8, and changes nothing.
    EXPECT_EQ(channel.GetText(), "0002\tdata x\r\n" + kCapabilitiesChanged + kMachineChanged);
    std::string out;
    EXPECT_TRUE(channel.Take(out, false)); // without the flag they stay pending
    EXPECT_EQ(out, "0002\tdata x\r\n");
    EXPECT_FALSE(channel.HasEvents());
    EXPECT_TRUE(channel.Take(out, true));
    EXPECT_EQ(out, kCapabilitiesChanged + kMachineChanged);
    EXPECT_FALSE(channel.Take(out, true)); // sent once
    EXPECT_EQ(out, "");

    // Every other event is sent at once, by its bit.
    channel.Event(std::string("resync needed")); // in no table: bit 97, still sent
    EXPECT_TRUE(channel.HasEvents());
    for (int number = 0; number <= 97; ++number) // 97 is not asked by number
        EXPECT_FALSE(channel.IsEventSet(number)) << number;
    channel.Event(120);
    channel.Event(-1);

    channel.Event(std::string("start/stop"));
    channel.Event(std::string("unknown event number 68")); // the gaps take part too
    channel.Event(0);
    EXPECT_TRUE(channel.IsEventSet(96) && channel.IsEventSet(68) && channel.IsEventSet(0));
    EXPECT_FALSE(channel.IsEventSet(1));
    EXPECT_EQ(TakeAll(channel), "0000\tevent \"resync needed\"\r\n"
                                "0000\tevent \"unknown event number 120\"\r\n"
                                "0000\tevent \"unknown event number -1\"\r\n"
                                "0000\tevent \"start/stop\"\r\n"
                                "0000\tevent \"unknown event number 68\"\r\n"
                                "0000\tevent \"unknown event number 0\"\r\n");
    EXPECT_FALSE(channel.HasEvents());
}

TEST(MOutputChannel, MoveToCarriesTextFlagsAndEventsAndClearKeepsTheMark) {
    MOutputChannel command(9);
    command.Error(3);
    command.SetMark();
    command.Event(1);
    command.Event(40);
    command.Event(std::string("resync needed"));

    MOutputChannel reply(9);
    reply.Data(std::string("first"));
    command.MoveTo(reply);
    EXPECT_FALSE(command.HasEvents() || command.HasError());
    EXPECT_TRUE(command.IsMarked());
    EXPECT_EQ(command.GetText(), ""); // the pending event went too
    EXPECT_TRUE(reply.HasError() && reply.IsMarked() && reply.IsEventSet(40) &&
                reply.IsEventSet(1));
    EXPECT_EQ(TakeAll(reply), "0009\tdata first\r\n"
                              "0009\terror \"invalid argument\"\r\n"
                              "0000\tevent \"keypad: key-5\"\r\n"
                              "0000\tevent \"resync needed\"\r\n" +
                                  kCapabilitiesChanged);
    EXPECT_TRUE(reply.HasError()); // Take keeps it
    reply.Event(1);
    reply.Clear();
    EXPECT_TRUE(reply.IsMarked());
    EXPECT_FALSE(reply.HasError() || reply.HasEvents());
    EXPECT_EQ(reply.GetText(), "");
    reply.Warning(10000);
    EXPECT_FALSE(reply.HasError()); // warnings are not errors
    TakeAll(reply);
}

TEST(MOutputChannel, DestructorReportsTextLeftOver) {
    TraceCapture capture;
    {
        MOutputChannel channel(12);
        channel.Error(10);
        channel.Event(8);
    }
    EXPECT_EQ(capture.ErrLog(),
              (std::vector<std::string>{"~MOutputChannel(): Not all entries cleared for 0012\t!",
                                        "~MOutputChannel(): \"0012\terror \"aborted\"\r\n" +
                                            kMachineChanged + "\""}));
    capture.Clear();
    {
        MOutputChannel taken(13);
        taken.Data(std::string("taken"));
        TakeAll(taken);
        MOutputChannel pendingOnly(14);
        pendingOnly.Event(1);
    }
    EXPECT_EQ(capture.ErrLog().size(), 2u);
    EXPECT_EQ(capture.CountErrLog("Not all entries cleared for 0014"), 1);
}
