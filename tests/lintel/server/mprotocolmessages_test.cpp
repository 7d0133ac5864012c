#include "lintel/server/commands/mprotocolmessages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(MProtocolMessages, ErrorTable) {
    EXPECT_EQ(MProtocol_ErrorText(1), "error \"syntax invalid\"");
    EXPECT_EQ(MProtocol_ErrorText(15), "error \"transaction: command unknown\"");
    EXPECT_EQ(MProtocol_ErrorText(31), "error \"can't delete active probe\"");
    EXPECT_EQ(MProtocol_ErrorText(50), "error \"no imagefifo active\"");
    EXPECT_EQ(MProtocol_ErrorText(0), "error \"unknown error number 0\"");
    EXPECT_EQ(MProtocol_ErrorText(51), "error \"unknown error number 51\"");
    EXPECT_EQ(MProtocol_ErrorText(-3), "error \"unknown error number -3\"");

    std::set<std::string> distinct;
    for (int32_t code = 1; code <= 50; ++code) {
        std::string text = MProtocol_ErrorText(code);
        EXPECT_EQ(text.rfind("error \"", 0), 0u) << text;
        EXPECT_EQ(text.back(), '"') << text;
        EXPECT_EQ(text.find("unknown error number"), std::string::npos) << code;
        EXPECT_EQ(MProtocol_ErrorCode(text), code);
        distinct.insert(text);
    }
    EXPECT_EQ(distinct.size(), 50u);
    EXPECT_EQ(MProtocol_ErrorCode("error \"unknown error number 60\""), 0);
    EXPECT_EQ(MProtocol_ErrorCode("error \"Aborted\""), 0); // byte for byte
    EXPECT_EQ(MProtocol_ErrorCode("aborted"), 0);
}

TEST(MProtocolMessages, WarningTable) {
    const char* expected[] = {
        "warning \"machine: emergency\"", "warning \"machine: not initialized\"",
        "warning \"argument out of range\"", "warning \"ambiguous tip, using first\"",
        "warning \"operation with no effect\""};
    for (int32_t code = 10000; code <= 10004; ++code) {
        EXPECT_EQ(MProtocol_WarningText(code), expected[code - 10000]);
        EXPECT_EQ(MProtocol_WarningCode(expected[code - 10000]), code);
    }
    EXPECT_EQ(MProtocol_WarningText(10005), "warning \"unknown warning number 10005\"");
    EXPECT_EQ(MProtocol_WarningText(4), "warning \"unknown warning number 4\"");
    // An error text is not a warning, even where the words are the same.
    EXPECT_EQ(MProtocol_WarningCode("error \"machine: emergency\""), 0);
    EXPECT_EQ(MProtocol_ErrorCode("warning \"machine: emergency\""), 0);
}

TEST(MProtocolMessages, EventTable) {
    EXPECT_EQ(MProtocol_EventText(1), "event \"capabilities changed\"");
    EXPECT_EQ(MProtocol_BareEventText(8), "machine changed");
    EXPECT_EQ(MProtocol_BareEventText(62), "lumora: there is data to read from application");
    EXPECT_EQ(MProtocol_BareEventText(85), "keypad: key-dmc");
    EXPECT_EQ(MProtocol_BareEventText(88), "keypad: key-enable x1");
    EXPECT_EQ(MProtocol_BareEventText(96), "start/stop");
    for (int32_t gap : {0, 68, 86, 87, 97, -1}) {
        std::string bare = "unknown event number " + std::to_string(gap);
        EXPECT_EQ(MProtocol_BareEventText(gap), bare);
        EXPECT_EQ(MProtocol_EventText(gap), "event \"" + bare + "\"");
    }
    std::set<std::string> distinct;
    for (int32_t number = 0; number <= 96; ++number) {
        std::string bare = MProtocol_BareEventText(number);
        EXPECT_EQ(MProtocol_EventText(number), "event \"" + bare + "\"");
        distinct.insert(bare);
    }
    EXPECT_EQ(distinct.size(), 97u);
}
