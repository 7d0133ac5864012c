#include "msl/merror/merrtracecontext.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/childprocess.h"
#include "tests/support/testsupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using vyx::trace::TraceCapture;

namespace {

bool Fail(const char* what) {
    MERRTRACE("Inner(): %s failed", what);
    return false;
}

bool Middle() {
    if (!Fail("open"))
        MERRTRACE("Middle(): could not go on");
    return false;
}

} // namespace

// The edge of the level (3 traced, 4 not) is the trace file's test.
TEST(Trace, LevelsFilterMessages) {
    TraceCapture capture(3);
    MTRACE(2, "two %d", 2);
    MTRACE_LEVEL(5, "five");
    MTRACE_LEVEL(1, "one");
    std::vector<std::pair<int, std::string>> lines;
    for (const vyx::trace::TraceLine& line : capture.Trace())
        lines.emplace_back(line.level, line.text);
    EXPECT_EQ(lines, (std::vector<std::pair<int, std::string>>{{2, "two 2"}, {1, "one"}}));
    _MTrace_SetLevel("other", 5); // a channel of its own level
    EXPECT_TRUE(_MTrace_TestLevel("other", 5));
    EXPECT_TRUE(_MTrace_TestLevel("default", 3));
    EXPECT_FALSE(_MTrace_TestLevel("default", 4));
    EXPECT_FALSE(_MTrace_TestLevel("default", 0)); // level 0 is never a message level
    _MTrace_SetLevel("other", 0);
}

// Every test that counts error-trace lines uses the plain chain; here how contexts nest and
// how a dump is headed.
TEST(ErrTrace, NestedContextsHandTheirLinesOutwardAndADumpClearsThem) {
    TraceCapture capture;
    const std::string exact(254, 'a'), tooLong(300, 'b');
    {
        MErrTraceContext context(__FILE__);
        Middle();
        MErrTrace_BeginContext();
        EXPECT_EQ(MErrTrace_GetDepth(), 2);
        EXPECT_TRUE(MErrTrace_GetContextLines().empty()); // the inner context starts empty
        MERRTRACE("Outer(): failed");
        MErrTrace_EndContext();
        EXPECT_EQ(MErrTrace_GetContextLines(),
                  (std::vector<std::string>{"Inner(): open failed", "Middle(): could not go on",
                                            "Outer(): failed"}));
        context.DumpToMErrLog(__LINE__, "%s", exact.c_str());
        EXPECT_TRUE(MErrTrace_GetContextLines().empty());
        Fail("read");
        MErrTrace_ClearContext(); // not in the next dump
        context.DumpToMErrLog(__LINE__, "%s", tooLong.c_str());
    }
    EXPECT_EQ(MErrTrace_GetDepth(), 0);
    MERRLOG("Save(): m_inidata not opened"); // straight to the log, not traced
    EXPECT_EQ(capture.ErrLog(),
              (std::vector<std::string>{
                  exact, "Inner(): open failed", "Middle(): could not go on", "Outer(): failed",
                  "MErrTraceContext::DumpToMErrLog(): output string too long !",
                  std::string(254, 'b'), "Save(): m_inidata not opened"}));
    EXPECT_EQ(capture.ErrTrace().size(), 4u);
}

TEST(TraceConcurrency, ContextsArePerThread) {
    TraceCapture capture;
    constexpr int kThreads = 4;
    std::vector<std::vector<std::string>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            MErrTraceContext context(__FILE__);
            for (int i = 0; i < 50; ++i) {
                MERRTRACE("thread %d line %d", t, i);
                MTRACE(4, "thread %d trace %d", t, i);
            }
            seen[t] = MErrTrace_GetContextLines();
            MErrTrace_ClearContext();
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), 50u);
        EXPECT_EQ(seen[t][0], "thread " + std::to_string(t) + " line 0");
        EXPECT_EQ(seen[t][49], "thread " + std::to_string(t) + " line 49");
    }
    EXPECT_EQ(capture.Trace().size(), static_cast<size_t>(kThreads * 50));
}

// The file output is configured from the environment when the process first traces, so it
// is checked in a child process that starts with the variables set.
TEST(TraceFile, LinesCarryTimeStampAndLevel) {
    if (std::getenv("VYX_TRACE_TEST_CHILD") != nullptr) {
        MTRACE(3, "hello from level %d", 3);
        MTRACE(4, "filtered out");
        MERRLOG("logged %s", "once");
        return;
    }
    vyx::test::TempDir dir;
    std::string trace = dir.File("trace.log"), errlog = dir.File("err.log");
    // The child inherits the settings; this process read its own long ago.
    const std::pair<const char*, std::string> settings[] = {{"VYX_TRACE_TEST_CHILD", "1"},
                                                            {"VYX_TRACE_LEVEL", "3"},
                                                            {"VYX_TRACE_FILE", trace},
                                                            {"VYX_ERRLOG_FILE", errlog}};
    for (const auto& [name, value] : settings)
        vyx::test::SetEnvironment(name, value.c_str());
    int status = vyx::test::RunProgram(vyx::test::SelfPath(),
                                       {"--gtest_filter=TraceFile.LinesCarryTimeStampAndLevel"},
                                       dir.File("stdout"), dir.File("stderr"));
    for (const auto& setting : settings)
        vyx::test::SetEnvironment(setting.first, nullptr);
    ASSERT_EQ(status, 0);
    std::string traced = vyx::test::ReadFileBytes(trace);
    // "YYYY-MM-DD hh:mm:ss.uuuuuu" starts every line.
    EXPECT_THAT(traced, ::testing::ContainsRegex("^....-..-.. ..:..:..\\....... .*"
                                                 " T3 hello from level 3 \\(trace_test\\.cpp:"));
    EXPECT_EQ(traced.find("filtered out"), std::string::npos);
    EXPECT_THAT(vyx::test::ReadFileBytes(errlog), ::testing::HasSubstr(" ERR logged once"));
}
