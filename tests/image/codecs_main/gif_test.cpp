#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "image/codecs/gif_codec.h"
#include "image/codecs/gif_lzw.h"
#include "image/format_codes.h"
#include "image/raster_image.h"
#include "tests/image/codecs_main/codec_test_support.h"

namespace sheetmend {
namespace {

using namespace testing;

// Palette image of stripes and blocks: long runs for the run-length coder,
// repeats for LZW.
RasterImage Stripes(uint32_t width, uint32_t height, uint32_t bpp, uint32_t seed) {
    RasterImage img = RandomImage(width, height, bpp, seed);
    const uint32_t colours = img.GetNumColors();
    for (int32_t y = 0; y < static_cast<int32_t>(height); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(width); ++x)
            if ((x / 7 + y / 3) % 3 != 0)
                img.SetPixelIndex(x, y, static_cast<uint8_t>((x / 11 + y) % colours));
    return img;
}

int FramesByImageMagick(const std::string& path) {
    std::string out;
    RunShell("identify-im6.q16 -format '%n\\n' '" + path + "' 2>/dev/null | head -1", &out);
    return std::atoi(out.c_str());
}

// A GIF file with a 4-entry global table around image data the test gives.
struct GifFile {
    uint16_t screenWidth = 2, screenHeight = 2;
    uint8_t background = 0;
    uint16_t left = 0, top = 0, width = 2, height = 2;
    bool interlaced = false;
    int transparent = -1;
    uint8_t minCodeSize = 2;
    Bytes data;  // LZW bytes, put into sub-blocks
    bool trailer = true;
};

Bytes MakeGif(const GifFile& s) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(b, s.screenWidth);
    Put16(b, s.screenHeight);
    b.insert(b.end(), {0x81, s.background, 0});
    b.insert(b.end(), {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255});  // black, white, red, blue
    if (s.transparent >= 0)
        b.insert(b.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<uint8_t>(s.transparent), 0});
    b.push_back(0x2C);
    Put16(b, s.left);
    Put16(b, s.top);
    Put16(b, s.width);
    Put16(b, s.height);
    b.push_back(s.interlaced ? 0x40 : 0);
    b.push_back(s.minCodeSize);
    for (size_t at = 0; at < s.data.size(); at += 255) {
        const size_t n = std::min<size_t>(255, s.data.size() - at);
        b.push_back(static_cast<uint8_t>(n));
        b.insert(b.end(), s.data.begin() + static_cast<ptrdiff_t>(at),
                 s.data.begin() + static_cast<ptrdiff_t>(at + n));
    }
    b.push_back(0);
    if (s.trailer) b.push_back(0x3B);
    return b;
}

// LZW data for `pixels` made by our own LZW coder.
Bytes Lzw(const std::vector<uint8_t>& pixels, int minCodeSize = 2) {
    class Source : public GifPixelSource {
      public:
        explicit Source(const std::vector<uint8_t>& p) : p_(p) {}
        int Next() override { return i_ < p_.size() ? p_[i_++] : -1; }

      private:
        const std::vector<uint8_t>& p_;
        size_t i_ = 0;
    } source(pixels);
    MemoryStream out;
    out.Open();
    GifSubBlockWriter blocks(&out);
    GifLzwEncode(minCodeSize, GifCoder::kLzw, source, blocks);
    blocks.Finish();
    // Undo the sub-blocks: MakeGif adds its own.
    const uint8_t* d = out.GetBuffer(false);
    Bytes raw;
    for (size_t at = 0; d[at] != 0; at += d[at] + 1u)
        raw.insert(raw.end(), d + at + 1, d + at + 1 + d[at]);
    return raw;
}

// ---------------------------------------------------------------------------
// writing

TEST(GifCodec, EveryCoderWritesWhatImageMagickAndWeReadBack) {
    ScratchDir dir;
    for (uint32_t bpp : {1u, 4u, 8u}) {
        // Noise fills the code table many times over; stripes make runs.
        RasterImage noise = RandomImage(97, 61, bpp, bpp);
        RasterImage stripes = Stripes(131, 47, bpp, bpp + 1);
        for (RasterImage* img : {&noise, &stripes}) {
            for (uint32_t coder : {1u, 2u, 0u}) {
                img->SetCodecOption(coder, kFormatGif);
                const Bytes file = EncodeToBytes(*img, kFormatGif);
                ASSERT_FALSE(file.empty()) << img->GetLastError();
                RasterImage back = MustDecode(file, kFormatGif);
                EXPECT_TRUE(SamePixels(*img, back)) << bpp << " bits, coder " << coder;
                EXPECT_TRUE(SameColours(*img, back));
                EXPECT_EQ(back.GetBackgroundIndex(), -1);

                const std::string path = dir.File("c.gif");
                ASSERT_TRUE(WriteFileBytes(path, file));
                Pnm pnm;
                ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
                EXPECT_TRUE(MatchesPnm(*img, pnm)) << bpp << " bits, coder " << coder;
            }
        }
    }
}

TEST(GifCodec, CompressionOfTheCodersDiffersAsExpected) {
    RasterImage flat(200, 100, 8);
    flat.SetPaletteColor(1, 255, 0, 0);
    for (int x = 50; x < 150; ++x)
        for (int y = 0; y < 100; ++y) flat.SetPixelIndex(x, y, 1);
    auto sizeWith = [&](uint32_t coder) {
        flat.SetCodecOption(coder, kFormatGif);
        return EncodeToBytes(flat, kFormatGif).size();
    };
    const size_t raw = sizeWith(1), runs = sizeWith(2), lzw = sizeWith(3);
    // One 9-to-12-bit code per pixel is more than a byte per pixel.
    EXPECT_GT(raw, 20000u);
    EXPECT_LT(runs, raw / 10);
    EXPECT_LT(lzw, raw / 10);
}

TEST(GifCodec, WritesTheTransparentIndex) {
    ScratchDir dir;
    RasterImage img = Stripes(20, 10, 4, 3);
    img.SetBackgroundIndex(2);
    const Bytes file = EncodeToBytes(img, kFormatGif);
    RasterImage back = MustDecode(file, kFormatGif);
    EXPECT_EQ(back.GetBackgroundIndex(), 2);
    EXPECT_TRUE(SamePixels(img, back));
    const std::string path = dir.File("t.gif");
    ASSERT_TRUE(WriteFileBytes(path, file));
    std::vector<uint8_t> alpha;
    ASSERT_TRUE(AlphaWithImageMagick(path, &alpha));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            EXPECT_EQ(alpha[static_cast<size_t>(y) * 20 + x],
                      img.GetPixelIndex(x, 9 - y) == 2 ? 0 : 255);
}

TEST(GifCodec, WritesAndReadsAnimations) {
    ScratchDir dir;
    RasterImage first = Stripes(30, 20, 8, 1);
    first.SetCodecOption(0, kFormatGif);
    for (uint32_t i = 0; i < 3; ++i) {
        auto* frame = new GifImage;
        frame->Copy(RandomImage(30, 20, i == 1 ? 4 : 8, 40 + i));
        frame->SetFrameDelay(10 * (i + 1));
        first.AppendFrame(frame);
    }
    const Bytes file = EncodeToBytes(first, kFormatGif);
    ASSERT_FALSE(file.empty()) << first.GetLastError();
    const std::string path = dir.File("anim.gif");
    ASSERT_TRUE(WriteFileBytes(path, file));
    EXPECT_EQ(FramesByImageMagick(path), 3);

    for (int32_t i = 0; i < 3; ++i) {
        RasterImage frame;
        frame.SetFrame(i);
        ASSERT_TRUE(frame.Load(path.c_str(), kFormatGif)) << frame.GetLastError();
        // The count must survive the hand-over of the decoded image.
        EXPECT_EQ(frame.GetNumFrames(), 3);
        EXPECT_TRUE(SameColours(*first.GetFrameImage(i), frame)) << i;
        EXPECT_EQ(frame.GetInfo().frameDelay, 10u * (i + 1));
    }
    // The codec itself counts the frames (Load above must pass the count on).
    GifImage direct;
    MemoryStream once(const_cast<uint8_t*>(file.data()), file.size());
    ASSERT_TRUE(direct.Decode(&once));
    EXPECT_EQ(direct.GetNumFrames(), 3);

    // Every frame at once.
    GifImage all;
    all.SetGetAllFrames(true);
    all.SetFrame(1);
    MemoryStream in(const_cast<uint8_t*>(file.data()), file.size());
    ASSERT_TRUE(all.Decode(&in)) << all.GetLastError();
    ASSERT_EQ(all.GetFrameCount(), 3);
    EXPECT_TRUE(SameColours(*first.GetFrameImage(1), all));
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_TRUE(SameColours(*first.GetFrameImage(i), *all.GetFrameImage(i)));

    // A frame asked for that is not there: the count still comes back.
    RasterImage missing;
    missing.SetFrame(5);
    EXPECT_FALSE(missing.Load(path.c_str(), kFormatGif));
    EXPECT_STREQ(missing.GetLastError(), "GIF: the frame asked for is not in the file");
    EXPECT_EQ(missing.GetNumFrames(), 3);
}

TEST(GifCodec, RefusesTrueColour) {
    RasterImage colour = RandomImage(4, 4, 24, 1);
    MemoryStream out;
    out.Open();
    EXPECT_FALSE(colour.Encode(&out, kFormatGif));
    EXPECT_STREQ(colour.GetLastError(),
                 "GIF can save only palette images (1, 4 or 8 bits). Use DecreaseBpp before");

    RasterImage anim = RandomImage(4, 4, 8, 1);
    anim.AppendFrame(new RasterImage(RandomImage(4, 4, 8, 2)));
    anim.AppendFrame(new RasterImage(RandomImage(4, 4, 24, 3)));
    EXPECT_FALSE(anim.Encode(&out, kFormatGif));
    EXPECT_STREQ(anim.GetLastError(),
                 "GifImage::Encode cannot create animated GIFs with a true color frame. Use "
                 "DecreaseBpp before");
}

// ---------------------------------------------------------------------------
// reading

TEST(GifCodec, ReadsImageMagickFilesLikeImageMagick) {
    ScratchDir dir;
    const std::string noise = "-size 41x23 xc: +noise Random";
    struct Case {
        std::string args, name;
        uint32_t bpp;
        bool transparent;
    } cases[] = {
        {noise + " -colors 2 GIF:", "c2.gif", 1, false},
        {noise + " -colors 16 GIF:", "c16.gif", 4, false},
        {noise + " -colors 200 GIF:", "c200.gif", 8, false},
        {noise + " -colors 64 -interlace GIF GIF:", "i.gif", 8, false},
        {noise + " -colors 30 -alpha set -channel A -fx '(i>3&&i<8)?0:1' +channel GIF:", "t.gif", 8,
         true},
    };
    for (const Case& c : cases) {
        const std::string path = MakeWithImageMagick(dir, c.args, c.name);
        ASSERT_FALSE(path.empty());
        RasterImage img;
        ASSERT_TRUE(img.Load(path.c_str(), kFormatGif)) << c.name << ": " << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp) << c.name;
        EXPECT_EQ(img.GetBackgroundIndex() >= 0, c.transparent) << c.name;
        EXPECT_TRUE(PaddingIsZero(img));
        Pnm pnm;
        ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
        EXPECT_TRUE(MatchesPnm(img, pnm)) << c.name;
        if (c.transparent) {
            std::vector<uint8_t> alpha;
            ASSERT_TRUE(AlphaWithImageMagick(path, &alpha));
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 41; ++x)
                    ASSERT_EQ(alpha[static_cast<size_t>(y) * 41 + x],
                              img.GetPixelIndex(x, 22 - y) == img.GetBackgroundIndex() ? 0 : 255);
        }
    }

    // Three frames: the count, and the third frame on request.
    const std::string anim =
        MakeWithImageMagick(dir, "-size 9x5 xc:red xc:lime xc:blue -colors 8 GIF:", "anim.gif");
    GifImage third;
    third.SetFrame(2);
    FileStream in;
    ASSERT_TRUE(in.Open(anim.c_str(), "rb"));
    ASSERT_TRUE(third.Decode(&in)) << third.GetLastError();
    EXPECT_EQ(third.GetNumFrames(), 3);
    EXPECT_EQ(third.GetPixelColor(4, 2, false), (RgbQuad{255, 0, 0, 0}));
}

TEST(GifCodec, PlacesFramesOnTheLogicalScreen) {
    // A 2x1 frame at (1, 1) on a 4x3 screen whose background is entry 2.
    GifFile s;
    s.screenWidth = 4;
    s.screenHeight = 3;
    s.background = 2;
    s.left = 1;
    s.top = 1;
    s.width = 2;
    s.height = 1;
    s.data = Lzw({1, 3});
    RasterImage img = MustDecode(MakeGif(s), kFormatGif);
    ASSERT_EQ(img.GetWidth(), 4u);
    ASSERT_EQ(img.GetHeight(), 3u);
    EXPECT_EQ(img.GetBpp(), 4u);
    const uint8_t top[3][4] = {{2, 2, 2, 2}, {2, 1, 3, 2}, {2, 2, 2, 2}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(img.GetPixelIndex(x, 2 - y), top[y][x]) << x << "," << y;

    // A frame reaching beyond the screen grows the image; with a
    // transparent index the uncovered pixels take that index.
    s.screenWidth = 2;
    s.screenHeight = 1;
    s.transparent = 3;
    RasterImage grown = MustDecode(MakeGif(s), kFormatGif);
    EXPECT_EQ(grown.GetWidth(), 3u);
    EXPECT_EQ(grown.GetHeight(), 2u);
    EXPECT_EQ(grown.GetBackgroundIndex(), 3);
    EXPECT_EQ(grown.GetPixelIndex(0, 1), 3);
    EXPECT_EQ(grown.GetPixelIndex(2, 0), 3);
}

TEST(GifCodec, PutsInterlacedRowsInPlaceAndMapsUnknownIndicesToZero) {
    // Rows arrive as 0, 8 | 4 | 2, 6 | 1, 3, 5, 7 for a 1x9 frame; each row's
    // pixel is its own row number, so the picture reads 0..8 top down.
    GifFile s;
    s.screenWidth = 1;
    s.screenHeight = 9;
    s.width = 1;
    s.height = 9;
    s.interlaced = true;
    s.minCodeSize = 4;
    s.data = Lzw({0, 8, 4, 2, 6, 1, 3, 5, 7}, 4);
    RasterImage img = MustDecode(MakeGif(s), kFormatGif);
    for (int y = 0; y < 9; ++y) {
        // Indices beyond the 4-entry table read as 0.
        const int expected = y < 4 ? y : 0;
        EXPECT_EQ(img.GetPixelIndex(0, 8 - y), expected) << y;
    }
}

TEST(GifCodec, RefusesDamagedFiles) {
    GifFile good;
    good.data = Lzw({0, 1, 2, 3});
    ASSERT_TRUE(MustDecode(MakeGif(good), kFormatGif).IsValid());

    auto with = [&](auto change) {
        GifFile s = good;
        change(s);
        return MakeGif(s);
    };
    Bytes cut = MakeGif(good);
    cut.resize(30);
    Bytes notGif = MakeGif(good);
    notGif[3] = '9';
    Bytes strayBlock = MakeGif(good);
    strayBlock.insert(strayBlock.begin() + 25, 0x99);
    struct Case {
        const char* what;
        Bytes file;
        const char* message;
    } cases[] = {
        // clear (100), then 7 (111) while the next free code is 6.
        {"undefined code", with([](GifFile& s) { s.data.assign(1, 0x3C); }),
         "GIF: corrupt image data"},
        // clear, one pixel, then the data ends.
        {"short data", with([](GifFile& s) { s.data.assign(1, 0x0C); }),
         "GIF: image data ends too early"},
        // Sizes up to 11 keep the first codes within 12 bits; 12 does not.
        {"code size", with([](GifFile& s) { s.minCodeSize = 12; }), "GIF: bad LZW code size"},
        {"empty frame", with([](GifFile& s) { s.width = 0; }), "GIF: empty frame"},
        // Four bytes of data cannot describe 65535 x 65535 pixels.
        {"frame beyond its data", with([](GifFile& s) { s.width = s.height = 65535; }),
         "GIF: image data too short for the frame size"},
        {"cut in the header", cut, "GIF: file is truncated"},
        {"signature", notGif, "GIF: not a GIF file"},
        {"unknown block", strayBlock, "GIF: unknown block in the file"},
    };
    for (const Case& c : cases) {
        RasterImage img;
        EXPECT_FALSE(DecodeFromBytes(c.file, kFormatGif, img)) << c.what;
        EXPECT_STREQ(img.GetLastError(), c.message) << c.what;
    }

    // After the chosen frame, a file that just stops loses nothing.
    GifFile noTrailer = good;
    noTrailer.trailer = false;
    Bytes file = MakeGif(noTrailer);
    MemoryStream in(file.data(), file.size());
    GifImage img;
    ASSERT_TRUE(img.Decode(&in)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelIndex(1, 0), 3);
    EXPECT_EQ(img.GetNumFrames(), 1);
}

// Codes of one fixed width, packed least significant bit first (the short
// sequences below never reach the point where the width grows).
Bytes PackCodes(const std::vector<int>& codes, int width) {
    Bytes out((codes.size() * static_cast<size_t>(width) + 7) / 8, 0);
    size_t bit = 0;
    for (int code : codes)
        for (int k = 0; k < width; ++k, ++bit)
            if ((code >> k) & 1)
                out[bit / 8] = static_cast<uint8_t>(out[bit / 8] | (1u << (bit % 8)));
    return out;
}

TEST(GifCodec, ReadsCodeSizesAboveEight) {
    // Code size 10: codes are 11 bits, clear 1024, end 1025, and the first
    // new entry 1026 is "1 2" once 1 and 2 are read.
    GifFile s;
    s.screenWidth = s.width = 4;
    s.screenHeight = s.height = 2;
    s.minCodeSize = 10;
    s.data = PackCodes({1024, 1, 2, 1026, 3, 0, 1026, 1025}, 11);
    RasterImage img = MustDecode(MakeGif(s), kFormatGif);
    const int top[4] = {1, 2, 1, 2}, bottom[4] = {3, 0, 1, 2};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(img.GetPixelIndex(x, 1), top[x]) << x;
        EXPECT_EQ(img.GetPixelIndex(x, 0), bottom[x]) << x;
    }
    // Colour table: black, white, red, blue.
    EXPECT_EQ(img.GetPixelColor(2, 0).red, 255);
    EXPECT_EQ(img.GetPixelColor(0, 0).blue, 255);
    // ImageMagick reads the same picture.
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("wide.gif"), MakeGif(s)));
    Pnm pnm;
    ASSERT_TRUE(DecodeWithImageMagick(dir.File("wide.gif"), &pnm));
    EXPECT_TRUE(MatchesPnm(img, pnm));

    // Code size 11: 12-bit codes from the start. A literal above 255 names no
    // colour and reads as index 0, and so does the string it starts.
    s.minCodeSize = 11;
    // 257 would be 1 if its low byte were taken; 2050 is "257 3", read 0 3.
    s.data = PackCodes({2048, 257, 3, 2050, 1, 2, 0, 0, 2049}, 12);
    RasterImage wide = MustDecode(MakeGif(s), kFormatGif);
    const int wideTop[4] = {0, 3, 0, 3}, wideBottom[4] = {1, 2, 0, 0};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(wide.GetPixelIndex(x, 1), wideTop[x]) << x;
        EXPECT_EQ(wide.GetPixelIndex(x, 0), wideBottom[x]) << x;
    }

    // Damage to the wide codes is refused cleanly.
    s.minCodeSize = 10;
    s.data = PackCodes({1024, 1, 2, 1026, 3, 0, 1026, 1025}, 11);
    ExpectDamageIsRefusedCleanly(MakeGif(s), kFormatGif, 31);
    // A code beyond the table right after the clear code is corrupt data.
    s.data = PackCodes({1024, 1500, 1025}, 11);
    RasterImage bad;
    EXPECT_FALSE(DecodeFromBytes(MakeGif(s), kFormatGif, bad));
    EXPECT_STREQ(bad.GetLastError(), "GIF: corrupt image data");
}

}  // namespace
}  // namespace sheetmend
