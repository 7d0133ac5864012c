// The protocol's request lines, argument forms and line cutting.

#include "host/lintelhost/lineassembler.h"
#include "host/lintelhost/requestarguments.h"
#include "host/lintelhost/requestparser.h"
#include "host/lintelhost/textescape.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Status = ParsedRequest::Status;

struct LineCase {
    const char* line;
    Status status;
    int tid;
    std::vector<std::string> words;
};

TEST(RequestParser, SplitsTidAndWords) {
    const LineCase cases[] = {
        {"1 get time x", Status::Ok, 1, {"get", "time", "x"}},
        {"  0042\tget\t x  \r", Status::Ok, 42, {"get", "x"}},
        {"9999 version", Status::Ok, 9999, {"version"}},
        {"7 send a \"b c\\n\\\"\\\\\\t\\r\"", Status::Ok, 7, {"send", "a", "b c\n\"\\\t\r"}},
        {"7 send a \"\"", Status::Ok, 7, {"send", "a", ""}},
        {"", Status::TidMissing, 0, {}},
        {"   ", Status::TidMissing, 0, {}},
        {"get 1", Status::TidMissing, 0, {}},
        {"\"1\" get", Status::TidMissing, 0, {}},
        {"0 get", Status::TidInvalid, 0, {}},
        {"10000 get", Status::TidInvalid, 0, {}},
        {"99999999999999999999 get", Status::TidInvalid, 0, {}},
        {"12a get", Status::TidInvalid, 0, {}},
        {"-1 get", Status::TidInvalid, 0, {}},
        {"+1 get", Status::TidInvalid, 0, {}},
        {"5", Status::KeywordMissing, 5, {}},
        {"5 \r", Status::KeywordMissing, 5, {}},
        {"6 send \"open", Status::SyntaxInvalid, 6, {}},
        {"6 send \"a\\x\"", Status::SyntaxInvalid, 6, {}},
        {"6 send \"a\"b", Status::SyntaxInvalid, 6, {}},
        {"6 send a\"b\"", Status::SyntaxInvalid, 6, {}},
        {"6 send \"ends in backslash\\", Status::SyntaxInvalid, 6, {}},
        {"6 get a\rb", Status::SyntaxInvalid, 6, {}},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.line);
        ParsedRequest r = ParseRequestLine(c.line);
        EXPECT_EQ(r.status, c.status);
        if (c.status != Status::TidMissing && c.status != Status::TidInvalid) {
            EXPECT_EQ(r.tid, c.tid);
        }
        EXPECT_EQ(r.words, c.words);
    }
    // A NUL inside the line (not cut short by a C string).
    EXPECT_EQ(ParseRequestLine(std::string_view("6 get a\0b", 9)).status, Status::SyntaxInvalid);
}

TEST(RequestParser, QuotedTextRoundTrips) {
    for (std::string text : {std::string(), std::string("plain"), std::string("\"\\\n\r\t"),
                             std::string("[Camera]\nzoom=2\n"), std::string("\x01\x7f\xff")}) {
        std::string quoted = QuoteText(text);
        EXPECT_EQ(quoted.find('\n'), std::string::npos);
        size_t pos = 0;
        std::string back;
        ASSERT_TRUE(UnquoteText(quoted, pos, back));
        EXPECT_EQ(back, text);
        EXPECT_EQ(pos, quoted.size());
    }
}

TEST(RequestArguments, Numbers) {
    double d = 0;
    for (auto [word, value] :
         {std::pair{"1.5", 1.5}, {"-0.25", -0.25}, {"2e-3", 2e-3}, {"7", 7.0}}) {
        EXPECT_TRUE(ParseNumber(word, d)) << word;
        EXPECT_EQ(d, value);
    }
    for (const char* bad : {"", "+1", "1,5", "0x10", "inf", "nan", "1e999", "1.5x", " 1"})
        EXPECT_FALSE(ParseNumber(bad, d)) << bad;

    uint32_t u = 0;
    EXPECT_TRUE(ParseUnsigned32("4294967295", u));
    EXPECT_EQ(u, 4294967295u);
    for (const char* bad : {"4294967296", "-1", "+1", "", "1.0", "1 "})
        EXPECT_FALSE(ParseUnsigned32(bad, u)) << bad;
    uint64_t big = 0;
    EXPECT_TRUE(ParseUnsigned64("18446744073709551615", big));
    EXPECT_FALSE(ParseUnsigned64("18446744073709551616", big));
    int32_t s = 0;
    EXPECT_TRUE(ParseSigned32("-2147483648", s));
    EXPECT_EQ(s, INT32_MIN);
    EXPECT_FALSE(ParseSigned32("2147483648", s));
    EXPECT_FALSE(ParseSigned32("-", s));
}

TEST(RequestArguments, AxisPairs) {
    struct Case {
        const char* word;
        bool relativeAllowed;
        int code;
        AxisPair pair;
    };
    const Case cases[] = {
        {"x=1.5", false, 0, {"x", 1.5, false}},
        {"time+=2", true, 0, {"time", 2, true}},
        {"time+=2", false, 0, {"time+", 2, false}},
        {"a=b=1", false, 3, {}},
        {"x", false, 1, {}},
        {"=1", false, 1, {}},
        {"+=1", true, 1, {}},
        {"x=", false, 3, {}},
        {"x=nan", false, 3, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        AxisPair pair;
        EXPECT_EQ(ParseAxisPair(c.word, c.relativeAllowed, pair), c.code);
        if (c.code == 0) {
            EXPECT_EQ(pair.axis, c.pair.axis);
            EXPECT_EQ(pair.value, c.pair.value);
            EXPECT_EQ(pair.relative, c.pair.relative);
        }
    }
}

TEST(LineAssembler, CutsAtLfAndDropsOverlongLines) {
    std::vector<std::string> lines;
    int overlong = 0;
    LineAssembler assembler(
        8, [&](std::string_view line) { lines.emplace_back(line); }, [&] { ++overlong; });
    // Pieces that split lines, a CR LF split across two reads, a line of exactly the limit
    // plus CR, and overlong lines with and without their end in the same piece.
    for (std::string piece : {std::string("ab"), std::string("c\nde"), std::string("f\r"),
                              std::string("\n12345678\r\n"), std::string("123456789\nok\n"),
                              std::string("0123456789abcdef"), std::string("ghij\nlast\n")})
        assembler.Feed(piece.data(), piece.size());
    EXPECT_EQ(lines, (std::vector<std::string>{"abc", "def\r", "12345678\r", "ok", "last"}));
    EXPECT_EQ(overlong, 2);
}

} // namespace
