// Damaged and hostile files for the BMP, PNG, JPEG, GIF and ICO decoders: every
// seed file of the fuzz corpus decodes, every mutation of it decodes or is
// refused with a message (the sanitizer build checks that nothing is read or
// written out of bounds), every file that once broke a decoder is handled,
// and absurd sizes are refused before memory is taken.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/format_codes.h"
#include "image/raster_image.h"
#include "tests/image/codecs_main/codec_test_support.h"
#include "tests/support/source_root.h"

namespace sheetmend {
namespace {

using namespace testing;

// Files in `dir` whose names start with `prefix`, sorted.
std::vector<std::string> FilesIn(const std::string& dir, const std::string& prefix = "") {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name[0] != '.' && name.compare(0, prefix.size(), prefix) == 0)
                out.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// PNG chunks carry checksums, so most damage is refused at the first chunk it
// touches. Recomputing them lets the damage reach the decoding behind.
Bytes WithPngChecksumsFixed(Bytes png) {
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const uint32_t n = (static_cast<uint32_t>(png[at]) << 24) | (png[at + 1] << 16) |
                           (png[at + 2] << 8) | png[at + 3];
        if (n > png.size() - at - 12) break;
        const uint32_t crc = Crc32(png.data() + at + 4, n + 4);
        for (int k = 0; k < 4; ++k) png[at + 8 + n + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
        at += 12 + n;
    }
    return png;
}

// Every mutation goes through the decoder of the family; a sample of them
// (every `detectEvery`-th) also through automatic detection, which tries
// every format in turn and is mostly the other decoders' business.
void RunFamily(const std::string& family, uint32_t code, int detectEvery = 8) {
    const auto seeds = FilesIn(SourceRoot() + "/fuzz/corpus/" + family);
    ASSERT_GE(seeds.size(), 3u) << "seed corpus of " << family;
    uint32_t seed = 1;
    for (const std::string& path : seeds) {
        const Bytes valid = ReadFileBytes(path);
        RasterImage image;
        ASSERT_TRUE(DecodeBytes(valid, code, &image)) << path << ": " << image.GetLastError();
        SCOPED_TRACE(path);
        int n = 0;
        ForEachMutation(valid, seed++, [&](const Bytes& m) {
            DecodeBytes(m, code);
            if (code == kFormatPng) DecodeBytes(WithPngChecksumsFixed(m), code);
            if (n++ % detectEvery == 0) DecodeBytes(m, kFormatUnknown);
        });
    }
}

TEST(MainCodecRobustness, Bmp) {
    RunFamily("bmp", kFormatBmp);
}
TEST(MainCodecRobustness, Png) {
    RunFamily("png", kFormatPng);
}
TEST(MainCodecRobustness, Jpeg) {
    RunFamily("jpeg", kFormatJpeg);
}
TEST(MainCodecRobustness, Gif) {
    RunFamily("gif", kFormatGif);
}
TEST(MainCodecRobustness, Ico) {
    RunFamily("ico", kFormatIco);
}

TEST(MainCodecRobustness, FilesThatOnceBrokeADecoderAreHandled) {
    const struct {
        const char* prefix;
        uint32_t code;
    } families[] = {{"bmp-", kFormatBmp},
                    {"png-", kFormatPng},
                    {"jpeg-", kFormatJpeg},
                    {"gif-", kFormatGif},
                    {"ico-", kFormatIco}};
    for (const auto& f : families) {
        for (const std::string& path : FilesIn(SourceRoot() + "/tests/data/crashers", f.prefix)) {
            SCOPED_TRACE(path);
            const Bytes data = ReadFileBytes(path);
            const auto start = std::chrono::steady_clock::now();
            DecodeBytes(data, f.code);
            DecodeBytes(data, kFormatUnknown);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        }
    }
}

TEST(MainCodecRobustness, AbsurdSizesAreRefusedBeforeMemoryIsTaken) {
    // Each claims a picture of several gigabytes over a few bytes of data.
    Bytes bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54 + 8, 0, 0, 0};
    Put32(bmp, 40);
    Put32(bmp, 65535);
    Put32(bmp, 65535);
    Put16(bmp, 1);
    Put16(bmp, 8);
    Put32(bmp, 1);  // RLE8: any size could be described by a few bytes
    for (int i = 0; i < 5; ++i) Put32(bmp, 0);
    bmp.insert(bmp.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 1});

    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0x87, 0, 0};
    gif.resize(gif.size() + 768, 0);
    gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 8, 2, 0x00, 0x01, 0, 0x3B});

    RasterImage small(8, 8, 8);
    small.SetGrayPalette();
    Bytes jpeg = EncodeToBytes(small, kFormatJpeg);
    for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = jpeg[i + 7] = 0xFF;  // height and width 65280
            jpeg[i + 6] = jpeg[i + 8] = 0x00;
            break;
        }
    }

    const Bytes png = PngBuilder().Header(60000, 60000, 8, 2).Data({0}).End();

    const struct {
        const char* what;
        Bytes file;
        uint32_t code;
        const char* message;
    } cases[] = {
        {"bmp", bmp, kFormatBmp, "RASTER_MAX_MEMORY exceeded"},
        {"gif", gif, kFormatGif, "RASTER_MAX_MEMORY exceeded"},
        {"jpeg", jpeg, kFormatJpeg, "RASTER_MAX_MEMORY exceeded"},
        {"png", png, kFormatPng, "RASTER_MAX_MEMORY exceeded"},
    };
    for (const auto& c : cases) {
        RasterImage img;
        EXPECT_FALSE(DecodeFromBytes(c.file, c.code, img)) << c.what;
        EXPECT_STREQ(img.GetLastError(), c.message) << c.what;
    }
}

}  // namespace
}  // namespace sheetmend
