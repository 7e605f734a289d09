// Choosing a format and the load/save dispatch: extension mapping, content
// sniffing, the accepted extensions, refusals with their messages, automatic
// detection, and what Save leaves on disk when it fails.
#include "image/formats.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "image/safe_file.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

using Bytes = std::vector<uint8_t>;

const char* const kUnknown = "Decode: Unknown or wrong format";

std::string Put(const testing::ScratchDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.File(name);
    testing::WriteFileBytes(path, Bytes(text.begin(), text.end()));
    return path;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = d ? readdir(d) : nullptr)
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    if (d) closedir(d);
    return names;
}

// Codecs still being written refuse with "not available yet"; tests that
// need a working codec wait for it.
bool EncoderReady(uint32_t code) {
    RasterImage img = testing::RandomImage(4, 3, 24, 1);
    MemoryStream s;
    s.Open();
    return img.Encode(&s, code) || !std::strstr(img.GetLastError(), "not available");
}

bool DecoderReady(uint32_t code) {
    uint8_t junk[16] = {};
    MemoryStream s(junk, sizeof junk);
    RasterImage img;
    return img.Decode(&s, code) || !std::strstr(img.GetLastError(), "not available");
}

TEST(ImageTypeFromExtension, MapsTheLastExtensionOfTheNameIgnoringCase) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"a.bmp", 1},  {"A.GIF", 2},  {"x.jpg", 3},  {"x.JPEG", 3},       {"p.png", 4},
        {"i.ico", 5},  {"t.tif", 6},  {"T.TIF", 6},  {"t.Tif", 6},        {"t.tiff", 6},
        {"x.tga", 7},  {"x.pcx", 8},  {"x.wbmp", 9}, {"x.wmf", 10},       {"x.EMF", 10},
        {"x.jp2", 11}, {"x.j2k", 11}, {"x.jpc", 12}, {"x.j2c", 12},       {"x.pgx", 13},
        {"x.pnm", 14}, {"x.pgm", 14}, {"x.ppm", 14}, {"x.ras", 15},       {"x.mng", 17},
        {"x.JNG", 17}, {"x.pbm", 0},  {"x.ska", 0},  {"x.raw", 0},        {"a.tiff.bak", 0},
        {"tif", 0},    {"", 0},       {"a.", 0},     {"dir.tif/file", 0}, {"/d.x/page.png", 4},
        {"x.tif ", 0},
    };
    for (const auto& [name, code] : cases) EXPECT_EQ(ImageTypeFromExtension(name), code) << name;
}

TEST(ImageTypeFromContent, NeedsTenBytesAndKnowsThreeSignatures) {
    testing::ScratchDir dir;
    const std::pair<std::string, uint32_t> cases[] = {
        {std::string("II*\0abcdef", 10), 6},
        {std::string("MM\0*abcdef", 10), 6},
        {"IIjust text", 6},  // two letters are all it looks at
        {std::string("\x89PNG\r\n\x1a\n\0\0", 10), 4},
        {std::string("\xFF\xD8\xFF\xE0\0\x10JFIF", 10), 3},
        {std::string("II*\0abcde", 9), 0},
        {"BM12345678", 0},
        {"GIF89a....", 0},
    };
    int n = 0;
    for (const auto& [content, code] : cases)
        EXPECT_EQ(ImageTypeFromContent(Put(dir, "f" + std::to_string(n++), content).c_str()), code)
            << content;
    EXPECT_EQ(ImageTypeFromContent(dir.File("missing").c_str()), 0u);
    EXPECT_EQ(ImageTypeFromContent(dir.path().c_str()), 0u);
    EXPECT_EQ(ImageTypeFromContent(nullptr), 0u);
}

// Opening a FIFO without a writer would block forever: only regular files
// are looked at.
TEST(ImageTypeFromContent, DoesNotBlockOnAFifo) {
    testing::ScratchDir dir;
    const std::string fifo = dir.File("pipe.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto result =
        std::async(std::launch::async, [&] { return ImageTypeFromContent(fifo.c_str()); });
    const bool finished = result.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    if (!finished) close(open(fifo.c_str(), O_WRONLY));  // let the blocked reader go
    EXPECT_TRUE(finished) << "blocked opening a FIFO";
    EXPECT_EQ(result.get(), 0u);
}

TEST(SupportedImageExtension, AcceptsTheConversionListIgnoringCase) {
    for (const char* ext : {".tif", ".tiff", ".jpg", ".jpeg", ".png", ".bmp", ".tga", ".pcx",
                            ".gif", ".mng", ".pnm", ".pbm", ".pgm", ".ppm", ".pdf"}) {
        std::string upper = ext;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(IsSupportedImageExtension(ext)) << ext;
        EXPECT_TRUE(IsSupportedImageExtension(upper)) << upper;
        EXPECT_TRUE(HasSupportedImageExtension(std::string("dir/page") + upper)) << upper;
    }
    // .PBM passes here although no format code belongs to it.
    EXPECT_TRUE(HasSupportedImageExtension("scan.PBM"));
    EXPECT_EQ(ImageTypeFromExtension("scan.PBM"), 0u);
    for (const char* ext : {"", "tif", ".tif ", ".jp2", ".ico", ".wbmp", ".raw", ".tiff.bak", "."})
        EXPECT_FALSE(IsSupportedImageExtension(ext)) << ext;
    for (const char* name : {"", "noext", "dir.png/file", "page.jpeg.bak", "page."})
        EXPECT_FALSE(HasSupportedImageExtension(name)) << name;
}

TEST(Encode, RefusesWhatNoEncoderWrites) {
    RasterImage img = testing::RandomImage(4, 4, 8, 2);
    MemoryStream s;
    ASSERT_TRUE(s.Open());
    const std::pair<uint32_t, const char*> refusals[] = {
        {16, "Encode: Unknown format"}, {0, "Encode: Unknown format"},
        {21, "Encode: Unknown format"}, {0xFFFFFFFF, "Encode: Unknown format"},
        {10, "Save WMF not supported"}, {19, "Save RAW not supported"},
    };
    for (const auto& [code, message] : refusals) {
        EXPECT_FALSE(img.Encode(&s, code)) << code;
        EXPECT_STREQ(img.GetLastError(), message) << code;
    }
    EXPECT_FALSE(img.Encode(&s, 18));
    EXPECT_NE(img.GetLastError()[0], '\0');
    EXPECT_EQ(s.Size(), 0) << "nothing written by a refusal";

    EXPECT_FALSE(img.Encode(static_cast<ByteStream*>(nullptr), kFormatBmp));
    EXPECT_STREQ(img.GetLastError(), "null file handler");
    img.SetLastError("");
    EXPECT_FALSE(img.Encode(static_cast<FILE*>(nullptr), kFormatBmp));
    EXPECT_STREQ(img.GetLastError(), "null file handler");
    EXPECT_TRUE(img.IsValid());
}

TEST(Decode, FailuresLeaveTheImageAsItWas) {
    RasterImage img = testing::RandomImage(5, 4, 8, 3);
    const RasterImage before(img);
    std::string text = "This is a line of text and no picture at all.\n";
    for (uint32_t code : {0u, 16u, 10u, 18u, 99u}) {
        MemoryStream s(reinterpret_cast<uint8_t*>(text.data()), text.size());
        EXPECT_FALSE(img.Decode(&s, code)) << code;
        EXPECT_STREQ(img.GetLastError(), kUnknown) << code;
        EXPECT_TRUE(testing::SamePixels(img, before)) << code;
    }
    EXPECT_FALSE(img.Decode(static_cast<ByteStream*>(nullptr), 0));
    EXPECT_STREQ(img.GetLastError(), "null file handler");
    img.SetLastError("");
    EXPECT_FALSE(img.Decode(static_cast<FILE*>(nullptr), 0));
    EXPECT_STREQ(img.GetLastError(), "null file handler");
    EXPECT_TRUE(testing::SamePixels(img, before));
}

TEST(Load, KeepsTheMessageOfTheTypedAttempt) {
    testing::ScratchDir dir;
    const std::string text = "not a TIFF, not anything\n";
    const std::string path = Put(dir, "a.tif", text);
    // The message the TIFF reader gives for these bytes.
    RasterImage typed;
    MemoryStream s(reinterpret_cast<uint8_t*>(const_cast<char*>(text.data())), text.size());
    EXPECT_FALSE(typed.Decode(&s, kFormatTiff));

    RasterImage img;
    EXPECT_FALSE(img.Load(path.c_str(), kFormatTiff));
    EXPECT_STREQ(img.GetLastError(), typed.GetLastError());
    EXPECT_STRNE(img.GetLastError(), kUnknown);
    EXPECT_FALSE(img.Load(path.c_str(), kFormatUnknown));
    EXPECT_STREQ(img.GetLastError(), kUnknown);

    // A file that cannot be opened leaves the message alone.
    img.SetLastError("kept");
    EXPECT_FALSE(img.Load(dir.File("missing.tif").c_str(), kFormatTiff));
    EXPECT_FALSE(img.Load(dir.File("missing.tif").c_str(), kFormatUnknown));
    EXPECT_STREQ(img.GetLastError(), "kept");
    EXPECT_FALSE(img.Load(dir.path().c_str(), kFormatUnknown));
    EXPECT_FALSE(img.IsValid());
}

// A code of no format (16, or above 20) makes no typed attempt, so the
// detection's own message is the one reported.
TEST(Load, ExplainsAFailureWithACodeOfNoFormat) {
    testing::ScratchDir dir;
    const std::string path = Put(dir, "a.png", "plain text, no picture\n");
    RasterImage img;
    EXPECT_FALSE(img.Load(path.c_str(), 16));
    EXPECT_STREQ(img.GetLastError(), kUnknown);
}

TEST(Load, DetectsTheFormatWhenTheNameLies) {
    if (!DecoderReady(kFormatPng)) GTEST_SKIP() << "PNG codec not built yet";
    testing::ScratchDir dir;
    const std::string path = dir.File("a.TIF");
    ASSERT_EQ(testing::RunShell(std::string(testing::kImageMagick) +
                                " -size 7x5 gradient:red-blue -depth 8 'png:" + path + "'"),
              0);
    testing::Pnm pnm;
    ASSERT_TRUE(testing::DecodeWithImageMagick(path, &pnm));
    RasterImage img;
    ASSERT_TRUE(img.Load(path.c_str(), kFormatTiff)) << img.GetLastError();
    EXPECT_EQ(img.GetType(), kFormatPng);
    EXPECT_TRUE(testing::MatchesPnm(img, pnm));

    // Detection starts where the stream stood, and goes back there before
    // each format it tries.
    Bytes data = {'j', 'u', 'n', 'k', '!'};
    const Bytes png = testing::ReadFileBytes(path);
    data.insert(data.end(), png.begin(), png.end());
    MemoryStream s(data.data(), data.size());
    ASSERT_TRUE(s.Seek(5, SEEK_SET));
    RasterImage detected;
    ASSERT_TRUE(detected.Decode(&s, kFormatUnknown)) << detected.GetLastError();
    EXPECT_TRUE(testing::MatchesPnm(detected, pnm));
}

TEST(Save, AFailedSaveLeavesNothingBehindAndNothingChanged) {
    testing::ScratchDir dir;
    RasterImage img = testing::RandomImage(6, 3, 8, 4);
    EXPECT_FALSE(img.Save(dir.File("out.png").c_str(), 16));
    EXPECT_STREQ(img.GetLastError(), "Encode: Unknown format");
    EXPECT_TRUE(Entries(dir.path()).empty()) << "neither the file nor a temporary one";

    const std::string existing = Put(dir, "old.wmf", "precious");
    EXPECT_FALSE(img.Save(existing.c_str(), kFormatWmf));
    EXPECT_STREQ(img.GetLastError(), "Save WMF not supported");
    EXPECT_EQ(testing::ReadFileBytes(existing), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    EXPECT_EQ(Entries(dir.path()).size(), 1u);

    // A folder that does not exist: false, and the message is left alone.
    img.SetLastError("untouched");
    EXPECT_FALSE(img.Save(dir.File("no/such/folder/out.bmp").c_str(), kFormatBmp));
    EXPECT_STREQ(img.GetLastError(), "untouched");
    EXPECT_FALSE(img.Save("", kFormatBmp));
    EXPECT_FALSE(img.Save(nullptr, kFormatBmp));
    EXPECT_STREQ(img.GetLastError(), "untouched");
}

TEST(Save, WritesWhatEncodeWritesAndReplacesAnOldFile) {
    if (!EncoderReady(kFormatBmp)) GTEST_SKIP() << "BMP codec not built yet";
    testing::ScratchDir dir;
    RasterImage img = testing::RandomImage(9, 5, 24, 5);
    MemoryStream s;
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(img.Encode(&s, kFormatBmp)) << img.GetLastError();
    const Bytes encoded(s.GetBuffer(false), s.GetBuffer(false) + s.Size());

    const std::string path = Put(dir, "page.bmp", "an older, longer file that is to be replaced");
    ASSERT_TRUE(img.Save(path.c_str(), kFormatBmp)) << img.GetLastError();
    EXPECT_EQ(testing::ReadFileBytes(path), encoded);
    EXPECT_EQ(Entries(dir.path()).size(), 1u) << "no temporary file left";
    testing::Pnm pnm;
    ASSERT_TRUE(testing::DecodeWithImageMagick(path, &pnm));
    EXPECT_TRUE(testing::MatchesPnm(img, pnm));

    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

// A save through a symbolic link writes the file it names and keeps the
// link; an existing file keeps its permissions.
TEST(Save, WritesThroughLinksAndKeepsPermissions) {
    if (!EncoderReady(kFormatBmp)) GTEST_SKIP() << "BMP codec not built yet";
    testing::ScratchDir dir;
    RasterImage img = testing::RandomImage(4, 4, 24, 6);
    const std::string real = Put(dir, "real.bmp", "old");
    ASSERT_EQ(chmod(real.c_str(), 0600), 0);
    const std::string link = dir.File("link.bmp");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(img.Save(link.c_str(), kFormatBmp)) << img.GetLastError();
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
    EXPECT_GT(testing::ReadFileBytes(real).size(), 3u) << "the linked file was not written";
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A name that was free when the save began is taken only if it still is: a
// file that another program creates there meanwhile is never replaced.
TEST(WriteFileSafely, NeverReplacesAFileThatAppearedWhileWriting) {
    testing::ScratchDir dir;
    const std::string path = dir.File("page.pdf");
    SafeWriteOutcome outcome;
    const bool ok = WriteFileSafely(
        path.c_str(),
        [&](ByteStream* stream) {
            Put(dir, "page.pdf", "theirs");
            return stream->Write("ours", 1, 4) == 4;
        },
        outcome);
    EXPECT_FALSE(ok);
    EXPECT_EQ(outcome.error, "\"" + path + "\" was created by someone else meanwhile");
    EXPECT_EQ(testing::ReadFileBytes(path), Bytes({'t', 'h', 'e', 'i', 'r', 's'}));
    EXPECT_EQ(Entries(dir.path()).size(), 1u) << "no temporary file left";
}

}  // namespace
}  // namespace sheetmend
