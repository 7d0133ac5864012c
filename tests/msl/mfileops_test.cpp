#include "msl/mfileio/mfileops.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

using vyx::test::TempDir;
using vyx::test::WriteFileBytes;
using vyx::trace::TraceCapture;
using Lines = std::vector<std::string>;

TEST(MFileOps, TypeSizeAndExistence) {
    TempDir dir;
    const std::string file = dir.File("f.txt"), hidden = dir.File(".hidden");
    const std::string missing = dir.File("missing");
    ASSERT_TRUE(WriteFileBytes(file, "12345"));
    ASSERT_TRUE(WriteFileBytes(hidden, "x"));
    const struct {
        std::string name;
        int type;
        std::int64_t size;
    } cases[] = {{dir.Path(), 'd', 0}, {file, '-', 5}, {hidden, ' ', 1}, {missing, -1, -1}};
    TraceCapture capture;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(file_type(c.name.c_str()), c.type);
        EXPECT_EQ(file_size(c.name.c_str()), c.size);
        EXPECT_EQ(file_exists(c.name.c_str()), c.type != -1);
        EXPECT_EQ(dir_exists(c.name.c_str()), c.type == 'd');
    }
    EXPECT_EQ(file_type("/dev/null"), ' ');
    EXPECT_EQ(capture.ErrTrace(), Lines{"file_type(): _findfirst(\"" + missing +
                                        "\") failed: No such file or directory"});
}

TEST(MFileOps, RemoveAndRename) {
    TempDir dir;
    std::string a = dir.File("a"), b = dir.File("b");
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
    const std::pair<const char*, const char*> dirnames[] = {
        {"a/b/c.txt", "a/b/"}, {"/x", "/"}, {"a/b/", "a/b/"}, {"name.ini", nullptr}};
    for (const auto& [path, expected] : dirnames) {
        std::string out = "unchanged";
        EXPECT_EQ(file_dirname(path, out), expected != nullptr) << path;
        EXPECT_EQ(out, expected ? expected : "unchanged") << path;
    }
    for (const char* absolute : {"/etc", "C:/x", "z:"})
        EXPECT_TRUE(file_is_absolute(absolute)) << absolute;
    for (const char* relative : {"1:/x", "rel/x", "C", ""})
        EXPECT_FALSE(file_is_absolute(relative)) << relative;
}

TEST(MFileOps, Subdirectories) {
    TempDir dir;
    std::string outer = dir.File("outer");
    std::string inner = outer + "/inner";
    std::string sibling = dir.File("outer2"); // shares the prefix, is not inside
    std::string link = dir.File("link");
    ASSERT_TRUE(dir_mk(outer.c_str()) && dir_mk(inner.c_str()) && dir_mk(sibling.c_str()));
    EXPECT_FALSE(dir_mk(inner.c_str()));
    ASSERT_EQ(::symlink(inner.c_str(), link.c_str()), 0);

    EXPECT_TRUE(file_is_subdirectory(inner.c_str(), outer.c_str()));
    EXPECT_TRUE(file_is_subdirectory((outer + "/./inner/").c_str(), (outer + "/").c_str()));
    EXPECT_TRUE(file_is_subdirectory(inner.c_str(), "/"));
    EXPECT_TRUE(file_is_subdirectory(link.c_str(), outer.c_str())); // where the link leads
    EXPECT_FALSE(file_is_subdirectory(outer.c_str(), inner.c_str()));
    EXPECT_FALSE(file_is_subdirectory(outer.c_str(), outer.c_str()));
    EXPECT_FALSE(file_is_subdirectory(sibling.c_str(), outer.c_str()));
    EXPECT_FALSE(file_is_subdirectory((outer + "/missing").c_str(), outer.c_str()));

    EXPECT_FALSE(dir_rm(outer.c_str())); // not empty
    EXPECT_TRUE(dir_rm(inner.c_str()));
    EXPECT_TRUE(dir_rm(outer.c_str()));
    EXPECT_FALSE(dir_exists(outer.c_str()));
}
