#include "msl/mfileio/mdirtools.h"
#include "msl/mfileio/mfileops.h"
#include "platform/trace/tracecapture.h"
#include "tests/msl/fileio_testutil.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using fileio_test::ListNames;
using vyx::test::PathExists;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::WriteFileBytes;
using vyx::trace::TraceCapture;
using Lines = std::vector<std::string>;

namespace {

// Changes the current directory for one test.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& dir) {
        char buf[PATH_MAX];
        saved = ::getcwd(buf, sizeof buf) != nullptr ? buf : "/";
        ok = ::chdir(dir.c_str()) == 0;
    }
    ~CurrentDirectory() { (void)::chdir(saved.c_str()); }
    bool ok;

private:
    std::string saved;
};

// A tree:  a.txt  b/c.txt  b/d/e.txt  f.ini
void MakeTree(const std::string& root) {
    ASSERT_EQ(::mkdir((root + "/b").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/b/d").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(root + "/a.txt", "A"));
    ASSERT_TRUE(WriteFileBytes(root + "/b/c.txt", "C"));
    ASSERT_TRUE(WriteFileBytes(root + "/b/d/e.txt", "E"));
    ASSERT_TRUE(WriteFileBytes(root + "/f.ini", "F"));
}

struct Recorder {
    Lines events;
    std::string failOn; // a path whose callback reports failure
};

bool RecordFile(void* context, const std::string& path) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->events.push_back("F " + path);
    return path != recorder->failOn;
}

bool RecordDir(void* context, const std::string& path) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->events.push_back("D " + path);
    return path != recorder->failOn;
}

bool CollectDirs(void* context, const std::string& path) {
    static_cast<Lines*>(context)->push_back(path);
    return true;
}

} // namespace

TEST(MDirTools, CreateDirectoryRecursive) {
    TempDir dir;
    {
        CurrentDirectory cd(dir.Path());
        ASSERT_TRUE(cd.ok);
        EXPECT_TRUE(varn::createDirectoryRecursive("a/b/../c"));
        EXPECT_TRUE(varn::createDirectoryRecursive("./x/./y//z/"));
    }
    EXPECT_EQ(ListNames(dir.Path()), (Lines{"a", "x"}));
    EXPECT_EQ(ListNames(dir.File("a")), Lines{"c"}); // no "b"
    EXPECT_TRUE(dir_exists(dir.File("x/y/z").c_str()));

    std::string deep = dir.File("p/q/r/s");
    EXPECT_TRUE(varn::createDirectoryRecursive(deep));
    EXPECT_TRUE(dir_exists(deep.c_str()));
    EXPECT_TRUE(varn::createDirectoryRecursive(deep)); // already there
    EXPECT_TRUE(varn::createDirectoryRecursive(dir.File("p/q/../t/")));
    EXPECT_EQ(ListNames(dir.File("p")), (Lines{"q", "t"}));
}

TEST(MDirTools, CreateDirectoryRecursiveFailures) {
    TempDir dir;
    TraceCapture capture;
    {
        // One level below the root, two levels up cannot be resolved.
        CurrentDirectory cd("/tmp");
        ASSERT_TRUE(cd.ok);
        EXPECT_FALSE(varn::createDirectoryRecursive("../../vyx_never_created"));
    }
    EXPECT_FALSE(PathExists("/vyx_never_created"));
    EXPECT_EQ(capture.ErrTrace(), Lines{"varn::createDirectoryRecursive(): Malformed path "
                                        "\"../../vyx_never_created\""});
    capture.Clear();

    // A file stands where a directory is wanted.
    ASSERT_TRUE(WriteFileBytes(dir.File("file"), "x"));
    std::string wanted = dir.File("file/sub");
    EXPECT_FALSE(varn::createDirectoryRecursive(wanted));
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"createDirectoryRecursive(): dir_mk(" + dir.File("file") + ") failed",
                     "createDirectoryRecursive(): want to create \"" + wanted + "\"",
                     "createDirectoryRecursive(): system error: [17] \"File exists\""}));
}

TEST(MDirTools, WalkOrderInEveryMode) {
    TempDir dir;
    MakeTree(dir.Path());
    const std::string r = dir.Path();
    auto walk = [&](int mode) {
        Recorder recorder;
        EXPECT_TRUE(iterateDirectory(r, mode, RecordFile, &recorder, RecordDir, &recorder));
        return recorder.events;
    };
    EXPECT_EQ(walk(MDIR_NO_RECURSION),
              (Lines{"F " + r + "/a.txt", "D " + r + "/b", "F " + r + "/f.ini"}));
    EXPECT_EQ(walk(MDIR_CONTENTS_FIRST),
              (Lines{"F " + r + "/a.txt", "F " + r + "/b/c.txt", "F " + r + "/b/d/e.txt",
                     "D " + r + "/b/d", "D " + r + "/b", "F " + r + "/f.ini"}));
    EXPECT_EQ(walk(MDIR_DIRECTORY_FIRST),
              (Lines{"F " + r + "/a.txt", "D " + r + "/b", "F " + r + "/b/c.txt", "D " + r + "/b/d",
                     "F " + r + "/b/d/e.txt", "F " + r + "/f.ini"}));

    // Directories only, without recursion: what the configuration seeding lists.
    Lines dirs;
    EXPECT_TRUE(iterateDirectory(r, MDIR_NO_RECURSION, nullptr, nullptr, CollectDirs, &dirs));
    EXPECT_EQ(dirs, Lines{r + "/b"});
}

TEST(MDirTools, WalkFailuresAreReportedAndTheWalkGoesOn) {
    TempDir dir;
    MakeTree(dir.Path());
    const std::string r = dir.Path();
    TraceCapture capture;
    Recorder recorder;
    recorder.failOn = r + "/b/c.txt";
    EXPECT_FALSE(
        iterateDirectory(r, MDIR_CONTENTS_FIRST, RecordFile, &recorder, RecordDir, &recorder));
    EXPECT_EQ(recorder.events.size(), 6u); // every entry still visited
    EXPECT_EQ(capture.ErrTrace(),
              Lines{"iterateDirectory(): file callback failed for " + r + "/b/c.txt"});
    capture.Clear();

    recorder = Recorder{};
    recorder.failOn = r + "/b/d";
    EXPECT_FALSE(
        iterateDirectory(r, MDIR_DIRECTORY_FIRST, RecordFile, &recorder, RecordDir, &recorder));
    EXPECT_EQ(recorder.events.size(), 6u);
    EXPECT_EQ(capture.ErrTrace(),
              Lines{"iterateDirectory(): directory callback failed for " + r + "/b/d"});
    capture.Clear();

    EXPECT_FALSE(iterateDirectory(r + "/missing", 0, RecordFile, &recorder, nullptr, nullptr));
    EXPECT_EQ(capture.ErrTrace(), Lines{"iterateDirectory(): FindFirstFile(" + r +
                                        "/missing/*) == INVALID_HANDLE_VALUE"});
}

TEST(MDirTools, CopyDirectoryTakesTopLevelFilesOnly) {
    TempDir dir;
    std::string source = dir.File("src");
    std::string target = dir.File("dst");
    ASSERT_EQ(::mkdir(source.c_str(), 0755), 0);
    MakeTree(source);
    ASSERT_EQ(::chmod((source + "/a.txt").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((source + "/f.ini").c_str(), 0644), 0);

    EXPECT_TRUE(copyDirectory(source, target));
    EXPECT_EQ(ListNames(target), (Lines{"a.txt", "f.ini"}));
    EXPECT_EQ(ReadFileBytes(target + "/a.txt"), "A");
    EXPECT_EQ(ReadFileBytes(target + "/f.ini"), "F");
    EXPECT_EQ(fileio_test::PermissionBits(target + "/a.txt"), 0600u);
    EXPECT_EQ(fileio_test::PermissionBits(target + "/f.ini"), 0644u);

    // Onto an existing directory: refused before anything is copied.
    std::string existing = dir.File("existing");
    ASSERT_EQ(::mkdir(existing.c_str(), 0755), 0);
    TraceCapture capture;
    EXPECT_FALSE(copyDirectory(source, existing));
    EXPECT_EQ(capture.ErrTrace(),
              Lines{"copyDirectory(): directory \"" + existing + "\" already exist"});
    EXPECT_TRUE(ListNames(existing).empty());
    capture.Clear();

    std::string nowhere = dir.File("no/such");
    EXPECT_FALSE(copyDirectory(source, nowhere));
    EXPECT_EQ(capture.ErrTrace(), Lines{"copyDirectory(): dir_mk(" + nowhere + ") failed"});
}

TEST(MDirTools, RecursiveCopyAndOverwrite) {
    TempDir dir;
    std::string source = dir.File("src");
    std::string target = dir.File("dst");
    ASSERT_EQ(::mkdir(source.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    MakeTree(source);
    ASSERT_EQ(::chmod((source + "/a.txt").c_str(), 0604), 0);
    EXPECT_TRUE(copy_directory(source + "/", target, true, false, false));
    EXPECT_NE(fileio_test::PermissionBits(target + "/a.txt"), 0604u); // "discard"
    EXPECT_EQ(ReadFileBytes(target + "/b/d/e.txt"), "E");
    EXPECT_EQ(ReadFileBytes(target + "/b/c.txt"), "C");
    EXPECT_EQ(ListNames(target), (Lines{"a.txt", "b", "f.ini"}));

    ASSERT_TRUE(WriteFileBytes(source + "/b/c.txt", "C2"));
    TraceCapture capture;
    EXPECT_FALSE(copy_directory(source, target, true, false, false)); // files exist
    EXPECT_EQ(capture.CountErrTrace("create_directory(): dir_mk(" + target + "/b) failed"), 1);
    EXPECT_EQ(capture.CountErrTrace("copyFile(): MFastFile_CopyFile(" + source + "/b/c.txt, " +
                                    target + "/b/c.txt) failed"),
              1);
    EXPECT_EQ(ReadFileBytes(target + "/b/c.txt"), "C");
    EXPECT_TRUE(copy_directory(source, target, true, false, true));
    EXPECT_EQ(ReadFileBytes(target + "/b/c.txt"), "C2");
    capture.Clear();

    std::string inside = source + "/b/copy";
    ASSERT_EQ(::mkdir(inside.c_str(), 0755), 0);
    EXPECT_FALSE(copy_directory(source, inside, true, false, true));
    EXPECT_EQ(capture.ErrTrace(),
              Lines{"copy_directory(): cannot recursively copy directories because 'target' is "
                    "a subdirectory of 'source' (" +
                    inside + "," + source + ")."});
    EXPECT_TRUE(ListNames(inside).empty());
}

TEST(MDirTools, DeleteFilesByExtension) {
    TempDir dir;
    for (const char* name : {"a.tmp", "b.bak", "c.ini", "d", "e.tmp.ini"})
        ASSERT_TRUE(WriteFileBytes(dir.File(name), "x"));
    ASSERT_EQ(::mkdir(dir.File("sub.tmp").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(dir.File("sub.tmp/f"), "x"));
    ASSERT_TRUE(WriteFileBytes(dir.File("sub.tmp/g.bak"), "x"));

    std::vector<std::string> extensions{".tmp", ".bak"};
    EXPECT_TRUE(iterateDirectory(dir.Path(), MDIR_CONTENTS_FIRST, deleteFile, &extensions, nullptr,
                                 nullptr));
    EXPECT_EQ(ListNames(dir.Path()), (Lines{"c.ini", "d", "e.tmp.ini", "sub.tmp"}));
    EXPECT_EQ(ListNames(dir.File("sub.tmp")), Lines{"f"});

    EXPECT_TRUE(
        iterateDirectory(dir.Path(), MDIR_CONTENTS_FIRST, deleteFile, nullptr, nullptr, nullptr));
    EXPECT_EQ(ListNames(dir.Path()), Lines{"sub.tmp"});
    EXPECT_TRUE(ListNames(dir.File("sub.tmp")).empty());

    TraceCapture capture;
    EXPECT_FALSE(deleteFile(nullptr, dir.File("gone")));
    EXPECT_EQ(capture.ErrTrace(),
              Lines{"deleteFile(): file_remove(" + dir.File("gone") + ") failed "});
}
