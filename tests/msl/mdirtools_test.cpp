#include "msl/mfileio/mdirtools.h"
#include "msl/mfileio/mfileops.h"
#include "platform/trace/tracecapture.h"
#include "tests/msl/fileio_testutil.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <tuple>

#if !defined(_WIN32)
#include <unistd.h>
#endif

using namespace fileio_test;
using vyx::test::Native;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::WriteFileBytes;
using vyx::trace::TraceCapture;

namespace {

// What the system says when a name is taken, and permission bits that a copy with "keep"
// carries over. Windows has only the read-only attribute, which the C run-time shows as the
// missing write bits.
#if defined(_WIN32)
const std::string kExists = "[183] \"";
constexpr unsigned kPrivate = 0444, kShared = 0666;
#else
const std::string kExists = "[17] \"File exists\"";
constexpr unsigned kPrivate = 0600, kShared = 0644;
#endif

// Changes the current directory for one scope.
struct CurrentDirectory {
    explicit CurrentDirectory(const std::string& dir) { std::filesystem::current_path(dir); }
    ~CurrentDirectory() { std::filesystem::current_path(saved); }
    std::filesystem::path saved = std::filesystem::current_path();
};

// A tree:  a.txt  b/  f.ini
void MakeTree(const std::string& root) {
    ASSERT_TRUE(std::filesystem::create_directory((root + Native("/b"))));
    for (const char* name : {"/a.txt", "/f.ini"})
        ASSERT_TRUE(WriteFileBytes(root + name, "x"));
}

// Records every callback as "F path" or "D path"; fails for the path `failOn`.
struct Recorder {
    Lines events;
    std::string failOn;
};

bool Record(void* context, const std::string& path) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->events.push_back((dir_exists(path.c_str()) ? "D " : "F ") + path);
    return path != recorder->failOn;
}

} // namespace

TEST(MDirTools, CreateDirectoryRecursive) {
    TempDir dir;
    {
        CurrentDirectory cd(dir.Path());
        EXPECT_TRUE(varn::createDirectoryRecursive("a/b/../c"));
        EXPECT_TRUE(varn::createDirectoryRecursive("./x/./y//z/"));
    }
    EXPECT_EQ(ListNames(dir.Path()), (Lines{"a", "x"}));
    EXPECT_EQ(ListNames(dir.File("a")), Lines{"c"}); // no "b"
    EXPECT_TRUE(dir_exists(dir.File(Native("x/y/z")).c_str()));
    EXPECT_TRUE(varn::createDirectoryRecursive(dir.File("x"))); // already there

    // A file stands where a directory is wanted.
    TraceCapture capture;
    ASSERT_TRUE(WriteFileBytes(dir.File("file"), "x"));
    std::string wanted = dir.File(Native("file/sub"));
    EXPECT_FALSE(varn::createDirectoryRecursive(wanted));
    Lines trace = capture.ErrTrace();
    ASSERT_EQ(trace.size(), 3u) << capture.Dump();
    EXPECT_EQ(Lines(trace.begin(), trace.begin() + 2),
              (Lines{"createDirectoryRecursive(): dir_mk(" + dir.File("file") + ") failed",
                     "createDirectoryRecursive(): want to create \"" + wanted + "\""}));
    // The system's own text follows the code.
    EXPECT_EQ(trace[2].rfind("createDirectoryRecursive(): system error: " + kExists, 0), 0u)
        << trace[2];
}

// The module walks one level (MDIR_NO_RECURSION); the deeper walks have no caller.
TEST(MDirTools, WalkOneLevelAndGoOnAfterFailures) {
    TempDir dir;
    MakeTree(dir.Path());
    const std::string r = dir.Path();
    auto walk = [&](bool files, const std::string& failOn) {
        Recorder recorder{{}, failOn};
        const bool ok = iterateDirectory(r, MDIR_NO_RECURSION, files ? Record : nullptr, &recorder,
                                         Record, &recorder);
        recorder.events.push_back(ok ? "ok" : "failed");
        return recorder.events;
    };
    const std::string a = r + Native("/a.txt"), b = r + Native("/b"), f = r + Native("/f.ini");
    TraceCapture capture;
    EXPECT_EQ(walk(true, ""), (Lines{"F " + a, "D " + b, "F " + f, "ok"}));
    EXPECT_EQ(walk(false, ""), (Lines{"D " + b, "ok"}));
    // A failed callback is reported, and the walk goes on.
    EXPECT_EQ(walk(true, a), (Lines{"F " + a, "D " + b, "F " + f, "failed"}));
    EXPECT_EQ(walk(true, b), (Lines{"F " + a, "D " + b, "F " + f, "failed"}));
    EXPECT_FALSE(iterateDirectory(r + Native("/missing"), 0, Record, nullptr, nullptr, nullptr));
    EXPECT_EQ(capture.ErrTrace(), (Lines{"iterateDirectory(): file callback failed for " + a,
                                         "iterateDirectory(): directory callback failed for " + b,
                                         "iterateDirectory(): FindFirstFile(" + r +
                                             Native("/missing/*) == INVALID_HANDLE_VALUE")}));
}

// The camera's folder seeding copies flat folders (mcameramachopen_test); here the copy's
// own edges: permissions kept, no existing or unreachable target.
TEST(MDirTools, CopyAndRemoveKeepWhatTheyMust) {
    TempDir dir;
    std::string source = dir.File("src"), target = dir.File("dst");
    ASSERT_TRUE(std::filesystem::create_directory(source));
    MakeTree(source);
    ASSERT_EQ(::chmod((source + Native("/a.txt")).c_str(), kPrivate), 0);
    ASSERT_EQ(::chmod((source + Native("/f.ini")).c_str(), kShared), 0);
    EXPECT_TRUE(copyDirectory(source, target));
    EXPECT_EQ(PermissionBits(target + Native("/a.txt")), kPrivate);
    EXPECT_EQ(PermissionBits(target + Native("/f.ini")), kShared);
    // Removal takes files, not folders. (Renames and their failure are the safe save's.) A
    // writable file: Windows refuses to remove the read-only copies.
    const std::string c = target + Native("/c.txt");
    ASSERT_TRUE(WriteFileBytes(c, "C"));
    EXPECT_TRUE(file_remove(c.c_str()));
    EXPECT_FALSE(file_remove(c.c_str()));
    EXPECT_FALSE(file_remove(target.c_str()));
    EXPECT_TRUE(dir_exists(target.c_str()));

    // Onto an existing directory: refused before anything is copied.
    std::string existing = dir.File("existing");
    ASSERT_TRUE(std::filesystem::create_directory(existing));
    std::string nowhere = dir.File(Native("no/such"));
    TraceCapture capture;
    EXPECT_FALSE(copyDirectory(source, existing));
    EXPECT_TRUE(ListNames(existing).empty());
    EXPECT_FALSE(copyDirectory(source, nowhere));
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"copyDirectory(): directory \"" + existing + "\" already exist",
                     "copyDirectory(): dir_mk(" + nowhere + ") failed"}));
}

TEST(MFileOps, PathText) {
    const std::pair<const char*, const char*> dirnames[] = {
        {"a/b/c.txt", "a/b/"}, {"/x", "/"}, {"a/b/", "a/b/"}, {"name.ini", nullptr}};
    for (const auto& [path, expected] : dirnames) {
        std::string out = "unchanged";
        EXPECT_EQ(file_dirname(path, out), expected != nullptr) << path;
        // The last separator is written as the platform's own.
        std::string written = expected ? expected : "unchanged";
        if (expected)
            written.back() = vyx::test::kSeparator;
        EXPECT_EQ(out, written) << path;
    }
    const std::string joined = std::string("a/b") + vyx::test::kSeparator + "c.ini";
    const std::tuple<const char*, const char*, const char*> joins[] = {
        {"a/b", "c.ini", joined.c_str()},
        {"a/b/", "c.ini", "a/b/c.ini"},
        {"C:\\cfg\\", "c.ini", "C:\\cfg\\c.ini"},
        {"", "c.ini", "c.ini"}};
    for (const auto& [dir, name, expected] : joins)
        EXPECT_EQ(file_join(dir, name), expected) << dir;
    for (const char* absolute : {"/etc", "C:/x", "z:"})
        EXPECT_TRUE(file_is_absolute(absolute)) << absolute;
    for (const char* relative : {"1:/x", "rel/x", "C", ""})
        EXPECT_FALSE(file_is_absolute(relative)) << relative;
}
