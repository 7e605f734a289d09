#include "layout/block_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "layout/block_analysis_internal.h"

namespace sheetmend {
namespace {

// A one-bit page laid out like the page bitmap: top row first, rows padded
// to 16 pixels, most significant bit leftmost, set bit = ink.
struct DrawnPage {
    int32_t width, height, rowBytes;
    std::vector<uint8_t> bits;

    DrawnPage(int32_t w, int32_t h)
        : width(w),
          height(h),
          rowBytes(((w + 15) >> 4) * 2),
          bits(static_cast<size_t>(rowBytes) * h, 0) {}

    void Set(int32_t x, int32_t y) {
        bits[static_cast<size_t>(y) * rowBytes + (x >> 3)] |= uint8_t(0x80 >> (x & 7));
    }
    // Clipped to the page.
    void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, width - 1);
        y1 = std::min(y1, height - 1);
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) Set(x, y);
    }
};

struct Box {
    int32_t x0, y0, x1, y1;
};

// Deterministic word lengths and character widths.
struct Lcg {
    uint32_t state;
    int32_t Next(int32_t lo, int32_t hi) {
        state = state * 1103515245u + 12345u;
        return lo + static_cast<int32_t>((state >> 16) % uint32_t(hi - lo + 1));
    }
};

// One line of horizontal text: words of 2 to 7 character boxes (a full line
// high, 55 to 75 % of it wide, 4 pixels apart) with word gaps of 0.45 x the
// height, filling x0..x1 and ending on a whole word. Returns the ink box.
Box DrawTextLine(DrawnPage& page, int32_t x0, int32_t y0, int32_t x1, int32_t h, uint32_t seed) {
    Lcg rng{seed};
    const int32_t wordGap = h * 45 / 100;
    int32_t x = x0, right = x0;
    for (;;) {
        const int32_t chars = rng.Next(2, 7);
        std::vector<int32_t> widths;
        int32_t wordWidth = 0;
        for (int32_t c = 0; c < chars; ++c) {
            widths.push_back(rng.Next(h * 55 / 100, h * 75 / 100));
            wordWidth += widths.back() + (c ? 4 : 0);
        }
        if (x + wordWidth - 1 > x1) break;
        for (int32_t w : widths) {
            page.Fill(x, y0, x + w - 1, y0 + h - 1);
            right = x + w - 1;
            x += w + 4;
        }
        x += wordGap - 4;
    }
    return Box{x0, y0, right, y0 + h - 1};
}

// A paragraph of `lines` text lines; returns the union of their boxes.
Box DrawParagraph(DrawnPage& page, int32_t x0, int32_t y0, int32_t x1, int32_t lines, int32_t h,
                  int32_t gap, uint32_t seed) {
    Box all{x0, y0, x0, y0};
    for (int32_t i = 0; i < lines; ++i) {
        const Box b = DrawTextLine(page, x0, y0 + i * (h + gap), x1, h, seed + 7919u * i);
        all.x1 = std::max(all.x1, b.x1);
        all.y1 = b.y1;
    }
    return all;
}

// Vertical text: `columns` lines of w x w character boxes stacked 5 pixels
// apart (words 12 pixels apart), laid from right to left with `gap`
// between the lines. Returns the ink box.
Box DrawVerticalText(DrawnPage& page, int32_t x1, int32_t y0, int32_t y1, int32_t columns,
                     int32_t w, int32_t gap, uint32_t seed) {
    Lcg rng{seed};
    int32_t left = x1, bottom = y0, top = y1;
    for (int32_t c = 0; c < columns; ++c) {
        const int32_t cx1 = x1 - c * (w + gap), cx0 = cx1 - w + 1;
        int32_t y = y0 + rng.Next(0, 1) * (w + 5);  // ragged line starts
        top = std::min(top, y);
        int32_t inWord = rng.Next(2, 6);
        while (y + w - 1 <= y1) {
            page.Fill(cx0, y, cx1, y + w - 1);
            bottom = std::max(bottom, y + w - 1);
            y += w + 5;
            if (--inWord == 0) {
                y += 12;
                inWord = rng.Next(2, 6);
            }
        }
        left = cx0;
    }
    return Box{left, top, x1, bottom};
}

std::vector<BlockRecord> Analyze(const DrawnPage& page, Box block) {
    EngineContext ctx(page.bits.data(), page.rowBytes * 8, page.height);
    std::vector<BlockRecord> out = AnalyzeBlock(ctx, block.x0, block.y0, block.x1, block.y1);
    ReleasePool(ctx);
    return out;
}

std::string Describe(const std::vector<BlockRecord>& records) {
    std::string s;
    for (const BlockRecord& r : records) {
        s += "(" + std::to_string(r.x0) + "," + std::to_string(r.y0) + "," + std::to_string(r.x1) +
             "," + std::to_string(r.y1) + " type " + std::to_string(r.type) + ") ";
    }
    return s;
}

// The record holds the drawn box, and reaches at most `slack` pixels past it.
bool Covers(const BlockRecord& r, const Box& b, int32_t slack = 4) {
    return r.x0 <= b.x0 && r.y0 <= b.y0 && r.x1 >= b.x1 && r.y1 >= b.y1 && b.x0 - r.x0 <= slack &&
           b.y0 - r.y0 <= slack && r.x1 - b.x1 <= slack && r.y1 - b.y1 <= slack;
}

void ExpectInside(const std::vector<BlockRecord>& records, const Box& block) {
    ASSERT_FALSE(records.empty());
    for (const BlockRecord& r : records) {
        EXPECT_LE(block.x0, r.x0);
        EXPECT_LE(block.y0, r.y0);
        EXPECT_GE(block.x1, r.x1);
        EXPECT_GE(block.y1, r.y1);
        EXPECT_LE(r.x0, r.x1);
        EXPECT_LE(r.y0, r.y1);
        EXPECT_LE(r.type, 2u);
    }
}

// ---------------------------------------------------------------------------

TEST(AnalyzeBlockTest, BlocksWithoutTextAreOnePictureOfTheirOwnBox) {
    struct Case {
        const char* what;
        void (*draw)(DrawnPage&);
    };
    const Case cases[] = {
        {"empty", [](DrawnPage&) {}},
        {"one blob", [](DrawnPage& p) { p.Fill(200, 150, 799, 549); }},
        {"halftone dots",
         [](DrawnPage& p) {
             for (int32_t y = 100; y < 700; y += 6)
                 for (int32_t x = 100; x < 900; x += 6) p.Fill(x, y, x + 2, y + 2);
         }},
        {"specks",
         [](DrawnPage& p) {
             for (int32_t i = 0; i < 40; ++i)
                 p.Fill(37 * i % 950, 53 * i % 750, 37 * i % 950 + 1, 53 * i % 750 + 1);
         }},
    };
    const Box block{10, 20, 989, 779};
    for (const Case& c : cases) {
        DrawnPage page(1000, 800);
        c.draw(page);
        const std::vector<BlockRecord> r = Analyze(page, block);
        ASSERT_EQ(r.size(), 1u) << c.what << ": " << Describe(r);
        EXPECT_EQ(r[0].type, uint32_t{kPicture}) << c.what;
        EXPECT_EQ(r[0].x0, block.x0) << c.what;
        EXPECT_EQ(r[0].y0, block.y0) << c.what;
        EXPECT_EQ(r[0].x1, block.x1) << c.what;
        EXPECT_EQ(r[0].y1, block.y1) << c.what;
    }
}

TEST(AnalyzeBlockTest, ThreeLinesOfHorizontalTextAreOneHorizontalRecord) {
    DrawnPage page(1000, 400);
    const Box text = DrawParagraph(page, 100, 100, 899, 3, 30, 20, 11);
    ASSERT_EQ(text.y1, 100 + 3 * 30 + 2 * 20 - 1);
    const Box block{0, 0, 999, 399};
    const std::vector<BlockRecord> r = Analyze(page, block);
    ExpectInside(r, block);
    ASSERT_EQ(r.size(), 1u) << Describe(r);
    EXPECT_EQ(r[0].type, uint32_t{kHorizontalText});
    EXPECT_TRUE(Covers(r[0], text)) << Describe(r);
}

TEST(AnalyzeBlockTest, NarrowColumnBandsAreOneVerticalRecord) {
    struct Case {
        int32_t columns, charSize, gap;
    };
    // One line alone, a few, many; characters of 24 to 48 pixels.
    const Case cases[] = {{1, 32, 22}, {2, 40, 30}, {3, 24, 20}, {8, 32, 22}, {12, 48, 24}};
    for (const Case& c : cases) {
        DrawnPage page(1000, 900);
        const Box text = DrawVerticalText(page, 900, 100, 799, c.columns, c.charSize, c.gap, 5);
        const Box block{0, 0, 999, 899};
        const std::vector<BlockRecord> r = Analyze(page, block);
        ExpectInside(r, block);
        ASSERT_EQ(r.size(), 1u) << c.columns << " lines: " << Describe(r);
        EXPECT_EQ(r[0].type, uint32_t{kVerticalText}) << c.columns << " lines";
        EXPECT_TRUE(Covers(r[0], text, 8)) << c.columns << " lines: " << Describe(r);
    }
}

// Some record holds the drawn box (to within `slack` pixels on each side).
bool InsideSome(const std::vector<BlockRecord>& records, const Box& b, int32_t slack = 4) {
    for (const BlockRecord& r : records) {
        if (r.x0 <= b.x0 + slack && r.y0 <= b.y0 + slack && r.x1 >= b.x1 - slack &&
            r.y1 >= b.y1 - slack) {
            return true;
        }
    }
    return false;
}

// A ragged list of one or two words a line, each line between 130 and 169
// pixels wide (the column 170 wide), `lines` lines of height h, `gap` apart.
std::vector<Box> DrawList(DrawnPage& page, int32_t x0, int32_t y0, int32_t lines, int32_t h,
                          int32_t gap, uint32_t seed) {
    Lcg rng{seed};
    std::vector<Box> boxes;
    for (int32_t i = 0; i < lines; ++i) {
        const int32_t x1 = x0 + rng.Next(130, 169);
        boxes.push_back(DrawTextLine(page, x0, y0 + i * (h + gap), x1, h, seed + 31u * i));
    }
    return boxes;
}

// A table of `columns` columns of figures, each column `colWidth` wide and
// `pitch` apart: right-aligned numbers of 2 to 5 digits (10 pixels wide, 2
// apart), `rows` rows of height h, `gap` apart, the widest number in each
// column filling it. Returns the box of each column.
std::vector<Box> DrawTable(DrawnPage& page, int32_t x0, int32_t y0, int32_t columns,
                           int32_t colWidth, int32_t pitch, int32_t rows, int32_t h, int32_t gap,
                           uint32_t seed) {
    Lcg rng{seed};
    std::vector<Box> boxes;
    const int32_t maxDigits = (colWidth + 2) / 12;
    for (int32_t c = 0; c < columns; ++c) {
        const int32_t cx1 = x0 + c * pitch + colWidth - 1;
        int32_t left = cx1;
        for (int32_t row = 0; row < rows; ++row) {
            const int32_t digits = row == 0 ? maxDigits : rng.Next(2, maxDigits);
            const int32_t y = y0 + row * (h + gap);
            for (int32_t d = 0; d < digits; ++d) {
                const int32_t dx1 = cx1 - d * 12;
                page.Fill(dx1 - 9, y, dx1, y + h - 1);
                left = std::min(left, dx1 - 9);
            }
        }
        boxes.push_back(Box{left, y0, cx1, y0 + rows * (h + gap) - gap - 1});
    }
    return boxes;
}

TEST(AnalyzeBlockTest, TightlySetHorizontalTextStaysHorizontal) {
    // Lines only 4 to 6 pixels apart are close like the characters of
    // vertical lines, but every column band here is words, figures or a
    // whole column, several line heights wide: no record may be vertical,
    // and every line or column drawn lies inside some horizontal record.
    struct Case {
        std::string what;
        std::vector<Box> (*draw)(DrawnPage&, int32_t gap);
        int32_t gap;
    };
    auto narrowColumn = [](DrawnPage& p, int32_t gap) {
        return std::vector<Box>{DrawParagraph(p, 200, 100, 539, 30, 20, gap, 41)};
    };
    auto list = [](DrawnPage& p, int32_t gap) { return DrawList(p, 200, 100, 30, 20, gap, 5); };
    auto table = [](DrawnPage& p, int32_t gap) {
        return DrawTable(p, 100, 100, 8, 60, 95, 28, 20, gap, 17);
    };
    // Bold figures whose digits touch: each cell one run of ink, narrow
    // enough to pass for a rotated word, but the rows of all columns align.
    auto touchingFigures = [](DrawnPage& p, int32_t gap) {
        std::vector<Box> boxes;
        for (int32_t c = 0; c < 8; ++c) {
            const int32_t x1 = 100 + c * 95 + 59;
            for (int32_t row = 0; row < 28; ++row) {
                const int32_t y = 100 + row * (20 + gap);
                p.Fill(x1 - 35 - (row * 7 + c * 5) % 25, y, x1, y + 19);
            }
            boxes.push_back(Box{x1 - 59, 100, x1, 100 + 28 * (20 + gap) - gap - 1});
        }
        return boxes;
    };
    std::vector<Case> cases;
    for (int32_t gap : {4, 5, 6}) {
        cases.push_back({"touching figures, gap " + std::to_string(gap), touchingFigures, gap});
        cases.push_back({"column 340 wide, gap " + std::to_string(gap), narrowColumn, gap});
        cases.push_back({"list 170 wide, gap " + std::to_string(gap), list, gap});
        cases.push_back({"table of 8 columns 60 wide, gap " + std::to_string(gap), table, gap});
    }
    for (const Case& c : cases) {
        DrawnPage page(1000, 900);
        const std::vector<Box> drawn = c.draw(page, c.gap);
        const Box block{0, 0, 999, 899};
        const std::vector<BlockRecord> r = Analyze(page, block);
        ExpectInside(r, block);
        for (const BlockRecord& rec : r) {
            EXPECT_EQ(rec.type, uint32_t{kHorizontalText}) << c.what << ": " << Describe(r);
        }
        for (const Box& b : drawn) {
            EXPECT_TRUE(InsideSome(r, b)) << c.what << ": " << Describe(r);
        }
    }
}

TEST(AnalyzeBlockTest, CloselySetVerticalTextStaysVertical) {
    // Characters 5 pixels apart in each line (row gaps under 8), lines a
    // character apart or less: vertical text, alone and beside a tight table.
    struct Case {
        int32_t columns, charSize, gap;
    };
    const Case cases[] = {{3, 24, 12}, {6, 32, 16}, {10, 40, 20}, {5, 48, 24}};
    for (bool withTable : {false, true}) {
        for (const Case& c : cases) {
            DrawnPage page(1600, 900);
            const Box text =
                DrawVerticalText(page, 1500, 100, 799, c.columns, c.charSize, c.gap, 9);
            const std::vector<Box> table =
                withTable ? DrawTable(page, 60, 100, 4, 60, 95, 24, 20, 5, 3) : std::vector<Box>{};
            const Box block{0, 0, 1599, 899};
            const std::vector<BlockRecord> r = Analyze(page, block);
            const std::string what = std::to_string(c.columns) + " lines of " +
                                     std::to_string(c.charSize) + (withTable ? " + table" : "");
            ExpectInside(r, block);
            int vertical = 0;
            for (const BlockRecord& rec : r) {
                if (rec.type == kVerticalText) {
                    ++vertical;
                    EXPECT_TRUE(Covers(rec, text, 8)) << what << ": " << Describe(r);
                } else {
                    EXPECT_EQ(rec.type, uint32_t{kHorizontalText}) << what << ": " << Describe(r);
                    EXPECT_LT(rec.x1, text.x0) << what << ": " << Describe(r);
                }
            }
            EXPECT_EQ(vertical, 1) << what << ": " << Describe(r);
            for (const Box& b : table) EXPECT_TRUE(InsideSome(r, b)) << what << ": " << Describe(r);
        }
    }
}

TEST(AnalyzeBlockTest, LinesOfRotatedGlyphsThatDoNotAlignAreVertical) {
    // Rotated words: lines 30 wide of glyphs 8 high (one run of ink each),
    // 3 apart, the words of each line starting at other rows than those of
    // its neighbours. Far wider than a glyph is high, yet vertical lines.
    DrawnPage page(1000, 1000);
    Box text{1000, 100, 0, 100};
    for (int32_t c = 0; c < 8; ++c) {
        const int32_t x0 = 200 + 60 * c;
        int32_t y = 100 + (c * 17) % 40;
        for (int32_t w = 0;; ++w) {
            const int32_t glyphs = 3 + (w * 5 + c * 3) % 6;
            if (y + glyphs * 11 > 900) break;
            for (int32_t g = 0; g < glyphs; ++g) page.Fill(x0, y + 11 * g, x0 + 29, y + 11 * g + 7);
            text.y1 = std::max(text.y1, y + 11 * glyphs - 4);
            y += glyphs * 11 + 15;
        }
        text.x0 = std::min(text.x0, x0);
        text.x1 = x0 + 29;
    }
    const Box block{0, 0, 999, 999};
    const std::vector<BlockRecord> r = Analyze(page, block);
    ExpectInside(r, block);
    ASSERT_EQ(r.size(), 1u) << Describe(r);
    EXPECT_EQ(r[0].type, uint32_t{kVerticalText}) << Describe(r);
    EXPECT_TRUE(Covers(r[0], text, 8)) << Describe(r);
}

TEST(AnalyzeBlockTest, TwoColumnsComeLeftFirstAndApart) {
    // Gutters from narrow to wide; each column 700 pixels, 12 lines.
    for (int32_t gutter : {48, 80, 150}) {
        DrawnPage page(1700, 900);
        const Box left = DrawParagraph(page, 60, 80, 759, 12, 32, 22, 21);
        const Box right = DrawParagraph(page, 760 + gutter, 80, 1459 + gutter, 12, 32, 22, 77);
        const Box block{0, 0, 1699, 899};
        const std::vector<BlockRecord> r = Analyze(page, block);
        ExpectInside(r, block);
        ASSERT_EQ(r.size(), 2u) << "gutter " << gutter << ": " << Describe(r);
        EXPECT_TRUE(Covers(r[0], left)) << "gutter " << gutter << ": " << Describe(r);
        EXPECT_TRUE(Covers(r[1], right)) << "gutter " << gutter << ": " << Describe(r);
        for (const BlockRecord& rec : r) {
            EXPECT_EQ(rec.type, uint32_t{kHorizontalText});
            EXPECT_FALSE(rec.x0 < left.x1 && rec.x1 > right.x0) << "spans the gutter";
        }
    }
}

TEST(AnalyzeBlockTest, HeadingAboveTwoColumns) {
    // The heading runs across the gutter: over it lies a word, or only a
    // word gap (which a column cut takes for the gutter).
    for (bool wordOverGutter : {true, false}) {
        DrawnPage page(1700, 1100);
        Box heading = DrawTextLine(page, 60, 60, 690, 50, 3);
        // A word from the end of that text to 900, or to 770 with the next
        // word 22 pixels on, inside the gutter 741..859.
        const int32_t wordEnd = wordOverGutter ? 900 : 770;
        int32_t x = heading.x1 + 1 + 22;
        for (; x + 29 < wordEnd; x += 34) page.Fill(x, 60, x + 29, 109);
        heading.x1 = DrawTextLine(page, x - 4 + 22, 60, 1500, 50, 4).x1;
        const Box left = DrawParagraph(page, 60, 180, 740, 14, 32, 22, 31);
        const Box right = DrawParagraph(page, 860, 180, 1540, 14, 32, 22, 41);
        const Box block{0, 0, 1699, 1099};
        const std::vector<BlockRecord> r = Analyze(page, block);
        ExpectInside(r, block);
        ASSERT_EQ(r.size(), 3u) << wordOverGutter << ": " << Describe(r);
        EXPECT_TRUE(Covers(r[0], heading)) << Describe(r);
        EXPECT_TRUE(Covers(r[1], left)) << Describe(r);
        EXPECT_TRUE(Covers(r[2], right)) << Describe(r);
        for (const BlockRecord& rec : r) EXPECT_EQ(rec.type, uint32_t{kHorizontalText});
    }
}

TEST(AnalyzeBlockTest, VerticalTextBesideHorizontalText) {
    DrawnPage page(1500, 1000);
    const Box horizontal = DrawParagraph(page, 60, 100, 759, 14, 32, 22, 51);
    const Box vertical = DrawVerticalText(page, 1400, 100, 855, 7, 32, 24, 9);
    const Box block{0, 0, 1499, 999};
    const std::vector<BlockRecord> r = Analyze(page, block);
    ExpectInside(r, block);
    ASSERT_EQ(r.size(), 2u) << Describe(r);
    int found = 0;
    for (const BlockRecord& rec : r) {
        if (rec.type == kHorizontalText) {
            EXPECT_TRUE(Covers(rec, horizontal)) << Describe(r);
            found |= 1;
        } else {
            EXPECT_EQ(rec.type, uint32_t{kVerticalText});
            EXPECT_TRUE(Covers(rec, vertical, 8)) << Describe(r);
            found |= 2;
        }
    }
    EXPECT_EQ(found, 3) << Describe(r);
}

TEST(AnalyzeBlockTest, TextAroundAPicture) {
    DrawnPage page(1200, 1300);
    const Box above = DrawParagraph(page, 80, 80, 1079, 5, 32, 22, 61);
    const Box picture{300, 450, 899, 849};
    page.Fill(picture.x0, picture.y0, picture.x1, picture.y1);
    const Box below = DrawParagraph(page, 80, 950, 1079, 5, 32, 22, 71);
    const Box block{0, 0, 1199, 1299};
    const std::vector<BlockRecord> r = Analyze(page, block);
    ExpectInside(r, block);
    ASSERT_EQ(r.size(), 3u) << Describe(r);
    EXPECT_EQ(r[0].type, uint32_t{kHorizontalText});
    EXPECT_TRUE(Covers(r[0], above)) << Describe(r);
    EXPECT_EQ(r[1].type, uint32_t{kPicture});
    EXPECT_TRUE(Covers(r[1], picture, 0)) << Describe(r);
    EXPECT_EQ(r[2].type, uint32_t{kHorizontalText});
    EXPECT_TRUE(Covers(r[2], below)) << Describe(r);
}

TEST(AnalyzeBlockTest, AColumnTallerThan1600IsStillOneRecord) {
    // Emitted in pieces under 1600 rows, which the stacked merge joins.
    DrawnPage page(1000, 2400);
    const Box text = DrawParagraph(page, 100, 50, 899, 40, 32, 22, 17);
    ASSERT_GT(text.y1 - text.y0, 1600);
    const Box block{0, 0, 999, 2399};
    const std::vector<BlockRecord> r = Analyze(page, block);
    ExpectInside(r, block);
    ASSERT_EQ(r.size(), 1u) << Describe(r);
    EXPECT_EQ(r[0].type, uint32_t{kHorizontalText});
    EXPECT_TRUE(Covers(r[0], text)) << Describe(r);
}

TEST(AnalyzeBlockTest, NarrowGroupInTheUpperRightFollowsTheVerticalMajority) {
    // Beside vertical text a narrow stack of short lines in the block's
    // upper right quarter is taken as vertical text; beside horizontal text
    // it stays horizontal.
    for (bool verticalBody : {true, false}) {
        DrawnPage page(1600, 1200);
        const Box body = verticalBody ? DrawVerticalText(page, 1000, 100, 1100, 10, 40, 30, 3)
                                      : DrawParagraph(page, 60, 100, 1000, 18, 32, 22, 3);
        const Box narrow = DrawParagraph(page, 1300, 100, 1480, 6, 32, 22, 99);
        const Box block{0, 0, 1599, 1199};
        const std::vector<BlockRecord> r = Analyze(page, block);
        ExpectInside(r, block);
        ASSERT_EQ(r.size(), 2u) << verticalBody << ": " << Describe(r);
        int found = 0;
        for (const BlockRecord& rec : r) {
            if (Covers(rec, narrow, 8)) {
                EXPECT_EQ(rec.type,
                          verticalBody ? uint32_t{kVerticalText} : uint32_t{kHorizontalText});
                found |= 1;
            } else if (Covers(rec, body, 8)) {
                EXPECT_EQ(rec.type,
                          verticalBody ? uint32_t{kVerticalText} : uint32_t{kHorizontalText});
                found |= 2;
            }
        }
        EXPECT_EQ(found, 3) << verticalBody << ": " << Describe(r);
    }
}

TEST(AnalyzeBlockTest, InkOutsideTheBlockIsNotRead) {
    // Solid ink right up to the block's edges, inside the same bytes and
    // rows, must not change what is found inside the block (which starts
    // and ends in the middle of a byte).
    DrawnPage clean(1100, 500), dirty(1100, 500);
    const Box block{53, 41, 1010, 457};
    for (DrawnPage* p : {&clean, &dirty}) DrawParagraph(*p, 100, 100, 950, 4, 30, 20, 13);
    dirty.Fill(0, 0, 1099, 40);
    dirty.Fill(0, 458, 1099, 499);
    dirty.Fill(0, 0, 52, 499);
    dirty.Fill(1011, 0, 1099, 499);
    const std::vector<BlockRecord> a = Analyze(clean, block), b = Analyze(dirty, block);
    ASSERT_EQ(a.size(), 1u) << Describe(a);
    EXPECT_EQ(Describe(a), Describe(b));
}

TEST(AnalyzeBlockTest, BoxesOffThePageOrEmptyStillGiveOneRecord) {
    DrawnPage page(400, 300);
    DrawParagraph(page, 20, 20, 380, 4, 30, 20, 1);
    struct Case {
        Box box;
    };
    for (const Box& box : {Box{-50, -50, 600, 500}, Box{500, 10, 700, 20}, Box{30, 30, 20, 20}}) {
        const std::vector<BlockRecord> r = Analyze(page, box);
        ASSERT_GE(r.size(), 1u);
        for (const BlockRecord& rec : r) {
            EXPECT_GE(rec.x0, box.x0);
            EXPECT_GE(rec.y0, box.y0);
            EXPECT_LE(rec.x1, std::max(box.x1, box.x0));
            EXPECT_LE(rec.y1, std::max(box.y1, box.y0));
        }
    }
    EngineContext ctx(page.bits.data(), page.rowBytes * 8, page.height);
    EXPECT_FALSE(BeginRegion(ctx, 30, 30, 20, 20));
    EXPECT_TRUE(BeginRegion(ctx, 0, 0, 399, 299));
    EXPECT_NE(ctx.region, nullptr);
    ReleasePool(ctx);
    EXPECT_EQ(ctx.region, nullptr);
}

TEST(AnalyzeBlockTest, OneContextAnalysesBlockAfterBlockTheSame) {
    DrawnPage page(1700, 900);
    DrawParagraph(page, 60, 80, 759, 12, 32, 22, 21);
    DrawParagraph(page, 900, 80, 1599, 12, 32, 22, 77);
    EngineContext ctx(page.bits.data(), page.rowBytes * 8, page.height);
    const std::string first = Describe(AnalyzeBlock(ctx, 0, 0, 1699, 899));
    ReleasePool(ctx);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Describe(AnalyzeBlock(ctx, 0, 0, 1699, 899)), first);
        ReleasePool(ctx);
        EXPECT_LE(ctx.pool.ChunkCount(), 1u);
    }
}

TEST(AnalyzeBlockTest, RandomPagesGiveRecordsInsideTheBlock) {
    // Boxes, lines, dots and text at random, and blocks at random places:
    // every block gives at least one record, each inside it, of type 0..2.
    Lcg rng{424242};
    for (int32_t round = 0; round < 40; ++round) {
        DrawnPage page(rng.Next(64, 1600), rng.Next(64, 1600));
        const int32_t items = rng.Next(0, 30);
        for (int32_t i = 0; i < items; ++i) {
            const int32_t x0 = rng.Next(0, page.width - 1), y0 = rng.Next(0, page.height - 1);
            const int32_t x1 = std::min(page.width - 1, x0 + rng.Next(0, 400));
            const int32_t y1 = std::min(page.height - 1, y0 + rng.Next(0, 300));
            switch (rng.Next(0, 3)) {
                case 0:
                    page.Fill(x0, y0, x1, y1);
                    break;
                case 1:
                    for (int32_t y = y0; y <= y1; y += 4)
                        for (int32_t x = x0; x <= x1; x += 4) page.Set(x, y);
                    break;
                default:
                    if (y0 + 40 < page.height)
                        DrawParagraph(page, x0, y0, x1, std::min(6, (page.height - y0) / 50),
                                      rng.Next(21, 40), rng.Next(4, 30), uint32_t(i));
            }
        }
        for (int32_t b = 0; b < 3; ++b) {
            const int32_t bx0 = rng.Next(0, page.width - 1), by0 = rng.Next(0, page.height - 1);
            const Box block{bx0, by0, rng.Next(bx0, page.width - 1),
                            rng.Next(by0, page.height - 1)};
            const std::vector<BlockRecord> r = Analyze(page, block);
            ExpectInside(r, block);
        }
    }
}

// ---------------------------------------------------------------------------
// Joining rules, on boxes whose answers follow from their definitions.

TextRecord Rec(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t orientation,
               int32_t lines = 5) {
    TextRecord r;
    r.x0 = x0;
    r.y0 = y0;
    r.x1 = x1;
    r.y1 = y1;
    r.orientation = orientation;
    r.lines = lines;
    return r;
}

TEST(JoiningRulesTest, EnclosesAndWithin) {
    const TextRecord a = Rec(0, 0, 100, 50, kOrientHorizontal);
    // 20 pixels inside on both sides across, within 4 rows down.
    EXPECT_TRUE(Encloses(a, Rec(20, 2, 80, 48, kOrientHorizontal)));
    // Reaching 8 rows above a is more than 4.
    EXPECT_FALSE(Encloses(a, Rec(20, -8, 80, 48, kOrientHorizontal)));
    // Only 9 pixels in on the left.
    EXPECT_FALSE(Encloses(a, Rec(9, 2, 80, 48, kOrientHorizontal)));
    // The other way: b wider than a on both sides by 10.
    EXPECT_TRUE(Encloses(a, Rec(-10, 0, 110, 52, kOrientHorizontal)));

    const TextRecord wide = Rec(100, 0, 999, 500, kOrientHorizontal);
    EXPECT_TRUE(WithinHorizontally(Rec(200, 600, 800, 700, kOrientHorizontal), wide));
    EXPECT_TRUE(
        WithinHorizontally(Rec(90, 600, 800, 700, kOrientHorizontal), wide));  // left similar
    EXPECT_FALSE(WithinHorizontally(Rec(50, 600, 800, 700, kOrientHorizontal), wide));
    EXPECT_FALSE(WithinHorizontally(Rec(200, 600, 300, 700, kOrientHorizontal), wide));  // < 160
    EXPECT_FALSE(WithinHorizontally(Rec(200, 600, 800, 800, kOrientHorizontal), wide));  // 201 high

    const TextRecord tall = Rec(0, 100, 500, 999, kOrientVertical);
    EXPECT_TRUE(WithinVertically(Rec(600, 200, 700, 800, kOrientVertical), tall));
    // Inside, but under half as tall as tall.
    EXPECT_FALSE(WithinVertically(Rec(600, 200, 700, 500, kOrientVertical), tall));
    // Top edge similar: no half-height rule then.
    EXPECT_TRUE(WithinVertically(Rec(600, 105, 700, 400, kOrientVertical), tall));
}

TEST(JoiningRulesTest, AddRecordDropsSmallRecords) {
    struct Case {
        int32_t w, h, lines;
        bool kept;
    };
    const Case cases[] = {
        {150, 150, 1, false}, {150, 150, 2, true}, {160, 40, 1, true},
        {70, 70, 3, false},   {70, 70, 4, true},   {79, 300, 3, true},
    };
    for (const Case& c : cases) {
        std::vector<TextRecord> list;
        AddRecord(list, Rec(0, 0, c.w - 1, c.h - 1, kOrientHorizontal, c.lines));
        EXPECT_EQ(list.size(), c.kept ? 1u : 0u) << c.w << "x" << c.h << " " << c.lines;
    }
}

TEST(JoiningRulesTest, AddRecordJoinsPartnersAndPlacesTheUnion) {
    const TextRecord a = Rec(0, 0, 800, 300, kOrientHorizontal);
    const TextRecord far = Rec(2000, 0, 2100, 900, kOrientVertical);
    const TextRecord c = Rec(0, 620, 800, 900, kOrientHorizontal);

    // A large record joins a, the union then joins c; being big, the result
    // goes to the end of the list.
    std::vector<TextRecord> list{a, far, c};
    AddRecord(list, Rec(0, 330, 800, 590, kOrientHorizontal, 4));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].x0, far.x0);
    EXPECT_EQ(list[1].y0, 0);
    EXPECT_EQ(list[1].y1, 900);
    EXPECT_EQ(list[1].lines, 14);

    // A small one joins a only (c is 220 rows further down) and the union
    // goes back to a's place.
    list = {a, far, c};
    AddRecord(list, Rec(0, 330, 800, 400, kOrientHorizontal, 2));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].y1, 400);
    EXPECT_EQ(list[0].lines, 7);
    EXPECT_EQ(list[1].x0, far.x0);

    // Side by side columns of horizontal text are no partners.
    list = {Rec(0, 0, 700, 600, kOrientHorizontal)};
    AddRecord(list, Rec(800, 0, 1500, 600, kOrientHorizontal));
    EXPECT_EQ(list.size(), 2u);

    // Vertical records to the left within 40 pixels with similar ends join.
    list = {Rec(1000, 0, 1300, 800, kOrientVertical)};
    AddRecord(list, Rec(700, 4, 970, 798, kOrientVertical));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].x0, 700);
    EXPECT_EQ(list[0].orientation, uint32_t{kOrientVertical});
}

TEST(FinalListTest, MinorityRecordsOfTheLeadingShapeChangeOrientation) {
    std::vector<Group> vertical{
        {{Rec(0, 0, 399, 99, kOrientVertical, 1), Rec(500, 0, 599, 799, kOrientVertical, 6)}},
        {{Rec(700, 0, 999, 199, kOrientVertical, 3)}}};
    std::vector<Group> horizontal{{{Rec(0, 900, 999, 1500, kOrientHorizontal, 9)}}};
    ReexamineMinority(vertical, horizontal, kOrientHorizontal);
    // The wide one-line record moves; the tall one and the three-line one stay.
    ASSERT_EQ(vertical.size(), 2u);
    EXPECT_EQ(vertical[0].records.size(), 1u);
    EXPECT_EQ(vertical[0].records[0].x0, 500);
    ASSERT_EQ(horizontal.size(), 2u);
    ASSERT_EQ(horizontal[1].records.size(), 1u);
    EXPECT_EQ(horizontal[1].records[0].x0, 0);
    EXPECT_EQ(horizontal[1].records[0].orientation, uint32_t{kOrientHorizontal});

    // A group left empty vanishes.
    std::vector<Group> h2{{{Rec(0, 0, 99, 599, kOrientHorizontal, 2)}}};
    std::vector<Group> v2;
    ReexamineMinority(h2, v2, kOrientVertical);
    EXPECT_TRUE(h2.empty());
    ASSERT_EQ(v2.size(), 1u);
    EXPECT_EQ(v2[0].records[0].orientation, uint32_t{kOrientVertical});
}

AnalysisRegion Block(int32_t w, int32_t h) {
    AnalysisRegion b;
    b.x1 = w - 1;
    b.y1 = h - 1;
    b.width = w;
    b.height = h;
    return b;
}

TEST(FinalListTest, TextAcrossNonTextRecordsIsCollected) {
    const AnalysisRegion blk = Block(1000, 900);
    const std::vector<TextRecord> nonText{Rec(100, 300, 900, 600, kOrientNone, 0)};
    std::vector<Group> h{{{Rec(0, 350, 150, 550, kOrientHorizontal, 4),  // middle third, left fifth
                           Rec(300, 310, 700, 590, kOrientHorizontal, 5),  // across, kept
                           Rec(0, 0, 999, 100, kOrientHorizontal, 2)}}};   // not across
    std::vector<Group> v;
    std::vector<TextRecord> list;
    NonTextRecords(h, v, nonText, blk, list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].x0, 300);
    ASSERT_EQ(h.size(), 1u);
    ASSERT_EQ(h[0].records.size(), 1u);
    EXPECT_EQ(h[0].records[0].y0, 0);
}

TEST(FinalListTest, CollectionsOfVerticalTextAreReversedWhenNarrowFirst) {
    struct Case {
        int32_t firstX0, firstX1, lastX0, lastX1;
        bool reversed;
    };
    // The first collection narrower than the last: reversed; wider: not.
    const Case cases[] = {{800, 860, 100, 300, true}, {700, 900, 100, 160, false}};
    const AnalysisRegion blk = Block(1000, 900);
    for (const Case& c : cases) {
        const TextRecord first = Rec(c.firstX0, 0, c.firstX1, 700, kOrientVertical, 3);
        const TextRecord middle = Rec(480, 0, 560, 700, kOrientVertical, 3);
        const TextRecord last = Rec(c.lastX0, 0, c.lastX1, 700, kOrientVertical, 3);
        auto around = [](const TextRecord& r) {
            return Rec(r.x0 - 5, r.y0, r.x1 + 5, r.y1, kOrientNone, 0);
        };
        std::vector<Group> h, v{{{first, middle, last}}};
        std::vector<TextRecord> list;
        NonTextRecords(h, v, {around(first), around(middle), around(last)}, blk, list);
        ASSERT_EQ(list.size(), 3u);
        EXPECT_TRUE(v.empty());
        EXPECT_EQ(list[0].x0, c.reversed ? last.x0 : first.x0);
        EXPECT_EQ(list[1].x0, middle.x0);
        EXPECT_EQ(list[2].x0, c.reversed ? first.x0 : last.x0);
    }
}

}  // namespace
}  // namespace sheetmend
