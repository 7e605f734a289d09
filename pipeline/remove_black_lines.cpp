// Black line removal: every 4-connected patch of ink is an object; objects
// whose bounding rectangle is too long (ruling lines, frames) or too thin or
// short (specks, thin strokes) are painted white on the page as loaded. With
// boxing, kept objects are painted in colours of their own and every object
// gets a red rectangle, on a 24-bit copy of the page.
//
// Objects are found by labelling horizontal runs of ink and joining runs of
// neighbouring rows that share a column (union-find, the earliest run of an
// object as its root). This gives the same objects, in the same order (that of
// their first pixel in a bottom-up, left-to-right scan), as a pixel flood fill,
// in a fraction of its memory and time.
#include "pipeline/remove_black_lines.h"

#include <cstdio>
#include <cstring>
#include <numeric>

#include "image/formats.h"
#include "image/page_facts.h"
#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "layout/binarize.h"
#include "platform/console.h"
#include "platform/runtime_random.h"

namespace sheetmend {

namespace {

// Appends the ink runs of one row (ink = bits equal to inkBit).
void RowRuns(const uint8_t* row, uint32_t width, uint8_t inkBit, uint16_t y,
             std::vector<InkRun>& runs) {
    const uint32_t used = px::UsedRowBytes(width, 1);
    const uint8_t flip = inkBit ? 0x00 : 0xFF;
    const uint8_t lastMask = px::LastByteMask(width, 1);
    bool inRun = false;
    uint32_t start = 0;
    auto emit = [&](uint32_t end) {
        runs.push_back(InkRun{static_cast<uint16_t>(start), static_cast<uint16_t>(end), y});
    };
    for (uint32_t i = 0; i < used; ++i) {
        uint8_t b = static_cast<uint8_t>(row[i] ^ flip);
        if (i + 1 == used) b &= lastMask;
        if (b == 0x00) {
            if (inRun) {
                emit(i * 8 - 1);
                inRun = false;
            }
            continue;
        }
        if (b == 0xFF) {
            if (!inRun) {
                start = i * 8;
                inRun = true;
            }
            continue;
        }
        for (uint32_t k = 0; k < 8; ++k) {
            const uint32_t x = i * 8 + k;
            if (x >= width) break;
            const bool ink = (b >> (7 - k)) & 1;
            if (ink && !inRun) {
                start = x;
                inRun = true;
            } else if (!ink && inRun) {
                emit(x - 1);
                inRun = false;
            }
        }
    }
    if (inRun) emit(width - 1);
}

uint32_t FindRoot(std::vector<uint32_t>& parent, uint32_t i) {
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

void Unite(std::vector<uint32_t>& parent, uint32_t a, uint32_t b) {
    a = FindRoot(parent, a);
    b = FindRoot(parent, b);
    if (a == b) return;
    // The smaller index stays the root: the root is the object's first run.
    if (a < b)
        parent[b] = a;
    else
        parent[a] = b;
}

// 24-bit horizontal and vertical spans, for the rectangles.
void PaintPixel24(RasterImage& image, int32_t x, int32_t y, RgbQuad c) {
    if (!image.IsInside(x, y)) return;
    uint8_t* p = image.RowPtr(static_cast<uint32_t>(y)) + 3 * static_cast<size_t>(x);
    p[0] = c.blue;
    p[1] = c.green;
    p[2] = c.red;
}

}  // namespace

InkObjects LabelInkComponents(const RasterImage& bitonal, uint8_t inkIndex) {
    InkObjects objects;
    const uint32_t W = bitonal.GetWidth();
    const uint32_t H = bitonal.GetHeight();
    if (!bitonal.IsValid() || bitonal.GetBpp() != 1 || W > kMaxLinePageSide || H > kMaxLinePageSide)
        return objects;

    std::vector<InkRun>& runs = objects.runs;
    std::vector<uint32_t> parent;
    size_t prevBegin = 0, prevEnd = 0;
    for (uint32_t y = 0; y < H; ++y) {
        const size_t begin = runs.size();
        RowRuns(bitonal.RowPtr(y), W, inkIndex, static_cast<uint16_t>(y), runs);
        const size_t end = runs.size();
        parent.resize(end);
        size_t p = prevBegin;
        for (size_t c = begin; c < end; ++c) {
            parent[c] = static_cast<uint32_t>(c);
            while (p < prevEnd && runs[p].x1 < runs[c].x0) ++p;
            for (size_t q = p; q < prevEnd && runs[q].x0 <= runs[c].x1; ++q)
                Unite(parent, static_cast<uint32_t>(c), static_cast<uint32_t>(q));
        }
        prevBegin = begin;
        prevEnd = end;
    }

    // Object numbers in the order of each object's first run.
    const size_t n = runs.size();
    std::vector<uint32_t> objectOf(n);
    uint32_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t root = FindRoot(parent, static_cast<uint32_t>(i));
        objectOf[i] = root == i ? count++ : objectOf[root];
    }
    parent.clear();
    parent.shrink_to_fit();

    objects.firstRun.assign(count + 1, 0);
    for (size_t i = 0; i < n; ++i) ++objects.firstRun[objectOf[i] + 1];
    std::partial_sum(objects.firstRun.begin(), objects.firstRun.end(), objects.firstRun.begin());
    objects.order.resize(n);
    std::vector<uint32_t> next(objects.firstRun.begin(), objects.firstRun.end() - 1);
    for (size_t i = 0; i < n; ++i) objects.order[next[objectOf[i]]++] = static_cast<uint32_t>(i);
    return objects;
}

ObjectRect ComponentBounds(const InkObjects& objects, size_t object) {
    ObjectRect r{50000, 50000, 0, 0};
    for (uint32_t k = objects.firstRun[object]; k < objects.firstRun[object + 1]; ++k) {
        const InkRun& run = objects.runs[objects.order[k]];
        if (run.x0 < r.left) r.left = run.x0;
        if (run.x1 > r.right) r.right = run.x1;
        if (run.y < r.top) r.top = run.y;
        if (run.y > r.bottom) r.bottom = run.y;
    }
    return r;
}

bool RemoveLinesFromPage(RasterImage& page, const std::string& inputName, bool boxObjects,
                         int32_t longLine, int32_t shortLine, RasterImage& work, bool adaptive) {
    const uint32_t W = page.GetWidth();
    const uint32_t H = page.GetHeight();
    if (W > kMaxLinePageSide || H > kMaxLinePageSide) {
        ConsolePrintf(
            "[ERROR] \"%s\" is %u x %u pixels; line removal handles pages of at most %u pixels "
            "in each direction.\n",
            inputName.c_str(), W, H, kMaxLinePageSide);
        return false;
    }

    // Objects are found on a black-and-white version; the page as loaded is
    // what gets painted and saved.
    work.Copy(page, true, true, true);
    BinarizePage(page, adaptive);
    const uint32_t L = longLine < 1 ? (W < H ? W : H) / 4 : static_cast<uint32_t>(longLine);
    const int32_t S = shortLine;
    uint8_t inkIndex = 1;
    {
        const RgbQuad c0 = page.GetPaletteColor(0);
        if (c0.red == 0 && c0.green == 0 && c0.blue == 0) inkIndex = 0;
    }
    const InkObjects objects = LabelInkComponents(page, inkIndex);
    page.Destroy();

    if (boxObjects && work.GetBpp() < 24) work.IncreaseBpp(24);
    if (boxObjects && work.GetBpp() != 24) {
        ConsolePrintf("[ERROR] Failed to make a colour copy of \"%s\": %s\n", inputName.c_str(),
                      work.GetLastError());
        return false;
    }
    const bool direct24 = work.GetBpp() == 24;
    const RgbQuad white{255, 255, 255, 0};
    const RgbQuad red{0, 0, 255, 0};
    const uint8_t whiteIndex = direct24 ? 0 : work.GetNearestIndex(white);

    auto paintRun = [&](const InkRun& run, RgbQuad colour, uint8_t index) {
        uint8_t* row = work.RowPtr(run.y);
        if (direct24) {
            for (uint32_t x = run.x0; x <= run.x1; ++x) {
                uint8_t* p = row + 3 * static_cast<size_t>(x);
                p[0] = colour.blue;
                p[1] = colour.green;
                p[2] = colour.red;
            }
        } else if (work.GetBpp() == 8) {
            std::memset(row + run.x0, index, static_cast<size_t>(run.x1) - run.x0 + 1);
        } else {
            for (uint32_t x = run.x0; x <= run.x1; ++x) px::SetIndex(row, x, work.GetBpp(), index);
        }
    };

    int64_t removed = 0;
    for (size_t k = 0; k < objects.Count(); ++k) {
        // Three draws per object whether its colour is used or not, so every
        // object's colour depends only on its place in the list.
        const int32_t c1 = RuntimeRand() % 255;
        const int32_t c2 = RuntimeRand() % 255;
        const int32_t c3 = RuntimeRand() % 255;
        const RgbQuad colour{static_cast<uint8_t>(c1), static_cast<uint8_t>(c2),
                             static_cast<uint8_t>(c3), 0};

        const ObjectRect r = ComponentBounds(objects, k);
        const uint32_t w = static_cast<uint32_t>(r.right - r.left);
        const uint32_t h = static_cast<uint32_t>(r.bottom - r.top);
        bool erase;
        if (r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0)
            erase = false;
        else if (L > 0 && (w >= L || h >= L))
            erase = true;
        else if (S > 0 && (w <= static_cast<uint32_t>(S) || h <= static_cast<uint32_t>(S)))
            erase = true;
        else
            erase = false;

        removed += erase;
        if (erase || boxObjects) {
            const RgbQuad paint = erase ? white : colour;
            // Boxing always works on 24 bits; erasing a palette page takes the
            // entry nearest to white.
            for (uint32_t i = objects.firstRun[k]; i < objects.firstRun[k + 1]; ++i)
                paintRun(objects.runs[objects.order[i]], paint, whiteIndex);
        }
        if (boxObjects) {
            for (int32_t x = r.left; x <= r.right; ++x) PaintPixel24(work, x, r.top, red);
            for (int32_t x = r.left; x <= r.right; ++x) PaintPixel24(work, x, r.bottom, red);
            for (int32_t y = r.top; y <= r.bottom; ++y) PaintPixel24(work, r.left, y, red);
            for (int32_t y = r.top; y <= r.bottom; ++y) PaintPixel24(work, r.right, y, red);
        }
    }
    RecordPageFact([&](PageFacts& f) { f.lines = removed; });
    return true;
}

}  // namespace sheetmend
