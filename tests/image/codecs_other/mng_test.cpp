// MNG and JNG through libmng: ImageMagick's files against its own pixels,
// the first frame of an animation, alpha, our RGB writer read back by us and
// by ImageMagick, and the refusal of palette images.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/codecs/mng_codec.h"
#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

class MngFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, RunShell(std::string(kImageMagick) +
                              " -size 27x15 -seed 4 plasma:fractal -depth 8 " + Src()));
    }
    std::string Src() const { return dir_.File("src.ppm"); }
    std::string Make(const std::string& name, const std::string& command) {
        const std::string file = dir_.File(name);
        EXPECT_EQ(0, RunShell(std::string(kImageMagick) + " " + command + " " + file));
        return file;
    }
    ScratchDir dir_;
};

TEST_F(MngFiles, ReadsImageMagickMngAndJng) {
    const struct {
        std::string file;
        int tolerance;
    } cases[] = {
        {Make("rgb.mng", Src()), 0},
        {Make("pal.mng", Src() + " -colors 12 -type palette"), 0},
        // Both sides decode the JPEG data with libjpeg, but may upsample the
        // chroma differently.
        {Make("rgb.jng", Src()), 3},
    };
    for (const auto& c : cases) {
        Pnm theirs;
        ASSERT_TRUE(DecodeWithImageMagick(c.file, &theirs)) << c.file;
        RasterImage ours;
        ASSERT_TRUE(DecodeBytes(ReadFileBytes(c.file), kFormatMng, &ours))
            << c.file << ": " << ours.GetLastError();
        EXPECT_EQ(ours.GetBpp(), 24u);
        EXPECT_EQ(ours.GetType(), kFormatMng);
        EXPECT_FALSE(ours.HasAlpha()) << "an opaque file keeps no alpha plane";
        EXPECT_TRUE(MatchesPnm(ours, theirs, c.tolerance)) << c.file;
    }
}

TEST_F(MngFiles, AnimationGivesItsFirstFrame) {
    const std::string file = Make("anim.mng", "-delay 20 " + Src() + " '(' " + Src() +
                                                  " -negate ')' '(' " + Src() + " -flip ')'");
    Pnm first;
    ASSERT_TRUE(DecodeWithImageMagick(file, &first));
    RasterImage ours;
    ASSERT_TRUE(DecodeBytes(ReadFileBytes(file), kFormatMng, &ours)) << ours.GetLastError();
    EXPECT_TRUE(MatchesPnm(ours, first));
    // The codec reports the frame count it found (ImageMagick leaves the
    // header's count at 0, "unknown", which counts as one frame).
    Bytes data = ReadFileBytes(file);
    MemoryStream stream(data.data(), data.size());
    MngImage codec;
    ASSERT_TRUE(codec.Decode(&stream));
    EXPECT_EQ(codec.GetNumFrames(), 1);
}

TEST_F(MngFiles, ReadsAlpha) {
    const std::string file =
        Make("alpha.mng", "-size 6x2 xc:blue -alpha set -channel A -fx 'i/5' +channel");
    RasterImage ours;
    ASSERT_TRUE(DecodeBytes(ReadFileBytes(file), kFormatMng, &ours)) << ours.GetLastError();
    ASSERT_TRUE(ours.HasAlpha());
    EXPECT_EQ(ours.AlphaGet(0, 1), 0);
    EXPECT_EQ(ours.AlphaGet(5, 1), 255);
    EXPECT_EQ(ours.AlphaGet(5, 0), 255);
    EXPECT_EQ(ours.GetPixelColor(5, 0, false).blue, 255);
    EXPECT_EQ(ours.GetPixelColor(5, 0, false).red, 0);
}

TEST(MngCodec, RoundTripsRgbAndImageMagickReadsIt) {
    ScratchDir dir;
    RasterImage src = RandomImage(23, 17, 24, 6);
    const Bytes file = EncodeExpectingSuccess(src, kFormatMng);
    EXPECT_EQ(0, std::memcmp(file.data(), "\x8AMNG\r\n\x1A\n", 8));
    RasterImage back;
    ASSERT_TRUE(DecodeBytes(file, kFormatMng, &back)) << back.GetLastError();
    EXPECT_TRUE(SamePixels(src, back));
    EXPECT_TRUE(PaddingIsZero(back));
    ASSERT_TRUE(WriteFileBytes(dir.File("ours.mng"), file));
    Pnm theirs;
    ASSERT_TRUE(DecodeWithImageMagick(dir.File("ours.mng"), &theirs));
    EXPECT_TRUE(MatchesPnm(src, theirs));

    // With an alpha plane the alpha goes along.
    ASSERT_TRUE(src.AlphaCreate());
    for (int x = 0; x < 23; ++x) src.AlphaSet(x, 3, static_cast<uint8_t>(x * 11));
    ASSERT_TRUE(DecodeBytes(EncodeExpectingSuccess(src, kFormatMng), kFormatMng, &back)) << back.GetLastError();
    ASSERT_TRUE(back.HasAlpha());
    for (int x = 0; x < 23; ++x) EXPECT_EQ(back.AlphaGet(x, 3), x * 11);
    EXPECT_EQ(back.AlphaGet(0, 0), 255);
}

TEST(MngCodec, RefusesPaletteImagesAndOtherFiles) {
    for (uint32_t bpp : {1u, 4u, 8u}) {
        RasterImage img = RandomImage(4, 4, bpp, 1);
        MemoryStream out;
        out.Open();
        EXPECT_FALSE(img.Encode(&out, kFormatMng));
        EXPECT_STREQ(img.GetLastError(), "MNG encoder can save only RGB images");
    }
    RasterImage img;
    EXPECT_FALSE(DecodeBytes(Bytes{'h', 'e', 'l', 'l', 'o'}, kFormatMng, &img));
    // A signature and nothing else.
    Bytes sig = {0x8A, 'M', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_FALSE(DecodeBytes(sig, kFormatMng, &img));
    EXPECT_NE(img.GetLastError()[0], '\0');
}

}  // namespace
}  // namespace sheetmend::testing
