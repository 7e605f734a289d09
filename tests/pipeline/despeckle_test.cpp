#include <gtest/gtest.h>

#include <random>

#include "image/raster_image.h"
#include "pipeline/clean_page.h"
#include "pipeline/clean_specks.h"
#include "tests/support/text_page.h"

namespace sheetmend {
namespace {

using testing::BitPage;

// The despeckle by its plain definition, pixel by pixel: columns scanned
// left to right, each top down; each unvisited ink pixel seeds a component
// grown breadth first through the eight neighbours in their fixed order; the
// seed takes no part in the extents or the edge rule. A component that grows
// past 19900 pixels is kept, all of it.
void ReferenceDespeckle(BitPage& page, int32_t size) {
    const int32_t w = page.width, h = page.height;
    std::vector<uint8_t> visited(static_cast<size_t>(w) * h, 0);
    std::vector<std::pair<int32_t, int32_t>> queue;
    static const int dx[8] = {-1, 1, 0, 0, -1, 1, -1, 1}, dy[8] = {0, 0, -1, 1, -1, -1, 1, 1};
    auto seen = [&](int32_t x, int32_t y) -> uint8_t& {
        return visited[static_cast<size_t>(y) * w + x];
    };
    for (int32_t x = 0; x < w; ++x)
        for (int32_t y = 0; y < h; ++y) {
            if (!page.Ink(x, y) || seen(x, y)) continue;
            seen(x, y) = 1;
            queue.assign(1, {x, y});
            bool edge = false, large = false;
            int32_t minX = INT32_MAX, maxX = INT32_MIN, minY = INT32_MAX, maxY = INT32_MIN;
            for (size_t head = 0; head < queue.size(); ++head)
                for (int k = 0; k < 8; ++k) {
                    const int32_t nx = queue[head].first + dx[k], ny = queue[head].second + dy[k];
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h || !page.Ink(nx, ny) || seen(nx, ny))
                        continue;
                    seen(nx, ny) = 1;
                    queue.push_back({nx, ny});
                    if (nx == 0 || ny == 0 || nx == w - 1 || ny == h - 1) edge = true;
                    minX = std::min(minX, nx), maxX = std::max(maxX, nx);
                    minY = std::min(minY, ny), maxY = std::max(maxY, ny);
                    if (queue.size() > 19900) large = true;
                }
            if (large || edge || static_cast<int64_t>(queue.size()) >= size) continue;
            const bool small =
                queue.size() == 1 || (maxX - minX < size / 2 && maxY - minY < size / 2);
            if (small)
                for (const auto& [px, py] : queue) page.Set(px, py, false);
        }
}

// Marks drawn at known places on one page, with the default size 20: what
// stays and what goes.
TEST(Despeckle, DrawnMarksAtSize20) {
    struct Mark {
        const char* what;
        std::vector<std::pair<int32_t, int32_t>> pixels;
        bool kept;
    };
    auto rect = [](int32_t x0, int32_t y0, int32_t w, int32_t h) {
        std::vector<std::pair<int32_t, int32_t>> p;
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x) p.push_back({x, y});
        return p;
    };
    auto without = [](std::vector<std::pair<int32_t, int32_t>> p,
                      std::pair<int32_t, int32_t> gone) {
        std::erase(p, gone);
        return p;
    };
    auto diagonal = [](int32_t x0, int32_t y0, int32_t n) {
        std::vector<std::pair<int32_t, int32_t>> p;
        for (int32_t i = 0; i < n; ++i) p.push_back({x0 + i, y0 + i});
        return p;
    };
    auto ring = [&](int32_t x0, int32_t y0, int32_t n) {
        std::vector<std::pair<int32_t, int32_t>> p;
        for (const auto& q : rect(x0, y0, n, n))
            if (q.first == x0 || q.second == y0 || q.first == x0 + n - 1 || q.second == y0 + n - 1)
                p.push_back(q);
        return p;
    };
    const int32_t W = 301, H = 150;  // not a multiple of 8 or 16
    const std::vector<Mark> marks = {
        {"dot of 19 (4 x 5 less one)", without(rect(20, 20, 4, 5), {22, 22}), false},
        {"dot of 20 (4 x 5)", rect(40, 20, 4, 5), true},
        {"stroke 1 x 12", rect(60, 20, 12, 1), true},
        {"stroke 1 x 11", rect(60, 30, 11, 1), false},
        {"stroke 12 x 1", rect(90, 20, 1, 12), true},
        {"stroke 11 x 1", rect(100, 20, 1, 11), false},
        {"diagonal of 12", diagonal(120, 20, 12), true},
        {"diagonal of 11", diagonal(140, 20, 11), false},
        {"ring 5 x 5 (16 pixels)", ring(170, 20, 5), false},
        {"ring 6 x 6 (20 pixels)", ring(190, 20, 6), true},
        {"single pixel", {{220, 20}}, false},
        {"single pixel in the first row", {{230, 0}}, false},
        {"single pixel in the last column", {{W - 1, 60}}, false},
        {"2 x 2 in the first column", rect(0, 60, 2, 2), true},
        {"2 x 2 in the last column", rect(W - 2, 80, 2, 2), true},
        {"2 x 2 in the last row", rect(150, H - 2, 2, 2), true},
        {"3 x 1 along the first row", rect(160, 0, 3, 1), true},
        {"seed alone in the first column", {{0, 100}, {1, 101}}, false},
        {"seed alone in the first row", {{250, 0}, {250, 1}, {251, 1}}, false},
        {"bar of 30 x 3", rect(40, 100, 30, 3), true},
    };
    BitPage page(W, H);
    for (const Mark& m : marks)
        for (const auto& [x, y] : m.pixels) page.Set(x, y);
    BitPage reference = page;
    Despeckle(page.bits.data(), W, H, 20);
    for (const Mark& m : marks)
        for (const auto& [x, y] : m.pixels)
            EXPECT_EQ(page.Ink(x, y), m.kept) << m.what << " at " << x << "," << y;
    ReferenceDespeckle(reference, 20);
    EXPECT_EQ(page.bits, reference.bits);
}

// The size sets both the pixel count and the extents (size / 2).
TEST(Despeckle, SpeckleSizeScalesCountAndExtent) {
    struct Case {
        int32_t size;
        int32_t w, h;  // a solid rectangle in the middle of the page
        bool kept;
    } cases[] = {
        {40, 4, 5, false},   {40, 6, 6, false},   {40, 5, 8, true},    {40, 22, 1, true},
        {40, 21, 1, false},  {2, 1, 1, false},    {2, 2, 1, true},     {1, 1, 1, true},
        {100, 8, 12, false}, {100, 10, 10, true}, {300, 1, 152, true}, {300, 1, 151, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "size " << c.size << ", " << c.w << " x " << c.h);
        BitPage page(200, 200);
        page.Fill(20, 20, c.w, c.h);
        Despeckle(page.bits.data(), 200, 200, c.size);
        EXPECT_EQ(page.InkCount(), c.kept ? int64_t{c.w} * c.h : 0);
    }
}

// A component of more than 19900 pixels is kept whole, also its far end
// that the growth reaches last: a block of 199 x 100 grows first, a knob of
// 3 x 3 beyond its right side would be left as a speck of its own.
TEST(Despeckle, LargeComponentsAreKeptWhole) {
    for (int32_t size : {20, 50000}) {
        BitPage page(400, 200);
        page.Fill(50, 50, 199, 100);
        page.Fill(249, 99, 3, 3);
        const BitPage before = page;
        Despeckle(page.bits.data(), page.width, page.height, size);
        EXPECT_EQ(page.bits, before.bits) << size;
    }
    // 19900 pixels exactly are judged: at a size above them, without edge
    // contact and within the extents, they go.
    BitPage page(400, 200);
    page.Fill(50, 50, 199, 100);
    Despeckle(page.bits.data(), page.width, page.height, 19901 * 2);
    EXPECT_EQ(page.InkCount(), 0);
}

TEST(Despeckle, PagesOf10000PixelsAreLeftAlone) {
    for (const auto& [w, h, kept] : std::vector<std::tuple<int32_t, int32_t, bool>>{
             {10000, 4, true}, {9999, 4, false}, {20, 10000, true}, {20, 9999, false}}) {
        BitPage page(w, h);
        page.Set(w / 2, 2);
        Despeckle(page.bits.data(), w, h, 20);
        EXPECT_EQ(page.Ink(w / 2, 2), kept) << w << " x " << h;
    }
    Despeckle(nullptr, 10, 10, 20);  // no rows: nothing to do, no crash
}

// The page is its own work space: kept components are cleared while the
// scan passes and drawn back afterwards. A frame as tall as the page (kept
// until the last row), long strokes kept across many rows, specks between
// them, and set padding bits, which are no pixels and must stay as they are.
TEST(Despeckle, KeptComponentsComeBackWholeAndPaddingStays) {
    // 150 columns in rows of 160 bits: columns 150 .. 159 are padding, set
    // here in a pattern next to a speck on the right edge (kept, as it
    // touches the last column).
    BitPage page(150, 120);
    auto setPadding = [](BitPage& p, bool on) {
        for (int32_t y = 0; y < p.height; ++y) {
            p.Row(y)[18] = on ? static_cast<uint8_t>(p.Row(y)[18] | 0x03)
                              : static_cast<uint8_t>(p.Row(y)[18] & 0xFC);
            p.Row(y)[19] = on ? 0x5A : 0x00;
        }
    };
    page.Fill(3, 0, 138, 1);  // a frame joined at the top and bottom
    page.Fill(3, 119, 138, 1);
    page.Fill(3, 0, 1, 120);
    page.Fill(140, 0, 1, 120);
    page.Fill(148, 60, 2, 2);
    for (int32_t x = 10; x < 130; x += 9) page.Fill(x, 5 + x % 40, 2, 60);  // strokes
    for (int32_t i = 0; i < 40; ++i)
        page.Fill(7 + (i * 37) % 125, 2 + (i * 53) % 115, 2, 2);  // specks
    BitPage reference = page;
    ReferenceDespeckle(reference, 20);
    setPadding(page, true);
    Despeckle(page.bits.data(), page.width, page.height, 20);
    BitPage padding(150, 120);
    setPadding(padding, true);
    for (size_t i = 0; i < page.bits.size(); ++i)
        ASSERT_EQ(page.bits[i] & padding.bits[i], padding.bits[i]) << "padding byte " << i;
    setPadding(page, false);
    EXPECT_EQ(page.bits, reference.bits);
    EXPECT_TRUE(page.Ink(3, 60) && page.Ink(140, 119) && page.Ink(10, 40) && page.Ink(149, 61));
}

// Random pages of specks, strokes and blobs against the plain definition,
// at widths that end inside a byte and a padded word.
TEST(Despeckle, FastPathMatchesThePixelDefinition) {
    std::mt19937 rng(13);
    for (const auto& [w, h] :
         std::vector<std::pair<int32_t, int32_t>>{{77, 53}, {128, 96}, {250, 180}, {9, 300}}) {
        for (int32_t size : {3, 20, 45}) {
            BitPage page(w, h);
            for (int32_t i = 0; i < w * h / 40; ++i) {
                const int32_t x = static_cast<int32_t>(rng() % w),
                              y = static_cast<int32_t>(rng() % h);
                const int32_t bw = 1 + static_cast<int32_t>(rng() % 7),
                              bh = 1 + static_cast<int32_t>(rng() % 5);
                for (int32_t yy = y; yy < std::min(h, y + bh); ++yy)
                    for (int32_t xx = x; xx < std::min(w, x + bw); ++xx)
                        if (rng() % 3) page.Set(xx, yy);
            }
            BitPage reference = page;
            const int64_t before = page.InkCount();
            Despeckle(page.bits.data(), w, h, size);
            ReferenceDespeckle(reference, size);
            EXPECT_EQ(page.bits, reference.bits) << w << " x " << h << " size " << size;
            // Both kinds of component occur on every page.
            EXPECT_LT(page.InkCount(), before);
            EXPECT_GT(page.InkCount(), 0);
        }
    }
}

// The speck removal of -clean keeps the specks that belong to text or to a
// picture: one beside other ink (within a tenth of the speck size), the dot
// of an i above its stem, a full stop after its letter, the dots of a leader
// and those of a halftone; it erases specks that lie otherwise, alone, in
// pairs or in uneven rows.
TEST(CleanSpecks, KeepsTheDotsOfTextAndPicturesAndErasesDust) {
    struct Dot {
        int32_t x, y;
        bool kept;
    };
    // A 12 x 30 letter at (100, 100), an i's 3 x 30 stem at (300, 100);
    // 3 x 3 dots; size 20, so the guard is 2.
    const Dot dots[] = {
        {113, 110, true},   // one pixel of paper right of the letter
        {109, 96, true},    // one above it
        {116, 127, true},   // four right of its foot: a full stop (within twice its width)
        {116, 115, false},  // four right of it, higher up
        {101, 92, false},   // four above it: no stem there
        {95, 120, false},   // two left of it
        {300, 94, true},    // three above the stem: the i's dot (within twice its height)
        {300, 300, false},  // alone on the paper
        {400, 300, false},  // a pair of specks, one pixel apart
        {404, 300, false}, {100, 400, true},  // a leader: five dots at gaps of 4
        {107, 400, true},  {114, 400, true},  {121, 400, true},
        {128, 400, true},  {200, 400, false},  // a row at gaps of 4 and 7
        {207, 400, false}, {217, 400, false},
    };
    testing::BitPage page(600, 500);
    page.Fill(100, 100, 12, 30);
    page.Fill(300, 100, 3, 30);
    int32_t erased = 0, kept = 0;
    for (const Dot& d : dots) {
        page.Fill(d.x, d.y, 3, 3);
        (d.kept ? kept : erased) += 1;
    }
    for (int32_t y = 100; y < 115; y += 3)  // a halftone: single pixels 3 apart
        for (int32_t x = 500; x < 515; x += 3) page.Fill(x, y, 1, 1);
    // Dust smaller than the type's dots where a full stop would be.
    page.Fill(100, 200, 12, 30);
    page.Fill(115, 227, 2, 2);
    RasterImage image = testing::BitPageImage(page);
    EXPECT_EQ(RemoveSpecks(image, 20), erased + 1);
    const testing::BitPage got = testing::InkOfImage(image);
    for (const Dot& d : dots) EXPECT_EQ(got.Ink(d.x, d.y), d.kept) << d.x << ", " << d.y;
    EXPECT_EQ(got.InkCount(), 2 * 12 * 30 + 3 * 30 + 9 * kept + 25);

    // The light part of a halftone: dots about 7 apart, unevenly along the
    // rows (no leader), with fewer than 4 within 6 pixels but 8 within 12
    // inside the screen.
    testing::BitPage light(200, 200);
    const int32_t shift[] = {0, 4, 1};
    for (int32_t j = 0; j < 9; ++j)
        for (int32_t i = 0; i < 9; ++i) light.Fill(40 + 7 * i + shift[i % 3], 40 + 7 * j, 1, 1);
    image = testing::BitPageImage(light);
    RemoveSpecks(image, 20);
    const testing::BitPage screen = testing::InkOfImage(image);
    for (int32_t j = 3; j < 6; ++j)
        for (int32_t i = 3; i < 6; ++i)
            EXPECT_TRUE(screen.Ink(40 + 7 * i + shift[i % 3], 40 + 7 * j)) << i << ", " << j;
}

// Without a speck size, a page whose letters are smaller than the default
// speck (7 pixels high, 8 to 11 pixels of ink: 75 dpi) keeps them, and the
// accent over one, and loses only what is far smaller; a size that is given
// is used as it is.
TEST(CleanSpecks, SmallLettersAreNotSpecksUnlessTheSizeSaysSo) {
    testing::BitPage page(400, 200);
    int32_t letters = 0;
    for (int32_t row = 0; row < 4; ++row)
        for (int32_t x = 20; x < 360; x += 20, ++letters) {  // an L, 2 or 5 wide
            page.Fill(x, 20 + 30 * row, 1, 7);
            page.Fill(x, 26 + 30 * row, letters % 2 ? 2 : 5, 1);
        }
    page.Fill(21, 17, 1, 1);  // an accent two pixels over the first letter
    const int64_t ink = page.InkCount();
    page.Fill(200, 150, 1, 1);
    page.Fill(300, 180, 2, 1);
    RasterImage image = testing::BitPageImage(page);
    EXPECT_EQ(RemoveSpecks(image, 0), 2);
    EXPECT_EQ(testing::InkOfImage(image).InkCount(), ink);
    EXPECT_EQ(RemoveSpecks(image, 20), letters + 1);
}

}  // namespace
}  // namespace sheetmend
