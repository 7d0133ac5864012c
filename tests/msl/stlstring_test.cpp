#include "msl/mutil/stlstring.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cwchar>
#include <random>

namespace {

std::string Appended(double value, int digits) {
    std::string s = "x=";
    stl_string_append_double(s, value, digits);
    return s;
}

std::string FormatVa(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = stl_string_format_va(format, args);
    va_end(args);
    return text;
}

} // namespace

// The stack buffer holds 1023 characters; from 1024 on the text is formatted a second time.
TEST(StlString, FormatsShortAndLongTexts) {
    EXPECT_EQ(stl_string_format("%s=%d", "key", -7), "key=-7");
    for (std::size_t n : {1022, 1023, 1024, 1025, 70000}) {
        std::string big(n, 'q');
        big.back() = 'z';
        EXPECT_EQ(stl_string_format("%s", big.c_str()), big) << n;
        EXPECT_EQ(FormatVa("<%s>", big.c_str()), "<" + big + ">") << n;
        std::string target = "old";
        EXPECT_EQ(stl_string_format(target, "%s", big.c_str()), static_cast<int>(n));
        EXPECT_EQ(target, big);
    }
}

TEST(StlString, FormattingErrorsGoToTheErrorLog) {
    vyx::trace::TraceCapture capture;
    // A wide character the C locale cannot convert makes the C library's formatting fail.
    const wint_t euro = 0x20AC;
    EXPECT_EQ(stl_string_format("%lc", euro), "");
    EXPECT_EQ(FormatVa("%lc", euro), "");
    std::string target = "kept";
    EXPECT_EQ(stl_string_format(target, "%lc", euro), -1);
    EXPECT_EQ(target, "kept");
    ASSERT_EQ(capture.ErrLog().size(), 2u) << capture.Dump();
    EXPECT_EQ(capture.ErrLog()[0].rfind("stl_string_format(): stl_string_format() failed: ", 0),
              0u);
    EXPECT_EQ(
        capture.ErrLog()[1].rfind("stl_string_format_va(): stl_string_format_va() failed: ", 0),
        0u);
    EXPECT_TRUE(capture.ErrTrace().empty());
}

TEST(StlString, AppendsNumbers) {
    std::string s = "n=";
    stl_string_append_int(s, INT_MIN);
    s += ',';
    stl_string_append_int(s, INT_MAX);
    s += ',';
    stl_string_append_int(s, 0);
    EXPECT_EQ(s, "n=-2147483648,2147483647,0");

    EXPECT_EQ(Appended(1.5, 6), "x=1.5");
    EXPECT_EQ(Appended(2.0, 3), "x=2");
    EXPECT_EQ(Appended(100.0, 2), "x=100"); // zeros before the point stay
    EXPECT_EQ(Appended(10.05, 3), "x=10.05");
    EXPECT_EQ(Appended(-0.25, 6), "x=-0.25");
    EXPECT_EQ(Appended(1.23456, 2), "x=1.23");
    EXPECT_EQ(Appended(1e20, 1), "x=100000000000000000000");
    EXPECT_EQ(Appended(7.0, 0), "x=7");
    EXPECT_EQ(Appended(1.0 / 0.0, 3), "x=inf");
}

TEST(StlString, ReplacesAllLeftToRight) {
    std::string s = "aaa";
    EXPECT_EQ(stl_string_replace_all(s, "a", "aa"), 3u); // resumes after the replacement
    EXPECT_EQ(s, "aaaaaa");
    s = "aaaa";
    EXPECT_EQ(stl_string_replace_all(s, "aa", "b"), 2u);
    EXPECT_EQ(s, "bb");
    s = "a\\b\\\\c";
    EXPECT_EQ(stl_string_replace_all(s, "\\", "/"), 3u);
    EXPECT_EQ(s, "a/b//c");
    s = "xyz";
    EXPECT_EQ(stl_string_replace_all(s, "", "q"), 0u);
    EXPECT_EQ(stl_string_replace_all(s, "xyzz", "q"), 0u);
    EXPECT_EQ(s, "xyz");
    EXPECT_EQ(stl_string_replace_all(s, s, "[" + s + "]"), 1u); // search text inside s itself
    EXPECT_EQ(s, "[xyz]");
}

TEST(StlString, QuotesAndUnquotesSpaces) {
    std::string s = "a b\"c";
    stl_string_quote_space(s);
    EXPECT_EQ(s, "\"a b\\\"c\"");
    ASSERT_TRUE(stl_string_unquote_space(s));
    EXPECT_EQ(s, "a b\"c");

    s = "a\\b";
    stl_string_quote_space(s); // no space: escaped but not quoted
    EXPECT_EQ(s, "a\\\\b");
    s = "plain";
    stl_string_quote_space(s);
    EXPECT_EQ(s, "plain");
    ASSERT_TRUE(stl_string_unquote_space(s));
    EXPECT_EQ(s, "plain");
    s = "x\"a b\" c"; // text before the first special character is kept, later spaces too
    ASSERT_TRUE(stl_string_unquote_space(s));
    EXPECT_EQ(s, "xa b c");
}

TEST(StlString, UnquoteFailuresLeaveTheStringAlone) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\\x", "stl_string_unquote_space(): can't unquote a lonely backslash"},
        {"ab\\", "stl_string_unquote_space(): can't unquote a lonely backslash"},
        {"\"ab", "stl_string_unquote_space(): no closing quote found"},
        {"\"a\"\"b", "stl_string_unquote_space(): no closing quote found"},
        {"a b\"", "stl_string_unquote_space(): found unquoted space"},
    };
    for (const auto& [text, message] : cases) {
        vyx::trace::TraceCapture capture;
        std::string s = text;
        EXPECT_FALSE(stl_string_unquote_space(s)) << text;
        EXPECT_EQ(s, text);
        EXPECT_EQ(capture.ErrTrace(), std::vector<std::string>{message}) << text;
    }
}

TEST(StlString, QuoteThenUnquoteGivesBackAnyString) {
    std::mt19937 random(7);
    const char alphabet[] = {'a', ' ', '"', '\\', 'b'};
    for (int round = 0; round < 2000; ++round) {
        std::string original(random() % 12, ' ');
        for (char& c : original)
            c = alphabet[random() % sizeof alphabet];
        std::string s = original;
        stl_string_quote_space(s);
        ASSERT_TRUE(stl_string_unquote_space(s)) << original;
        ASSERT_EQ(s, original);
    }
}
