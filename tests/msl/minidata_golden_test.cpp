// Golden files: every input under ini_golden/ is loaded with Open under the flags its
// manifest line gives; the document text and, after Save, the bytes on disk must equal the
// expected files byte for byte. Failing inputs must give their exact message.

#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef VYX_INI_GOLDEN_DIR
#error "VYX_INI_GOLDEN_DIR must name the folder of the INI golden files"
#endif

namespace {

struct GoldenCase {
    std::string id;
    std::string input;
    uint32_t flags = 0;
    bool ok = false;
};

// Test names and failure reports show the case by its id.
void PrintTo(const GoldenCase& c, std::ostream* out) {
    *out << c.id;
}

std::string Golden(const std::string& name) {
    return vyx::test::ReadFileBytes(std::string(VYX_INI_GOLDEN_DIR) + "/" + name);
}

std::vector<GoldenCase> LoadManifest() {
    std::vector<GoldenCase> cases;
    std::istringstream manifest(Golden("cases.txt"));
    std::string line;
    while (std::getline(manifest, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        GoldenCase c;
        std::string flags, result;
        fields >> c.id >> c.input >> flags >> result;
        c.flags = static_cast<uint32_t>(std::strtoul(flags.c_str(), nullptr, 16));
        c.ok = result == "ok";
        cases.push_back(c);
    }
    return cases;
}

class MIniDataGolden : public testing::TestWithParam<GoldenCase> {};

TEST_P(MIniDataGolden, LoadAndSaveGiveExactBytes) {
    const GoldenCase& c = GetParam();
    const std::string input = Golden(c.input);
    const std::string content = Golden(c.id + ".content");
    vyx::test::TempDir dir;
    const std::string path = dir.File("doc.ini");
    ASSERT_TRUE(vyx::test::WriteFileBytes(path, input));

    vyx::trace::TraceCapture capture;
    MIniData ini(c.flags);
    ASSERT_EQ(ini.Open(path), c.ok) << capture.Dump();
    EXPECT_EQ(ini.GetContentString(), content);
    if (!c.ok) {
        EXPECT_EQ(ini.GetMessage(), Golden(c.id + ".message"));
        EXPECT_FALSE(ini.IsOpen());
        ASSERT_FALSE(capture.ErrTrace().empty());
        EXPECT_EQ(capture.ErrTrace().back().rfind("MIniData::Open(", 0), 0u) << capture.Dump();
        EXPECT_EQ(vyx::test::ReadFileBytes(path), input); // a failed load changes nothing
        return;
    }
    EXPECT_TRUE(ini.IsOpen());
    EXPECT_TRUE(ini.IsInSync());
    EXPECT_FALSE(ini.IsNewFile());
    EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();

    ASSERT_TRUE(ini.Save()) << capture.Dump();
    EXPECT_EQ(vyx::test::ReadFileBytes(path), Golden(c.id + ".saved"));
    // What was saved loads to the same document.
    MIniData again(c.flags);
    ASSERT_TRUE(again.Open(path));
    EXPECT_EQ(again.GetContentString(), content);
}

INSTANTIATE_TEST_SUITE_P(Files, MIniDataGolden, testing::ValuesIn(LoadManifest()),
                         [](const testing::TestParamInfo<GoldenCase>& info) {
                             return info.param.id;
                         });

TEST(MIniDataGoldenManifest, CoversEveryInput) {
    // A manifest that failed to load would silently run no case at all.
    EXPECT_GE(LoadManifest().size(), 37u);
}

} // namespace
