#include "lintel/server/commands/mprotocolmessages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// FNV-1a (64 bit) of texts joined by '\n': one number that pins a whole table, byte for byte.
template <typename TextOf> uint64_t TableHash(int32_t first, int32_t last, TextOf textOf) {
    uint64_t hash = 0xcbf29ce484222325u;
    for (int32_t number = first; number <= last; ++number) {
        std::string text = textOf(number) + (number < last ? "\n" : "");
        for (unsigned char byte : text)
            hash = (hash ^ byte) * 0x100000001b3u;
    }
    return hash;
}

} // namespace

// The golden hashes were taken from the protocol's published tables, not from this code.
TEST(MProtocolMessages, TablesWordForWord) {
    EXPECT_EQ(TableHash(1, 50, MProtocol_ErrorText), 0x6fde1e58df4aa791u);
    // Numbers 0, 68, 86 and 87 take part with their texts for unknown numbers.
    EXPECT_EQ(TableHash(0, 96, MProtocol_BareEventText), 0x1bf8a7086b1da0bdu);
    const char* warnings[] = {
        "warning \"machine: emergency\"", "warning \"machine: not initialized\"",
        "warning \"argument out of range\"", "warning \"ambiguous tip, using first\"",
        "warning \"operation with no effect\""};
    for (int32_t code = 10000; code <= 10004; ++code) {
        EXPECT_EQ(MProtocol_WarningText(code), warnings[code - 10000]);
        EXPECT_EQ(MProtocol_WarningCode(warnings[code - 10000]), code);
    }
    for (int32_t number = 0; number <= 96; ++number)
        EXPECT_EQ(MProtocol_EventText(number), "event \"" + MProtocol_BareEventText(number) + "\"");
}

TEST(MProtocolMessages, UnknownNumbersAndReverseLookup) {
    EXPECT_EQ(MProtocol_ErrorText(0), "error \"unknown error number 0\"");
    EXPECT_EQ(MProtocol_ErrorText(51), "error \"unknown error number 51\"");
    EXPECT_EQ(MProtocol_ErrorText(-3), "error \"unknown error number -3\"");
    EXPECT_EQ(MProtocol_WarningText(10005), "warning \"unknown warning number 10005\"");
    EXPECT_EQ(MProtocol_WarningText(4), "warning \"unknown warning number 4\"");
    for (int32_t gap : {0, 68, 86, 87, 97, -1}) {
        std::string bare = "unknown event number " + std::to_string(gap);
        EXPECT_EQ(MProtocol_BareEventText(gap), bare);
        EXPECT_EQ(MProtocol_EventText(gap), "event \"" + bare + "\"");
    }

    for (int32_t code = 1; code <= 50; ++code)
        EXPECT_EQ(MProtocol_ErrorCode(MProtocol_ErrorText(code)), code);
    EXPECT_EQ(MProtocol_ErrorCode("error \"unknown error number 60\""), 0);
    EXPECT_EQ(MProtocol_ErrorCode("error \"Aborted\""), 0); // byte for byte
    EXPECT_EQ(MProtocol_ErrorCode("aborted"), 0);
    // An error text is not a warning, even where the words are the same.
    EXPECT_EQ(MProtocol_WarningCode("error \"machine: emergency\""), 0);
    EXPECT_EQ(MProtocol_ErrorCode("warning \"machine: emergency\""), 0);
}
