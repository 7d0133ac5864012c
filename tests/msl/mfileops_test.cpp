#include "msl/mfileio/mfileops.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using vyx::test::TempDir;
using vyx::test::WriteFileBytes;
using vyx::trace::TraceCapture;
using Lines = std::vector<std::string>;

TEST(MFileOps, TypeSizeAndExistence) {
    TempDir dir;
    std::string file = dir.File("f.txt");
    std::string hidden = dir.File(".hidden");
    std::string missing = dir.File("missing");
    ASSERT_TRUE(WriteFileBytes(file, "12345"));
    ASSERT_TRUE(WriteFileBytes(hidden, "x"));

    TraceCapture capture;
    EXPECT_EQ(file_type(dir.Path().c_str()), 'd');
    EXPECT_EQ(file_type(file.c_str()), '-');
    EXPECT_EQ(file_type(hidden.c_str()), ' ');
    EXPECT_EQ(file_type("/dev/null"), ' ');
    EXPECT_TRUE(capture.ErrTrace().empty());
    EXPECT_EQ(file_type(missing.c_str()), -1);
    EXPECT_EQ(capture.ErrTrace(), Lines{"file_type(): _findfirst(\"" + missing +
                                        "\") failed: No such file or directory"});

    EXPECT_EQ(file_size(file.c_str()), 5);
    EXPECT_EQ(file_size(dir.Path().c_str()), 0);
    EXPECT_EQ(file_size(missing.c_str()), -1);

    EXPECT_TRUE(file_exists(file.c_str()));
    EXPECT_TRUE(file_exists(dir.Path().c_str()));
    EXPECT_FALSE(file_exists(missing.c_str()));
    EXPECT_TRUE(dir_exists(dir.Path().c_str()));
    EXPECT_FALSE(dir_exists(file.c_str()));
    EXPECT_FALSE(dir_exists(missing.c_str()));
}

TEST(MFileOps, RemoveAndRename) {
    TempDir dir;
    std::string a = dir.File("a");
    std::string b = dir.File("b");
    ASSERT_TRUE(WriteFileBytes(a, "A"));
    ASSERT_TRUE(WriteFileBytes(b, "B"));
    EXPECT_TRUE(file_rename(a.c_str(), b.c_str())); // replaces the existing target
    EXPECT_FALSE(vyx::test::PathExists(a));
    EXPECT_EQ(vyx::test::ReadFileBytes(b), "A");

    TraceCapture capture;
    EXPECT_FALSE(file_rename(a.c_str(), b.c_str()));
    EXPECT_EQ(capture.ErrTrace(),
              Lines{"file_rename(): MoveFileEx(" + a + "," + b + ") failed: 2"});

    EXPECT_TRUE(file_remove(b.c_str()));
    EXPECT_FALSE(file_remove(b.c_str()));
    EXPECT_FALSE(file_remove(dir.Path().c_str())); // not for directories
    EXPECT_TRUE(dir_exists(dir.Path().c_str()));
}

TEST(MFileOps, PathText) {
    std::string out = "unchanged";
    EXPECT_TRUE(file_dirname("a/b/c.txt", out));
    EXPECT_EQ(out, "a/b/");
    EXPECT_TRUE(file_dirname("/x", out));
    EXPECT_EQ(out, "/");
    EXPECT_TRUE(file_dirname("a/b/", out));
    EXPECT_EQ(out, "a/b/");
    out = "unchanged";
    EXPECT_FALSE(file_dirname("name.ini", out));
    EXPECT_EQ(out, "unchanged");

    EXPECT_TRUE(file_is_absolute("/etc"));
    EXPECT_TRUE(file_is_absolute("C:/x"));
    EXPECT_TRUE(file_is_absolute("z:"));
    EXPECT_FALSE(file_is_absolute("1:/x"));
    EXPECT_FALSE(file_is_absolute("rel/x"));
    EXPECT_FALSE(file_is_absolute("C"));
    EXPECT_FALSE(file_is_absolute(""));
}

TEST(MFileOps, Subdirectories) {
    TempDir dir;
    std::string outer = dir.File("outer");
    std::string inner = outer + "/inner";
    std::string sibling = dir.File("outer2"); // shares the prefix, is not inside
    ASSERT_TRUE(dir_mk(outer.c_str()));
    ASSERT_TRUE(dir_mk(inner.c_str()));
    ASSERT_TRUE(dir_mk(sibling.c_str()));
    EXPECT_FALSE(dir_mk(inner.c_str()));

    EXPECT_TRUE(file_is_subdirectory(inner.c_str(), outer.c_str()));
    EXPECT_TRUE(file_is_subdirectory((outer + "/./inner/").c_str(), (outer + "/").c_str()));
    EXPECT_TRUE(file_is_subdirectory(inner.c_str(), "/"));
    EXPECT_FALSE(file_is_subdirectory(outer.c_str(), inner.c_str()));
    EXPECT_FALSE(file_is_subdirectory(outer.c_str(), outer.c_str()));
    EXPECT_FALSE(file_is_subdirectory(sibling.c_str(), outer.c_str()));
    EXPECT_FALSE(file_is_subdirectory((outer + "/missing").c_str(), outer.c_str()));
    // A link into the tree counts where it leads.
    std::string link = dir.File("link");
    ASSERT_EQ(::symlink(inner.c_str(), link.c_str()), 0);
    EXPECT_TRUE(file_is_subdirectory(link.c_str(), outer.c_str()));

    EXPECT_FALSE(dir_rm(outer.c_str())); // not empty
    EXPECT_TRUE(dir_rm(inner.c_str()));
    EXPECT_TRUE(dir_rm(outer.c_str()));
    EXPECT_FALSE(dir_exists(outer.c_str()));
}
