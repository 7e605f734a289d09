#include <gtest/gtest.h>

#include <string>

#include "image/codecs/ico_codec.h"
#include "image/format_codes.h"
#include "image/raster_image.h"
#include "tests/image/codecs_main/codec_test_support.h"

namespace sheetmend {
namespace {

using namespace testing;

uint32_t Le32At(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Frame `frame` of a file as ImageMagick decodes it, read at 16 bits and
// rounded to 8 (icons may hold 16-bit PNG images).
bool ImageMagickFrame(const std::string& path, int frame, Pnm* pnm, std::vector<uint8_t>* alpha) {
    const std::string source = "'" + path + "[" + std::to_string(frame) + "]'";
    std::string out;
    if (RunShell(std::string(kImageMagick) + " " + source + " -depth 16 ppm:- 2>/dev/null", &out) !=
        0)
        return false;
    if (!ParsePnm(out, pnm)) return false;
    if (RunShell(std::string(kImageMagick) + " " + source +
                     " -alpha extract -depth 16 pgm:- 2>/dev/null",
                 &out) != 0)
        return false;
    Pnm a;
    if (!ParsePnm(out, &a)) return false;
    alpha->clear();
    for (uint16_t v : a.samples)
        alpha->push_back(static_cast<uint8_t>((v * 255u + a.maxval / 2) / a.maxval));
    return true;
}

void ExpectAlphaMatches(const RasterImage& img, const std::vector<uint8_t>& alpha) {
    const int w = static_cast<int>(img.GetWidth()), h = static_cast<int>(img.GetHeight());
    ASSERT_EQ(alpha.size(), static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int ours = img.HasAlpha() ? img.AlphaGet(x, h - 1 - y) : 255;
            ASSERT_EQ(ours, alpha[static_cast<size_t>(y) * w + x]) << x << "," << y;
        }
}

TEST(IcoCodec, RoundTripsEveryDepthWithItsMask) {
    ScratchDir dir;
    // Palette icons carry transparency in their mask only (on or off);
    // 24-bit icons are written with a full alpha channel.
    struct Case {
        uint32_t bpp;
        std::vector<uint8_t> alphaLevels;  // empty: no alpha plane
    } cases[] = {
        {1, {}}, {4, {}}, {8, {}}, {24, {}}, {4, {0, 255}}, {8, {0, 255}}, {24, {0, 90, 255}},
    };
    int n = 0;
    for (const Case& c : cases) {
        RasterImage img = RandomImage(19, 11, c.bpp, 70 + n++);
        if (!c.alphaLevels.empty()) AddRandomAlpha(img, 3, c.alphaLevels);
        const Bytes file = EncodeToBytes(img, kFormatIco);
        ASSERT_FALSE(file.empty()) << img.GetLastError();
        // One directory entry, the image right after it.
        EXPECT_EQ(file[2], 1);
        EXPECT_EQ(file[4], 1);
        EXPECT_EQ(file[6], 19);
        EXPECT_EQ(file[7], 11);
        EXPECT_EQ(Le32At(file, 14), file.size() - 22);
        EXPECT_EQ(Le32At(file, 18), 22u);
        EXPECT_EQ(Le32At(file, 22 + 8), 22u);  // DIB height counts the mask rows

        RasterImage back = MustDecode(file, kFormatIco);
        EXPECT_EQ(back.GetType(), kFormatIco);
        EXPECT_TRUE(SamePixels(img, back)) << c.bpp;
        EXPECT_TRUE(SameColours(img, back));
        EXPECT_TRUE(SameAlpha(img, back)) << c.bpp;

        const std::string path = dir.File("rt.ico");
        ASSERT_TRUE(WriteFileBytes(path, file));
        Pnm pnm;
        std::vector<uint8_t> alpha;
        ASSERT_TRUE(ImageMagickFrame(path, 0, &pnm, &alpha));
        EXPECT_TRUE(MatchesPnm(img, pnm)) << c.bpp;
        ExpectAlphaMatches(img, alpha);
    }
}

TEST(IcoCodec, RefusesImagesTooLargeForAnIcon) {
    RasterImage big(300, 20, 8);
    MemoryStream out;
    out.Open();
    EXPECT_FALSE(big.Encode(&out, kFormatIco));
    EXPECT_STREQ(big.GetLastError(), "ICO: an icon can be at most 256 x 256 pixels");
}

TEST(IcoCodec, ReadsImageMagickIconsIncludingPngEntries) {
    ScratchDir dir;
    const std::string multi = MakeWithImageMagick(
        dir,
        "-size 40x40 xc: +noise Random -alpha set -channel A -fx 'i/w' +channel "
        "-define icon:auto-resize=256,48,16 ICO:",
        "multi.ico");
    ASSERT_FALSE(multi.empty());
    const uint32_t sizes[3] = {256, 48, 16};
    for (int frame = 0; frame < 3; ++frame) {
        IcoImage img;
        img.SetFrame(frame);
        FileStream in;
        ASSERT_TRUE(in.Open(multi.c_str(), "rb"));
        ASSERT_TRUE(img.Decode(&in)) << frame << ": " << img.GetLastError();
        EXPECT_EQ(img.GetNumFrames(), 3);
        EXPECT_EQ(img.GetType(), kFormatIco);
        EXPECT_EQ(img.GetWidth(), sizes[frame]);
        Pnm pnm;
        std::vector<uint8_t> alpha;
        ASSERT_TRUE(ImageMagickFrame(multi, frame, &pnm, &alpha));
        EXPECT_TRUE(MatchesPnm(img, pnm)) << frame;
        ExpectAlphaMatches(img, alpha);
    }

    const std::string palette =
        MakeWithImageMagick(dir, "-size 20x12 xc: +noise Random -colors 16 ICO:", "p.ico");
    RasterImage img;
    ASSERT_TRUE(img.Load(palette.c_str(), kFormatIco)) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), 4u);
    EXPECT_FALSE(img.HasAlpha());
    Pnm pnm;
    std::vector<uint8_t> alpha;
    ASSERT_TRUE(ImageMagickFrame(palette, 0, &pnm, &alpha));
    EXPECT_TRUE(MatchesPnm(img, pnm));
}

TEST(IcoCodec, RefusesDamagedFiles) {
    RasterImage img = RandomImage(8, 8, 8, 5);
    const Bytes good = EncodeToBytes(img, kFormatIco);
    ASSERT_FALSE(good.empty());

    Bytes outside = good;
    outside[18] = 0xF0;  // image offset far beyond the end
    Bytes oversized = good;
    oversized[17] = 0x10;  // image size far beyond the end
    Bytes notIcon = good;
    notIcon[2] = 7;
    // A short mask is completed as opaque (see the short-mask test); short
    // colour rows are not: the whole mask (8 rows of 4 bytes) and one colour
    // row more are cut.
    Bytes noMask(good.begin(), good.end() - 40);
    noMask[14] = static_cast<uint8_t>(noMask.size() - 22);
    noMask[15] = static_cast<uint8_t>((noMask.size() - 22) >> 8);
    struct Case {
        const char* what;
        Bytes file;
        const char* message;
    } cases[] = {
        {"offset", outside, "ICO: icon image lies outside the file"},
        {"size", oversized, "ICO: icon image lies outside the file"},
        {"type", notIcon, "ICO: not an icon file"},
        {"colour rows", noMask, "ICO: file is truncated"},
    };
    for (const Case& c : cases) {
        RasterImage bad;
        EXPECT_FALSE(DecodeFromBytes(c.file, kFormatIco, bad)) << c.what;
        EXPECT_STREQ(bad.GetLastError(), c.message) << c.what;
    }

    // An image number beyond the directory: the count still comes back.
    RasterImage second;
    second.SetFrame(1);
    EXPECT_FALSE(DecodeFromBytes(good, kFormatIco, second));
    EXPECT_STREQ(second.GetLastError(), "ICO: the icon image asked for is not in the file");
    EXPECT_EQ(second.GetNumFrames(), 1);
}

}  // namespace
}  // namespace sheetmend
