#include "msl/mutil/bom.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cwchar>

namespace {

using Lines = std::vector<std::string>;

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
    for (std::size_t n : {1023, 1024, 70000}) {
        std::string big(n, 'q');
        big.back() = 'z';
        EXPECT_EQ(stl_string_format("%s", big.c_str()), big) << n;
        EXPECT_EQ(FormatVa("<%s>", big.c_str()), "<" + big + ">") << n;
        std::string target = "old";
        EXPECT_EQ(stl_string_format(target, "%s", big.c_str()), static_cast<int>(n));
        EXPECT_EQ(target, big);
    }
#if !defined(_WIN32)
    // A wide character the C locale cannot convert makes the C library's formatting fail
    // (MinGW's printf writes nothing for it instead).
    vyx::trace::TraceCapture capture;
    const wint_t euro = 0x20AC;
    EXPECT_EQ(stl_string_format("%lc", euro), "");
    EXPECT_EQ(FormatVa("%lc", euro), "");
    std::string target = "kept";
    EXPECT_EQ(stl_string_format(target, "%lc", euro), -1);
    EXPECT_EQ(target, "kept");
    Lines log = capture.ErrLog();
    ASSERT_EQ(log.size(), 2u) << capture.Dump(); // the error log, not the error trace
    EXPECT_EQ(log[0].rfind("stl_string_format(): stl_string_format() failed: ", 0), 0u);
    EXPECT_EQ(log[1].rfind("stl_string_format_va(): stl_string_format_va() failed: ", 0), 0u);
    EXPECT_TRUE(capture.ErrTrace().empty());
#endif
}

TEST(StlString, AppendsNumbersAndReplaces) {
    std::string s = "n=";
    for (int value : {INT_MIN, INT_MAX, 0})
        stl_string_append_int(s, value);
    EXPECT_EQ(s, "n=-214748364821474836470");
    // Trailing zeros go, the ones before the point stay.
    const std::tuple<double, int, const char*> doubles[] = {
        {1.5, 6, "1.5"},      {100.0, 2, "100"}, {10.05, 3, "10.05"},
        {1.23456, 2, "1.23"}, {7.0, 0, "7"},     {1.0 / 0.0, 3, "inf"}};
    for (const auto& [value, digits, text] : doubles) {
        s = "x=";
        stl_string_append_double(s, value, digits);
        EXPECT_EQ(s, std::string("x=") + text);
    }
    // The search resumes after each replacement.
    const std::tuple<const char*, const char*, const char*, std::size_t, const char*> replaces[] = {
        {"aaa", "a", "aa", 3, "aaaaaa"},
        {"aaaa", "aa", "b", 2, "bb"},
        {"xyz", "", "q", 0, "xyz"},
        {"xyz", "xyzz", "q", 0, "xyz"}};
    for (const auto& [text, search, replacement, count, result] : replaces) {
        s = text;
        EXPECT_EQ(stl_string_replace_all(s, search, replacement), count) << text;
        EXPECT_EQ(s, result);
    }
    s = "xyz";
    EXPECT_EQ(stl_string_replace_all(s, s, "[" + s + "]"), 1u); // search text inside s itself
    EXPECT_EQ(s, "[xyz]");
}

TEST(StlString, TrimsBlanksAndTabsOnly) {
    const std::pair<const char*, const char*> trims[] = {
        {" \t a b\t ", "a b"}, {"\t \t", ""}, {"", ""}, {"x", "x"}, {"\na\r", "\na\r"}};
    for (const auto& [text, expected] : trims)
        EXPECT_EQ(stl_string_trim_blanks(text), expected) << text;
}

TEST(StlString, QuotesAndUnquotesSpaces) {
    const std::pair<const char*, const char*> quoted[] = {
        {"a b\"c", "\"a b\\\"c\""}, {"a\\b", "a\\\\b"}, {"plain", "plain"}};
    for (const auto& [text, expected] : quoted) {
        std::string s = text;
        stl_string_quote_space(s);
        EXPECT_EQ(s, expected);
        ASSERT_TRUE(stl_string_unquote_space(s));
        EXPECT_EQ(s, text);
    }
    std::string s = "x\"a b\" c"; // text before the first special character stays, later spaces too
    ASSERT_TRUE(stl_string_unquote_space(s));
    EXPECT_EQ(s, "xa b c");

    const std::pair<const char*, const char*> failures[] = {
        {"a\\x", "can't unquote a lonely backslash"},
        {"ab\\", "can't unquote a lonely backslash"},
        {"\"ab", "no closing quote found"},
        {"\"a\"\"b", "no closing quote found"},
        {"a b\"", "found unquoted space"}};
    for (const auto& [text, message] : failures) {
        vyx::trace::TraceCapture capture;
        s = text;
        EXPECT_FALSE(stl_string_unquote_space(s)) << text;
        EXPECT_EQ(s, text);
        EXPECT_EQ(capture.ErrTrace(), Lines{std::string("stl_string_unquote_space(): ") + message});
    }
}

// Whole marks of INI files are the golden tests' (ini_golden/bom_*): here the shared prefixes.
TEST(Bom, DetectsTheLongestMatchingMark) {
    const std::pair<std::string, int> cases[] = {
        {std::string("\xFF\xFE\x00\x00\x41", 5), BOM_UTF32_LE},
        {std::string("\xFF\xFE\x00", 3), BOM_UTF16_LE}, // too short for UTF-32
        {"\xEF\xBB", BOM_NONE},
        {"", BOM_NONE}};
    for (const auto& [bytes, type] : cases)
        EXPECT_EQ(detect_bom(bytes.data(), bytes.size()), type) << bytes.size();
    for (int type = BOM_NONE; type <= BOM_UTF32_LE; ++type)
        EXPECT_EQ(detect_bom(bom_bytes(type).data(), bom_bytes(type).size()), type);
    EXPECT_TRUE(bom_bytes(6).empty() && bom_bytes(-1).empty());
}
