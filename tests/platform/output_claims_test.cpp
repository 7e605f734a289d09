#include "platform/output_claims.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "platform/temp_files.h"

namespace sheetmend {
namespace {

struct Folder {
    std::string path;
    Folder() {
        char name[] = "/tmp/sheetmend-claims-XXXXXX";
        path = mkdtemp(name);
    }
    ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
};

off_t SizeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(ClaimFreeName, NumbersPastTakenNamesAndReleasesOnlyEmptyClaims) {
    Folder f;
    std::ofstream(f.path + "/page.tif") << "somebody's";
    std::string first = f.path + "/page.tif";
    ASSERT_TRUE(ClaimFreeName(first));
    EXPECT_EQ(first, f.path + "/page000.tif");
    EXPECT_EQ(SizeOf(first), 0);  // the placeholder holds the name
    std::string second = f.path + "/page.tif";
    ASSERT_TRUE(ClaimFreeName(second));
    EXPECT_EQ(second, f.path + "/page001.tif");

    // A claim that got its file keeps it; one that got nothing goes.
    std::ofstream(f.path + "/written.tmp") << "result";
    ASSERT_EQ(rename((f.path + "/written.tmp").c_str(), first.c_str()), 0);
    ReleaseClaim(first);
    ReleaseClaim(second);
    EXPECT_EQ(SizeOf(first), 6);
    EXPECT_EQ(SizeOf(second), -1);
    EXPECT_EQ(SizeOf(f.path + "/page.tif"), 10);  // never touched

    // An empty file that is not a claim of ours stays; ReleaseAllClaims ends
    // every claim still held.
    std::ofstream(f.path + "/empty.png").flush();
    ReleaseClaim(f.path + "/empty.png");
    EXPECT_EQ(SizeOf(f.path + "/empty.png"), 0);
    std::string third = f.path + "/x.png";
    ASSERT_TRUE(ClaimFreeName(third));
    ReleaseAllClaims();
    EXPECT_EQ(SizeOf(third), -1);
}

TEST(ClaimFreeName, AFolderThatCannotTakeTheFileLeavesTheNameForTheWriterToReport) {
    std::string path = "/nonexistent-folder/page.tif";
    EXPECT_TRUE(ClaimFreeName(path));
    EXPECT_EQ(path, "/nonexistent-folder/page.tif");
}

TEST(ClaimFreeName, ThreadsClaimingOneNameEachGetTheirOwn) {
    Folder f;
    std::vector<std::string> names(16, f.path + "/same.pdf");
    std::vector<std::thread> threads;
    for (std::string& name : names)
        threads.emplace_back([&name] { EXPECT_TRUE(ClaimFreeName(name)); });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    ReleaseAllClaims();
}

// One pair cleaning up after its external step must not delete the
// temporary files another pair is still using.
TEST(TempFiles, EachThreadCleansUpOnlyItsOwnFiles) {
    const std::string mine = MakeTempPath(".png");
    ASSERT_FALSE(mine.empty());
    std::ofstream(mine) << "in use";
    std::thread([] {
        const std::string theirs = MakeTempPath(".png");
        std::ofstream(theirs) << "x";
        CleanupTempFiles();
        EXPECT_EQ(SizeOf(theirs), -1);
    }).join();
    EXPECT_EQ(SizeOf(mine), 6);
    CleanupTempFiles();
    EXPECT_EQ(SizeOf(mine), -1);
}

}  // namespace
}  // namespace sheetmend
