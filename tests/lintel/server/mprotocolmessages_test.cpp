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
// The texts of unknown error and event numbers are pinned by the output channel's tests.
TEST(MProtocolMessages, TablesWordForWord) {
    EXPECT_EQ(TableHash(1, 50, MProtocol_ErrorText), 0x6fde1e58df4aa791u);
    // Numbers 0, 68, 86 and 87 take part with their texts for unknown numbers.
    EXPECT_EQ(TableHash(0, 96, MProtocol_BareEventText), 0x1bf8a7086b1da0bdu);
    const char* warnings[] = {
        "warning \"machine: emergency\"", "warning \"machine: not initialized\"",
        "warning \"argument out of range\"", "warning \"ambiguous tip, using first\"",
        "warning \"operation with no effect\""};
    for (int32_t code = 10000; code <= 10004; ++code)
        EXPECT_EQ(MProtocol_WarningText(code), warnings[code - 10000]);
    EXPECT_EQ(MProtocol_ErrorText(0), "error \"unknown error number 0\"");
    EXPECT_EQ(MProtocol_ErrorText(51), "error \"unknown error number 51\"");
    EXPECT_EQ(MProtocol_WarningText(10005), "warning \"unknown warning number 10005\"");
    EXPECT_EQ(MProtocol_WarningText(4), "warning \"unknown warning number 4\"");
}
