#include "msl/mutil/bom.h"
#include "msl/mutil/stlstring.h"

#include <gtest/gtest.h>

#include <tuple>

// The stack buffer holds 1023 characters; from 1024 on the text is formatted a second time.
TEST(StlString, FormatsShortAndLongTexts) {
    EXPECT_EQ(stl_string_format("%s=%d", "key", -7), "key=-7");
    for (std::size_t n : {1023, 1024, 70000}) {
        std::string big(n, 'q');
        big.back() = 'z';
        EXPECT_EQ(stl_string_format("%s", big.c_str()), big) << n;
    }
}

TEST(StlString, ReplacesAndTrims) {
    std::string s;
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
    // Blanks and tabs only.
    const std::pair<const char*, const char*> trims[] = {
        {" \t a b\t ", "a b"}, {"\t \t", ""}, {"", ""}, {"x", "x"}, {"\na\r", "\na\r"}};
    for (const auto& [text, expected] : trims)
        EXPECT_EQ(stl_string_trim_blanks(text), expected) << text;
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
}
