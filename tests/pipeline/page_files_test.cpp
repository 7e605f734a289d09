// The page files helpers on their own: the names of numbered result pages,
// the page count of inputs, and a sink that is given up or left empty.
#include "pipeline/page_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "image/codecs/tiff_codec.h"
#include "image/formats.h"
#include "image/raster_image.h"
#include "pipeline/page_source.h"

namespace sheetmend {
namespace {

class ScratchFolder {
  public:
    ScratchFolder() {
        char name[] = "/tmp/sheetmend-pages-XXXXXX";
        if (mkdtemp(name)) path_ = name;
    }
    ~ScratchFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Files in the folder, hidden temporary files included.
int FileCount(const std::string& dir) {
    const std::string command = "test $(ls -A '" + dir + "' | wc -l) -eq ";
    for (int n = 0; n < 10; ++n)
        if (std::system((command + std::to_string(n)).c_str()) == 0) return n;
    return -1;
}

RasterImage Page(uint32_t w, uint32_t h) {
    RasterImage img(w, h, 24);
    img.Clear(200);
    return img;
}

TEST(NumberedPagePath, PageOneKeepsTheNameLaterPagesAreNumbered) {
    struct Case {
        const char* output;
        int32_t page;
        const char* expected;
    };
    const Case cases[] = {
        {"/d/out.png", 1, "/d/out.png"},
        {"/d/out.png", 2, "/d/out-2.png"},
        {"/d/out.png", 12, "/d/out-12.png"},
        {"/d/out000.jpg", 3, "/d/out000-3.jpg"},
        {"/d/a.b/scan.tiff.bmp", 4, "/d/a.b/scan.tiff-4.bmp"},
        {"rel.gif", 2, "rel-2.gif"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NumberedPagePath(c.output, c.page), c.expected) << c.output;
}

TEST(MakeUniquePath, TakesTheFirstFreeNumber) {
    ScratchFolder dir;
    std::string path = dir.File("p.png");
    EXPECT_TRUE(MakeUniquePath(path));
    EXPECT_EQ(path, dir.File("p.png"));
    for (const char* taken : {"p.png", "p000.png", "p001.png"}) {
        RasterImage img = Page(2, 2);
        ASSERT_TRUE(img.Save(dir.File(taken).c_str(), kFormatPng));
    }
    path = dir.File("p.png");
    EXPECT_TRUE(MakeUniquePath(path));
    EXPECT_EQ(path, dir.File("p002.png"));
}

TEST(CountInputPages, OnlyTiffContentHasSeveralPages) {
    ScratchFolder dir;
    RasterImage a = Page(8, 8), b = Page(4, 4), c = Page(6, 2);
    RasterImage* pages[] = {&a, &b, &c};
    {
        TiffImage writer;
        FILE* f = std::fopen(dir.File("three.tif").c_str(), "w+b");
        ASSERT_NE(f, nullptr);
        EXPECT_TRUE(writer.Encode(f, pages, 3));
        std::fclose(f);
    }
    int32_t total = 0;
    EXPECT_EQ(CountInputPages(dir.File("three.tif"), &total), 3);
    EXPECT_EQ(total, 3);
    // A TIFF under another extension is still read by its content.
    ASSERT_EQ(std::rename(dir.File("three.tif").c_str(), dir.File("three.png").c_str()), 0);
    EXPECT_EQ(CountInputPages(dir.File("three.png")), 3);
    ASSERT_TRUE(a.Save(dir.File("one.bmp").c_str(), kFormatBmp));
    EXPECT_EQ(CountInputPages(dir.File("one.bmp"), &total), 1);
    EXPECT_EQ(total, 1);

    PageSource source;
    ASSERT_TRUE(source.Open(dir.File("three.png")));
    EXPECT_FALSE(source.WholeFile());
    RasterImage second;
    ASSERT_TRUE(source.Load(1, second));
    EXPECT_EQ(second.GetWidth(), 4u);
    EXPECT_EQ(second.GetFrame(), 0);  // a page like any other once loaded
    EXPECT_FALSE(source.Load(3, second));
    // A file that cannot be opened says why, in the system's words.
    EXPECT_FALSE(source.Open(dir.File("missing.png")));
    EXPECT_EQ(source.Error(), "No such file or directory");
    EXPECT_EQ(CountInputPages(dir.File("missing.png")), 0);
}

TEST(PageSink, ADocumentGivenUpOrLeftEmptyLeavesNoFile) {
    for (const char* name : {"doc.tif", "doc.pdf"}) {
        SCOPED_TRACE(name);
        ScratchFolder dir;
        const uint32_t code = ImageTypeFromExtension(name);
        {
            PageSink sink;
            ASSERT_TRUE(sink.Open(dir.File(name), code, 2));
            RasterImage page = Page(10, 10);
            ASSERT_TRUE(sink.Add(page, 1)) << sink.LastError();
        }  // given up before Close
        EXPECT_EQ(FileCount(dir.path()), 0);
        {
            PageSink sink;
            ASSERT_TRUE(sink.Open(dir.File(name), code, 2));
            EXPECT_FALSE(sink.Close());  // no page was given
        }
        EXPECT_EQ(FileCount(dir.path()), 0);
        {
            PageSink sink;
            ASSERT_TRUE(sink.Open(dir.File(name), code, 2));
            RasterImage one = Page(10, 10), two = Page(20, 5);
            EXPECT_TRUE(sink.Add(one, 1));
            EXPECT_TRUE(sink.Add(two, 2));
            EXPECT_TRUE(sink.Close()) << sink.LastError();
            EXPECT_EQ(sink.WrittenPages(), 2);
        }
        EXPECT_EQ(FileCount(dir.path()), 1);
        RasterImage back;
        back.SetFrame(1);
        if (code == kFormatTiff) {
            ASSERT_TRUE(back.Load(dir.File(name).c_str(), kFormatTiff));
            EXPECT_EQ(back.GetWidth(), 20u);
            EXPECT_EQ(back.GetNumFrames(), 2);
        }
    }
}

TEST(PageSink, AnUnwritablePageIsReportedWithItsName) {
    ScratchFolder dir;
    PageSink sink;
    ASSERT_TRUE(sink.Open(dir.File("gone/out.png"), kFormatPng, 2));
    RasterImage page = Page(4, 4);
    EXPECT_FALSE(sink.Add(page, 2));
    EXPECT_EQ(sink.FailedPath(), dir.File("gone/out-2.png"));
    EXPECT_NE(sink.LastError(), "");
    EXPECT_FALSE(sink.Close());
}

}  // namespace
}  // namespace sheetmend
