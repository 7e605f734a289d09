// Blank-page detection. The sampled count costs a fraction of one pass over
// the page, so an ordinary page of text (well above the tiny share) pays
// almost nothing. On a nearly empty page the ink runs of every row are
// joined into 8-connected components by union-find, each keeping its box,
// so that specks (dust, staple holes) are told from the smallest mark a
// reader would miss: a page number or one short line.
#include "image/blank_page.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"

namespace sheetmend {

namespace {

constexpr uint8_t kInkBelow = 128;

bool IsInk(RgbQuad c) {
    return px::Luminance(c.red, c.green, c.blue) < kInkBelow;
}

// For palette pages: which indices are ink.
std::array<uint8_t, 256> InkOfIndex(const RasterImage& page) {
    std::array<uint8_t, 256> ink{};
    const uint32_t n = std::min<uint32_t>(page.GetNumColors(), 256);
    for (uint32_t i = 0; i < n; ++i) ink[i] = IsInk(page.GetPaletteColor(static_cast<uint8_t>(i)));
    return ink;
}

int32_t Sane(int32_t dpi) {
    return dpi >= 50 && dpi <= 4800 ? dpi : 300;
}

// Ink flags (0 or 1) of columns x0 .. x1 - 1 of a stored row.
void InkFlags(const RasterImage& page, const std::array<uint8_t, 256>& ofIndex, uint32_t row,
              int32_t x0, int32_t x1, std::vector<uint8_t>& flags) {
    flags.assign(static_cast<size_t>(x1 - x0), 0);
    const uint8_t* p = page.RowPtr(row);
    const uint32_t bpp = page.GetBpp();
    for (int32_t x = x0; x < x1; ++x) {
        uint8_t ink;
        if (bpp <= 8) {
            ink = ofIndex[px::GetIndex(p, static_cast<uint32_t>(x), bpp)];
        } else if (bpp == 24 || bpp == 32) {
            const uint8_t* q = p + static_cast<size_t>(x) * (bpp / 8);
            ink = px::Luminance(q[2], q[1], q[0]) < kInkBelow;
        } else {
            ink = IsInk(page.GetPixelColor(x, static_cast<int32_t>(row), false));
        }
        flags[static_cast<size_t>(x - x0)] = ink;
    }
}

// Counts the ink of row spans, a byte or a word at a time where the depth
// allows: set or clear bits of a 1-bit page, the top bits of an 8-bit grey
// ramp (below 128 is ink), a table of the palette otherwise.
class InkCounter {
  public:
    explicit InkCounter(const RasterImage& page)
        : page_(page),
          ofIndex_(InkOfIndex(page)),
          grey_(page.GetBpp() == 8 && page.IsGrayScale()) {}

    int64_t Count(uint32_t row, int32_t x0, int32_t x1) const {
        if (x1 <= x0) return 0;
        const uint8_t* p = page_.RowPtr(row);
        if (page_.GetBpp() == 1) {
            if (ofIndex_[0] == ofIndex_[1]) return ofIndex_[0] ? x1 - x0 : 0;
            // The end bytes masked, the bytes between them eight at a time.
            const int32_t first = x0 >> 3, last = (x1 - 1) >> 3;
            const uint32_t head = 0xFFu >> (x0 & 7);
            const uint32_t tail = (0xFF00u >> (((x1 - 1) & 7) + 1)) & 0xFF;
            int64_t ones = Ones(p[first] & head & (first == last ? tail : 0xFF));
            if (first < last) ones += Ones(p[last] & tail);
            int32_t i = first + 1;
            for (; i + 8 <= last; i += 8) {
                uint64_t w;
                std::memcpy(&w, p + i, 8);
                if (w != 0) ones += Ones64(w);
            }
            for (; i < last; ++i) ones += Ones(p[i]);
            return ofIndex_[1] ? ones : (x1 - x0) - ones;
        }
        if (page_.GetBpp() == 8) {
            int64_t n = 0;
            int32_t x = x0;
            if (grey_) {
                // Paper (all top bits set) is the common case: 32 pixels
                // are passed over at once.
                constexpr uint64_t kTop = 0x8080808080808080ull;
                for (; x + 32 <= x1; x += 32) {
                    uint64_t w[4];
                    std::memcpy(w, p + x, 32);
                    if ((w[0] & w[1] & w[2] & w[3] & kTop) == kTop) continue;
                    for (const uint64_t v : w) n += 8 - Ones64(v & kTop);
                }
                for (; x + 8 <= x1; x += 8) {
                    uint64_t w;
                    std::memcpy(&w, p + x, 8);
                    // Paper (all top bits set) is the common case: no count.
                    const uint64_t top = w & 0x8080808080808080ull;
                    if (top != 0x8080808080808080ull) n += 8 - Ones64(top);
                }
            }
            for (; x < x1; ++x) n += ofIndex_[p[x]];
            return n;
        }
        std::vector<uint8_t> flags;
        InkFlags(page_, ofIndex_, row, x0, x1, flags);
        return std::count(flags.begin(), flags.end(), 1);
    }

    const std::array<uint8_t, 256>& OfIndex() const { return ofIndex_; }

  private:
    static int64_t Ones(uint32_t bits) { return std::popcount(bits); }
    // Bits of a word counted in registers: without a population count
    // instruction in the baseline, std::popcount would call the runtime.
    static int64_t Ones64(uint64_t v) {
        v -= (v >> 1) & 0x5555555555555555ull;
        v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
        v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
        return static_cast<int64_t>((v * 0x0101010101010101ull) >> 56);
    }

    const RasterImage& page_;
    std::array<uint8_t, 256> ofIndex_;
    bool grey_;
};

struct Component {
    uint32_t parent;
    int32_t x0, y0, x1, y1;
};

uint32_t Root(std::vector<Component>& c, uint32_t i) {
    while (c[i].parent != i) i = c[i].parent = c[c[i].parent].parent;
    return i;
}

void Join(std::vector<Component>& c, uint32_t a, uint32_t b) {
    a = Root(c, a);
    b = Root(c, b);
    if (a == b) return;
    c[b].parent = a;
    c[a].x0 = std::min(c[a].x0, c[b].x0);
    c[a].y0 = std::min(c[a].y0, c[b].y0);
    c[a].x1 = std::max(c[a].x1, c[b].x1);
    c[a].y1 = std::max(c[a].y1, c[b].y1);
}

struct Run {
    int32_t a, b;  // first and last column
    uint32_t component;
};

}  // namespace

BlankLimits BlankLimitsFor(int32_t xDpi, int32_t yDpi) {
    const int32_t dx = Sane(xDpi), dy = Sane(yDpi);
    BlankLimits l;
    l.marginX = dx / 5;
    l.marginY = dy / 5;
    l.speckX = std::max(2, dx / 20);
    l.speckY = std::max(2, dy / 20);
    l.rowStep = std::max(1, dy / 20);
    l.share = 1.0 / 2000;
    return l;
}

int64_t CountInkInRow(const RasterImage& page, uint32_t row, int32_t x0, int32_t x1) {
    return InkCounter(page).Count(row, x0, x1);
}

InkMeasure MeasureInk(const RasterImage& page) {
    InkMeasure m;
    if (!page.IsValid()) return m;
    const BlankLimits l = BlankLimitsFor(page.GetXDpi(), page.GetYDpi());
    const auto W = static_cast<int32_t>(page.GetWidth());
    const auto H = static_cast<int32_t>(page.GetHeight());
    const int32_t x0 = std::min(l.marginX, W / 2), x1 = std::max(W - l.marginX, x0);
    const int32_t top = std::min(l.marginY, H / 2), bottom = std::max(H - l.marginY, top);
    if (x1 <= x0 || bottom <= top) {
        m.blank = true;
        return m;
    }
    // Rows are counted top down; stored row H - 1 - k is row k from the top.
    auto stored = [H](int32_t k) { return static_cast<uint32_t>(H - 1 - k); };
    const InkCounter counter(page);
    int64_t sampled = 0, ink = 0;
    for (int32_t k = top; k < bottom; k += l.rowStep) {
        ink += counter.Count(stored(k), x0, x1);
        ++sampled;
    }
    const double area = static_cast<double>(x1 - x0);
    m.ink = static_cast<double>(ink) / (area * static_cast<double>(sampled));
    if (m.ink > l.share) return m;

    std::vector<Component> components;
    std::vector<Run> previous, current;
    std::vector<uint8_t> flags;
    ink = 0;
    for (int32_t k = top; k < bottom; ++k) {
        // Most rows of a nearly empty page hold no ink: counted, not labelled.
        if (counter.Count(stored(k), x0, x1) == 0) {
            previous.clear();
            continue;
        }
        InkFlags(page, counter.OfIndex(), stored(k), x0, x1, flags);
        current.clear();
        size_t p = 0;  // the first run of the row above that may touch
        for (int32_t x = 0; x < x1 - x0; ++x) {
            if (!flags[static_cast<size_t>(x)]) continue;
            int32_t b = x;
            while (b + 1 < x1 - x0 && flags[static_cast<size_t>(b + 1)]) ++b;
            ink += b - x + 1;
            const auto id = static_cast<uint32_t>(components.size());
            components.push_back(Component{id, x, k, b, k});
            while (p < previous.size() && previous[p].b < x - 1) ++p;
            for (size_t q = p; q < previous.size() && previous[q].a <= b + 1; ++q)
                Join(components, previous[q].component, id);
            current.push_back(Run{x, b, id});
            x = b;
        }
        previous.swap(current);
    }
    m.ink = static_cast<double>(ink) / (area * static_cast<double>(bottom - top));
    m.blank = m.ink <= l.share;
    for (uint32_t i = 0; m.blank && i < components.size(); ++i) {
        if (components[i].parent != i) continue;
        const Component& c = components[i];
        if (c.x1 - c.x0 + 1 >= l.speckX || c.y1 - c.y0 + 1 >= l.speckY) m.blank = false;
    }
    return m;
}

}  // namespace sheetmend
