// Damaged files for every decoder family of this folder: the two smallest
// seed files of fuzz/corpus/<family>/ (leaving out those named slow-*, which
// take tens of milliseconds to decode; the fuzzer has them all) are
// truncated, overwritten and scrambled, and every
// damaged copy must decode or fail with a message, never crash or read out
// of bounds (the sanitizer build checks that). Files that once crashed or
// hung a decoder, kept in tests/data/crashers/<family>-<name>, must do the
// same.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/source_root.h"

namespace sheetmend::testing {
namespace {

std::vector<std::string> FilesIn(const std::string& dir, const std::string& prefix = "") {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name[0] != '.' && name.compare(0, prefix.size(), prefix) == 0)
                names.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Family {
    const char* name;
    uint32_t code;
};

const Family kFamilies[] = {{"tga", kFormatTga}, {"pcx", kFormatPcx}, {"wbmp", kFormatWbmp},
                            {"mng", kFormatMng}, {"jp2", kFormatJp2}, {"jpc", kFormatJpc},
                            {"pgx", kFormatPgx}, {"pnm", kFormatPnm}, {"ras", kFormatRas},
                            {"raw", kFormatRaw}};

class DamagedFiles : public ::testing::TestWithParam<Family> {};

TEST_P(DamagedFiles, DecodeOrFailCleanly) {
    const Family f = GetParam();
    std::vector<std::pair<Bytes, std::string>> seeds;
    for (const std::string& file : FilesIn(SourceRoot() + "/fuzz/corpus/" + f.name))
        if (file.find("/slow-") == std::string::npos) seeds.emplace_back(ReadFileBytes(file), file);
    ASSERT_FALSE(seeds.empty()) << "no seed files for " << f.name;
    std::stable_sort(seeds.begin(), seeds.end(),
                     [](const auto& a, const auto& b) { return a.first.size() < b.first.size(); });
    if (seeds.size() > 2) seeds.resize(2);
    uint32_t seed = 1;
    for (const auto& [valid, file] : seeds) {
        ASSERT_FALSE(valid.empty()) << file;
        EXPECT_TRUE(DecodeBytes(valid, f.code)) << "the seed itself must decode: " << file;
        ExpectDamageIsRefusedCleanly(valid, f.code, seed += 2);
    }
}

TEST_P(DamagedFiles, FormerCrashersFailCleanly) {
    const Family f = GetParam();
    for (const std::string& file :
         FilesIn(SourceRoot() + "/tests/data/crashers", std::string(f.name) + "-")) {
        SCOPED_TRACE(file);
        DecodeBytes(ReadFileBytes(file), f.code);
        DecodeBytes(ReadFileBytes(file), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(OtherCodecs, DamagedFiles, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace sheetmend::testing
