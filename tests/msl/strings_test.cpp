// Texts: base64, string formatting and trimming, byte order marks.
#include "msl/mstreams/mbase64.h"
#include "msl/mstreams/stlbase64.h"
#include "msl/mutil/bom.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace std::string_literals;

// Decodes with the codec into a buffer of exactly the promised size, so that AddressSanitizer
// sees any write beyond it. Returns the codec's result.
std::int64_t Decode(const std::string& text, std::string& out) {
    const std::size_t length = MBase64_Binary(text.size());
    std::vector<char> buffer(MBase64_DecodedLength(text.data(), length));
    std::int64_t n = MBase64_Decode(buffer.data(), text.data(), length);
    if (n >= 0) {
        EXPECT_EQ(static_cast<std::size_t>(n), buffer.size());
    }
    out.assign(buffer.data(), n < 0 ? 0 : static_cast<std::size_t>(n));
    return n;
}

// The in-place wrappers' results on a copy, each expected to succeed.
std::string Encoded(std::string s) {
    EXPECT_TRUE(stl_encode_base64(s));
    return s;
}

std::string Decoded(std::string s) {
    EXPECT_TRUE(stl_decode_base64(s));
    return s;
}

} // namespace

TEST(Base64, KnownTextsBothWaysAndLenientLastGroups) {
    const std::pair<std::string, std::string> cases[] = {{"", ""},
                                                         {"a", "YQ=="},
                                                         {"ab", "YWI="},
                                                         {"abc", "YWJj"},
                                                         {"foobar", "Zm9vYmFy"},
                                                         {"\xff\xfe\x00\x80\x3f"s, "//4AgD8="},
                                                         {"\xfb\xff", "+/8="}};
    for (const auto& [plain, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Encoded(plain), text);
        EXPECT_EQ(Decoded(text), plain);
        EXPECT_EQ(Decoded(text + "\0\0\0"s), plain); // trailing zero bytes are ignored
    }
    // Only the first two places of the last group must be alphabet characters: 'xy=w' is
    // read like 'xy==', within the length that MBase64_DecodedLength promises.
    for (const auto& [text, bytes] :
         {std::pair{"YW=j"s, "a"s}, {"YWJjYW=j"s, "abca"s}, {"YW=="s, "a"s}}) {
        SCOPED_TRACE(text);
        std::string decoded;
        EXPECT_EQ(Decode(text, decoded), static_cast<std::int64_t>(bytes.size()));
        EXPECT_EQ(decoded, bytes);
        EXPECT_EQ(Decoded(text), bytes);
    }
}

// Every length 0 to 300 of random bytes, which covers each remainder many times, encoded by the
// in-place wrapper and decoded into a buffer of exactly the promised size. (What decodes at all
// must decode back: the alphabet, the padding and the decoding wrapper are the known texts'.)
TEST(Base64, RoundTripsRandomDataOfEveryLength) {
    std::mt19937 random(20240611);
    for (std::size_t n = 0; n <= 300; ++n) {
        SCOPED_TRACE(n);
        std::string data(n, '\0');
        for (char& c : data)
            c = static_cast<char>(random());
        std::string s;
        ASSERT_EQ(Decode(Encoded(data), s), static_cast<std::int64_t>(n));
        ASSERT_EQ(s, data);
    }
}

TEST(Base64, RejectsBadLengthsIllegalCharactersAndMisplacedPadding) {
    {
        vyx::trace::TraceCapture capture;
        std::string s = "YWI";
        EXPECT_FALSE(stl_decode_base64(s));
        EXPECT_TRUE(s.empty());
        // The wrapper names the length as it handed it to the decoder, in binary mode.
        EXPECT_EQ(capture.ErrTrace(),
                  (std::vector<std::string>{
                      "MBase64_Decode(): source_len has to be multiple of 4, not 3",
                      "stl_decode_base64(): MBase64_Decode(18446744073709551612) failed (2)"}));
    }
    const std::pair<std::string, const char*> cases[] = {
        {"YW!j", "0x21"},      {"YW j", "0x20"},       {"YWJ\x80", "0x80"},  {"YW\xffj", "0xff"},
        {"YWJjYW\nj", "0x0a"}, {"=WJj", "0x3d"},       {"Y=Jj", "0x3d"},     {"==Jj", "0x3d"},
        {"Y===", "0x3d"},      {"====", "0x3d"},       {"YW==YWJj", "0x3d"}, {"YWJ=YWJj", "0x3d"},
        {"YWJjYW-_", "0x2d"},  {"YWJj\0WJj"s, "0x00"},
    };
    for (const auto& [text, offender] : cases) {
        SCOPED_TRACE(text);
        vyx::trace::TraceCapture capture;
        std::string decoded;
        EXPECT_EQ(Decode(text, decoded), -1);
        EXPECT_EQ(capture.ErrTrace(),
                  std::vector<std::string>{"MBase64_Decode(): illegal character "s + offender +
                                           " read, terminating"});
        std::string s = text + "\0"s; // the wrapper too, which drops only the zero at the end
        EXPECT_FALSE(stl_decode_base64(s));
        EXPECT_TRUE(s.empty());
    }
}

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
