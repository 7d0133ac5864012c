#include "msl/mstreams/mbase64.h"
#include "msl/mstreams/stlbase64.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

std::string Encoded(std::string s) {
    EXPECT_TRUE(stl_encode_base64(s));
    return s;
}

// Decodes with the codec into a buffer of exactly the promised size, so that AddressSanitizer
// sees any write beyond it; the result is empty with `ok` false on failure.
std::string Decoded(const std::string& text, bool* ok) {
    const std::size_t length = MBase64_Binary(text.size());
    std::vector<char> out(MBase64_DecodedLength(text.data(), length));
    std::int64_t n = MBase64_Decode(out.data(), text.data(), length);
    *ok = n >= 0;
    if (n < 0)
        return {};
    EXPECT_EQ(static_cast<std::size_t>(n), out.size());
    return std::string(out.data(), static_cast<std::size_t>(n));
}

} // namespace

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(Encoded(""), "");
    EXPECT_EQ(Encoded("a"), "YQ==");
    EXPECT_EQ(Encoded("ab"), "YWI=");
    EXPECT_EQ(Encoded("abc"), "YWJj");
    EXPECT_EQ(Encoded("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Encoded("\xff\xfe\x00\x80\x3f"s), "//4AgD8=");
    EXPECT_EQ(Encoded("\xfb\xff"s), "+/8=");
}

TEST(Base64, TextModeWritesTheTerminatorAndCountsIt) {
    EXPECT_EQ(MBase64_EncodedLength(4), 9u);
    EXPECT_EQ(MBase64_EncodedLength(MBase64_Binary(4)), 8u);
    char out[10];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(MBase64_Encode(out, "abcd", 4), 8);
    EXPECT_STREQ(out, "YWJjZA==");
    EXPECT_EQ(out[9], 'x');

    EXPECT_EQ(MBase64_DecodedLength("YWJjZA==", 8), 5u);
    EXPECT_EQ(MBase64_DecodedLength("YWJjZA==", MBase64_Binary(8)), 4u);
    EXPECT_EQ(MBase64_DecodedLength("YWJjZGU=", MBase64_Binary(8)), 5u);
    EXPECT_EQ(MBase64_DecodedLength("YQ", MBase64_Binary(1)), 0u);
    EXPECT_EQ(MBase64_DecodedLength("", 0), 1u);
    char decoded[6];
    std::memset(decoded, 'x', sizeof decoded);
    EXPECT_EQ(MBase64_Decode(decoded, "YWJjZA==", 8), 4);
    EXPECT_STREQ(decoded, "abcd");
    EXPECT_EQ(decoded[5], 'x');
    EXPECT_EQ(MBase64_Decode(decoded, "", 0), 0);
    EXPECT_EQ(decoded[0], '\0');
}

// Every length 0 to 300 of random bytes, which covers each remainder many times, through the
// in-place wrappers and through the codec with separate, guarded buffers.
TEST(Base64, RoundTripsRandomDataOfEveryLength) {
    std::mt19937 random(20240611);
    for (std::size_t n = 0; n <= 300; ++n) {
        std::string data(n, '\0');
        for (char& c : data)
            c = static_cast<char>(random());

        std::string s = data;
        ASSERT_TRUE(stl_encode_base64(s));
        ASSERT_EQ(s.size(), 4 * ((n + 2) / 3)) << n;
        ASSERT_EQ(s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                      "0123456789+/="),
                  std::string::npos);
        std::string text = s;
        ASSERT_TRUE(stl_decode_base64(s));
        ASSERT_EQ(s, data) << n;

        std::vector<char> encoded(MBase64_EncodedLength(n) + 1, '#');
        ASSERT_EQ(MBase64_Encode(encoded.data(), data.data(), n),
                  static_cast<std::int64_t>(text.size()));
        ASSERT_EQ(std::string(encoded.data()), text);
        ASSERT_EQ(encoded.back(), '#');
        bool ok = false;
        ASSERT_EQ(Decoded(text, &ok), data) << n;
    }
}

TEST(Base64, DecodeIgnoresTrailingZeroBytes) {
    std::string s = "YWI=\0\0\0"s;
    ASSERT_TRUE(stl_decode_base64(s));
    EXPECT_EQ(s, "ab");
    s = "YWJj\0"s;
    ASSERT_TRUE(stl_decode_base64(s));
    EXPECT_EQ(s, "abc");
}

TEST(Base64, RejectsLengthsThatAreNoMultipleOfFour) {
    vyx::trace::TraceCapture capture;
    std::string s = "YWI";
    EXPECT_FALSE(stl_decode_base64(s));
    EXPECT_TRUE(s.empty());
    // The wrapper names the length as it handed it to the decoder, in binary mode.
    const std::vector<std::string> expected = {
        "MBase64_Decode(): source_len has to be multiple of 4, not 3",
        "stl_decode_base64(): MBase64_Decode(18446744073709551612) failed (2)"};
    EXPECT_EQ(capture.ErrTrace(), expected);
}

TEST(Base64, RejectsIllegalCharactersAndMisplacedPadding) {
    struct Case {
        std::string text;
        const char* offender;
    };
    const Case cases[] = {
        {"YW!j", "0x21"},      {"YW j", "0x20"},     {"YWJ\x80", "0x80"},    {"YW\xffj", "0xff"},
        {"YWJjYW\nj", "0x0a"}, {"=WJj", "0x3d"},     {"Y=Jj", "0x3d"},       {"==Jj", "0x3d"},
        {"Y===", "0x3d"},      {"====", "0x3d"},     {"YW=j", "0x3d"},       {"YW==YWJj", "0x3d"},
        {"YWJ=YWJj", "0x3d"},  {"YWJjYW-_", "0x2d"}, {"YWJj\0WJj"s, "0x00"},
    };
    for (const Case& c : cases) {
        vyx::trace::TraceCapture capture;
        bool ok = true;
        EXPECT_EQ(Decoded(c.text, &ok), "");
        EXPECT_FALSE(ok) << c.text;
        EXPECT_EQ(capture.CountErrTrace("MBase64_Decode(): illegal character "s + c.offender +
                                        " read, terminating"),
                  1)
            << c.text << "\n"
            << capture.Dump();
        std::string s = c.text + "\0"s; // the wrapper too, which drops only the zero at the end
        EXPECT_FALSE(stl_decode_base64(s));
        EXPECT_TRUE(s.empty());
    }
}

TEST(Base64, WorksInPlace) {
    char buffer[16] = "hello";
    ASSERT_EQ(MBase64_Encode(buffer, buffer, 5), 8);
    EXPECT_STREQ(buffer, "aGVsbG8=");
    ASSERT_EQ(MBase64_Decode(buffer, buffer, 8), 5);
    EXPECT_STREQ(buffer, "hello");
}
