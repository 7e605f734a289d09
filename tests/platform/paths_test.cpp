#include "platform/paths.h"

#include <gtest/gtest.h>

namespace sheetmend {
namespace {

TEST(SplitPath, TakesDirectoryNameAndLastExtension) {
    PathParts p = SplitPath("/scans/batch.1/page.tiff.bak");
    EXPECT_EQ(p.drive, "");
    EXPECT_EQ(p.dir, "/scans/batch.1/");
    EXPECT_EQ(p.name, "page.tiff");
    EXPECT_EQ(p.ext, ".bak");

    p = SplitPath("a.b/noext");
    EXPECT_EQ(p.dir, "a.b/");
    EXPECT_EQ(p.name, "noext");
    EXPECT_EQ(p.ext, "");

    p = SplitPath("plain.TIF");
    EXPECT_EQ(p.dir, "");
    EXPECT_EQ(p.name, "plain");
    EXPECT_EQ(p.ext, ".TIF");

    p = SplitPath("dir/");
    EXPECT_EQ(p.dir, "dir/");
    EXPECT_EQ(p.name, "");
}

TEST(MakePath, IsTheInverseOfSplitPath) {
    for (const char* path : {"/a/b/c.png", "rel/x.y.z", "name", "/", "d/.hidden", "d/e.", "a b/c d.t"}) {
        PathParts p = SplitPath(path);
        EXPECT_EQ(MakePath(p.drive, p.dir, p.name, p.ext), path) << path;
    }
    EXPECT_EQ(MakePath("", "/out", "page", "png"), "/out/page.png");
    EXPECT_EQ(MakePath("", "", "page", ""), "page");
}

TEST(AbsolutePath, FoldsDotsWithoutTouchingTheDisk) {
    EXPECT_EQ(AbsolutePath("/a/./b/../c//d"), "/a/c/d");
    EXPECT_EQ(AbsolutePath("/.."), "/");
    EXPECT_TRUE(IsAbsolutePath(AbsolutePath("x/y")));
    EXPECT_EQ(NormalizePath("../x/./y/.."), "../x");
    EXPECT_FALSE(IsAbsolutePath("c:relative"));
}

}  // namespace
}  // namespace sheetmend
