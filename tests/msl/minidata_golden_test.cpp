// Golden files: every input under ini_golden/ is loaded with Open under the flags its
// manifest line gives; the document text and, after Save, the bytes on disk must equal the
// expected files byte for byte. Failing inputs must give their exact message.

#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#ifndef VYX_INI_GOLDEN_DIR
#error "VYX_INI_GOLDEN_DIR must name the folder of the INI golden files"
#endif

namespace {

std::string Golden(const std::string& name) {
    return vyx::test::ReadFileBytes(std::string(VYX_INI_GOLDEN_DIR) + "/" + name);
}

TEST(MIniDataGolden, LoadAndSaveGiveExactBytes) {
    std::istringstream manifest(Golden("cases.txt"));
    std::string line;
    int count = 0;
    while (std::getline(manifest, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string id, inputName, flags, result;
        fields >> id >> inputName >> flags >> result;
        SCOPED_TRACE(id);
        ++count;
        const std::string input = Golden(inputName);
        const std::string content = Golden(id + ".content");
        vyx::test::TempDir dir;
        const std::string path = dir.File("doc.ini");
        ASSERT_TRUE(vyx::test::WriteFileBytes(path, input));

        vyx::trace::TraceCapture capture;
        MIniData ini(static_cast<uint32_t>(std::strtoul(flags.c_str(), nullptr, 16)));
        ASSERT_EQ(ini.Open(path), result == "ok") << capture.Dump();
        EXPECT_EQ(ini.GetContentString(), content);
        EXPECT_EQ(ini.IsOpen(), result == "ok");
        if (result != "ok") {
            EXPECT_EQ(ini.GetMessage(), Golden(id + ".message"));
            ASSERT_FALSE(capture.ErrTrace().empty());
            EXPECT_EQ(capture.ErrTrace().back().rfind("MIniData::Open(", 0), 0u) << capture.Dump();
            EXPECT_EQ(vyx::test::ReadFileBytes(path), input); // a failed load changes nothing
            continue;
        }
        EXPECT_TRUE(ini.IsInSync());
        EXPECT_FALSE(ini.IsNewFile());
        EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
        ASSERT_TRUE(ini.Save()) << capture.Dump();
        EXPECT_EQ(vyx::test::ReadFileBytes(path), Golden(id + ".saved"));
        // What was saved loads to the same document.
        MIniData again(ini.GetFlags());
        ASSERT_TRUE(again.Open(path));
        EXPECT_EQ(again.GetContentString(), content);
    }
    EXPECT_GE(count, 37); // a manifest that failed to load would run no case at all
}

} // namespace
