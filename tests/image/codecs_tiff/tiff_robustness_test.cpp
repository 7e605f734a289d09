// Damaged and hostile TIFF files: every one must decode or be refused with a
// message, never crash, hang or touch memory outside its buffers (the
// sanitizer build checks the last). The damage is applied to small valid
// files of every layout the decoder handles, and every file that once broke
// the decoder is kept under tests/data/crashers/.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/codecs/tiff_codec.h"
#include "image/raster_image.h"
#include "tests/image/codecs_tiff/tiff_test_support.h"
#include "tests/support/mutation.h"
#include "tests/support/source_root.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

std::vector<std::string> FilesIn(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind(prefix, 0) == 0 && name != "." && name != "..")
                out.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void DamageEveryWay(const Bytes& valid, uint32_t seed) {
    ForEachMutation(valid, seed, [](const Bytes& m) {
        RasterImage img;
        if (DecodeBytes(m, kFormatTiff, &img)) {
            EXPECT_TRUE(PaddingIsZero(img));
        }
    });
}

TEST(TiffRobustness, DamagedFilesOfOurOwnAreRefusedCleanly) {
    std::vector<RasterImage> pages;
    RasterImage bw(40, 24, 1);
    bw.SetPaletteColor(1, RgbQuad{255, 255, 255, 0});
    for (int32_t i = 0; i < 24; ++i) bw.DrawLine(0, 39, i, 23 - i, RgbQuad{255, 255, 255, 0});
    pages.push_back(bw);
    RasterImage fax = bw;
    fax.SetCodecOption(3, kFormatTiff);
    pages.push_back(fax);
    pages.push_back(RandomImage(21, 13, 4, 2));
    RasterImage grey = RandomImage(21, 13, 8, 3);
    grey.SetGrayPalette();
    grey.AlphaCreate();
    pages.push_back(grey);
    RasterImage rgba = RandomImage(17, 9, 24, 4);
    rgba.AlphaCreate();
    pages.push_back(rgba);
    RasterImage jpeg = KnownImage(24, 16);
    jpeg.SetCodecOption(7, kFormatTiff);
    pages.push_back(jpeg);
    uint32_t seed = 100;
    for (RasterImage& page : pages) {
        SCOPED_TRACE(seed);
        DamageEveryWay(EncodeTiff(page), seed++);
    }
}

TEST(TiffRobustness, DamagedFilesOfOtherWritersAreRefusedCleanly) {
    const std::vector<std::string> seeds = FilesIn(SourceRoot() + "/fuzz/corpus/tiff", "seed-");
    ASSERT_GE(seeds.size(), 10u) << "seed files not found under " << SourceRoot();
    uint32_t seed = 200;
    for (const std::string& path : seeds) {
        SCOPED_TRACE(path);
        const Bytes valid = ReadFileBytes(path);
        RasterImage img;
        ASSERT_TRUE(DecodeBytes(valid, kFormatTiff, &img)) << img.GetLastError();
        DamageEveryWay(valid, seed++);
    }
}

TEST(TiffRobustness, HandBuiltLiesAreRefused) {
    struct Case {
        const char* what;
        Bytes file;
    };
    std::vector<Case> cases;
    // A strip that claims far more data than the file holds.
    {
        TinyTiff t(64, 64);
        t.Short(258, 8).Short(259, 1).Short(262, 1).Short(277, 1).Data(Bytes(100, 7));
        Bytes f = t.Build();
        cases.push_back({"short strip", f});
    }
    // Dimensions past the memory limit, with and without data.
    {
        TinyTiff t(100000, 100000);
        t.Short(258, 8).Short(259, 1).Short(262, 1).Short(277, 1).Data(Bytes(16, 0));
        cases.push_back({"huge", t.Build()});
        TinyTiff u(0xFFFFFFFFu, 3);
        u.Short(258, 1).Short(259, 4).Short(262, 0).Short(277, 1).Data(Bytes(16, 0));
        cases.push_back({"wide", u.Build()});
    }
    // Palette files whose indices run past their map, and deep palettes.
    {
        TinyTiff t(4, 1);
        t.Short(258, 24).Short(259, 1).Short(262, 3).Short(277, 1).Data(Bytes(12, 0xFF));
        cases.push_back({"24-bit palette without map", t.Build()});
        TinyTiff u(4, 1);
        u.Short(258, 32).Short(259, 1).Short(262, 3).Short(277, 1).Data(Bytes(16, 0xFF));
        cases.push_back({"32-bit palette", u.Build()});
    }
    // Odd sample layouts.
    {
        TinyTiff t(5, 3);
        t.Short(258, {3, 3, 3, 3, 3})
            .Short(259, 1)
            .Short(262, 1)
            .Short(277, 5)
            .Data(Bytes(30, 0x5A));
        cases.push_back({"five 3-bit samples", t.Build()});
        TinyTiff u(5, 3);
        u.Short(258, 12).Short(259, 1).Short(262, 0).Short(277, 1).Data(Bytes(30, 0xA5));
        cases.push_back({"12-bit grey", u.Build()});
        TinyTiff v(5, 3);
        v.Short(258, {8, 8}).Short(259, 1).Short(262, 1).Short(277, 2).Short(284, 2);
        v.Planes({Bytes(15, 1)});  // the second plane is missing
        cases.push_back({"missing plane", v.Build()});
        TinyTiff w(5, 3);
        w.Short(258, 64).Short(259, 1).Short(262, 1).Short(277, 1).Data(Bytes(120, 1));
        cases.push_back({"64-bit samples", w.Build()});
        TinyTiff x(5, 3);
        x.Short(258, 48).Short(259, 1).Short(262, 1).Short(277, 1).Data(Bytes(90, 1));
        cases.push_back({"48-bit samples", x.Build()});
    }
    // A directory chain that loops back on itself.
    {
        TinyTiff t(4, 4);
        t.Short(258, 8).Short(259, 1).Short(262, 1).Short(277, 1).Data(Bytes(16, 3));
        Bytes f = t.Build();
        const uint32_t dir = f[4] | (f[5] << 8);
        const uint32_t count = f[dir] | (f[dir + 1] << 8);
        const uint32_t next = dir + 2 + 12 * count;
        f[next] = f[4];
        f[next + 1] = f[5];
        f[next + 2] = f[next + 3] = 0;
        cases.push_back({"loop", f});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RasterImage img;
        if (DecodeBytes(c.file, kFormatTiff, &img)) {
            EXPECT_TRUE(PaddingIsZero(img));
        }
        // Further damage to most of these only makes large, empty pages
        // (slow to allocate, nothing new to the decoder); two are worth it.
        if (std::string(c.what) == "loop" || std::string(c.what) == "five 3-bit samples")
            DamageEveryWay(c.file, 300);
    }
    // Limits are checked before anything is allocated.
    RasterImage huge;
    EXPECT_FALSE(DecodeBytes(cases[1].file, kFormatTiff, &huge));
    EXPECT_STREQ(huge.GetLastError(), "TiffImage can't create image");
    // 64-bit grey is reduced to its top byte (here 0x01 in every sample);
    // sample sizes between 32 and 64 bits are not read.
    RasterImage deep;
    ASSERT_TRUE(DecodeBytes(cases[8].file, kFormatTiff, &deep)) << deep.GetLastError();
    EXPECT_EQ(deep.GetBpp(), 8u);
    EXPECT_EQ(deep.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(deep.GetPixelIndex(4, 2), 1);
    RasterImage wide;
    EXPECT_FALSE(DecodeBytes(cases[9].file, kFormatTiff, &wide));
    EXPECT_STREQ(wide.GetLastError(), "Unsupported TIFF bits per sample");
}

TEST(TiffRobustness, DamagedStripEndsThePageQuietly) {
    // A page of three strips whose last strip lies past the end of the file
    // keeps the rows read before it, leaves the rest as created, and tells
    // what libtiff found.
    RasterImage grey(16, 12, 8);
    grey.SetGrayPalette();
    grey.Clear(200);
    grey.SetCodecOption(1, kFormatTiff);
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("g.tif"), EncodeTiff(grey)));
    ASSERT_EQ(0, RunShell("tiffcp -r 4 -c none " + dir.File("g.tif") + " " + dir.File("s.tif")));
    Bytes file = ReadFileBytes(dir.File("s.tif"));
    auto u16 = [&](size_t at) { return static_cast<uint32_t>(file[at] | (file[at + 1] << 8)); };
    auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
    const uint32_t ifd = u32(4);
    bool moved = false;
    for (uint32_t i = 0; i < u16(ifd); ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (u16(entry) != 273) continue;
        ASSERT_EQ(u32(entry + 4), 3u);
        const size_t third = u32(entry + 8) + 8;
        file[third + 3] = 0x70;  // far beyond the end
        moved = true;
    }
    ASSERT_TRUE(moved);
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(file, kFormatTiff, &img)) << img.GetLastError();
    EXPECT_NE(img.GetLastError()[0], '\0');
    for (int32_t y = 0; y < 12; ++y) EXPECT_EQ(img.GetPixelIndex(3, y), y >= 4 ? 200 : 0) << y;
}

TEST(TiffRobustness, CrashersOfThePastFailCleanly) {
    for (const std::string& path : FilesIn(SourceRoot() + "/tests/data/crashers", "tiff-")) {
        SCOPED_TRACE(path);
        RasterImage img;
        if (DecodeBytes(ReadFileBytes(path), kFormatTiff, &img)) {
            EXPECT_TRUE(PaddingIsZero(img));
        }
    }
}

}  // namespace
}  // namespace sheetmend::testing
