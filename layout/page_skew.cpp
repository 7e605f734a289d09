#include "layout/page_skew.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/pixel_access.h"
#include "image/raster_image.h"

namespace sheetmend {

namespace {

constexpr double kRadian = 3.14159265358979323846 / 180.0;

// The fine map is about this wide: at 150 dpi on an A4 page a turn of 0.05
// degrees moves the end of a line by one pixel, which the profile resolves.
constexpr double kFineMapWidth = 1200.0;
constexpr int32_t kStripWidth = 8;
// A page is text when its best profile shows this many lines and is this
// much sharper than the median slope.
constexpr int32_t kMinLines = 3;
constexpr double kMinConfidence = 3.0;

void PaletteLuminance(const RasterImage& page, uint8_t lum[256]) {
    std::fill(lum, lum + 256, uint8_t{255});
    const RgbQuad* pal = page.GetPalette();
    if (!pal) return;
    const uint32_t n = std::min<uint32_t>(page.GetNumColors(), 256);
    for (uint32_t i = 0; i < n; ++i) lum[i] = px::Luminance(pal[i].red, pal[i].green, pal[i].blue);
}

using Bytes8 = uint8_t __attribute__((vector_size(8)));
using Bytes16 = uint8_t __attribute__((vector_size(16)));
using Words8 = uint16_t __attribute__((vector_size(16)));

InkMap BitonalInkMap(const RasterImage& page, int32_t f) {
    const auto W = static_cast<int32_t>(page.GetWidth());
    const auto H = static_cast<int32_t>(page.GetHeight());
    uint8_t lum[256];
    PaletteLuminance(page, lum);
    // Makes the bits of the darker entry ones.
    const uint8_t flip = lum[1] < lum[0] ? 0x00 : 0xFF;
    InkMap map;
    map.width = (W + f - 1) / f;
    map.height = (H + f - 1) / f;
    map.ink.assign(static_cast<size_t>(map.width) * static_cast<size_t>(map.height), 0);
    const uint32_t used = px::UsedRowBytes(static_cast<uint32_t>(W), 1);
    const uint8_t lastMask = px::LastByteMask(static_cast<uint32_t>(W), 1);
    std::vector<uint8_t> acc(used + 2, 0);
    const uint32_t blockMask = ((1u << f) - 1) << (16 - f);
    // When blocks do not straddle bytes (f = 1, 2, 4, 8), each byte of the
    // ORed rows gives its 8 / f map pixels from a table, all at once.
    const bool whole = 8 % f == 0;
    const int32_t per = 8 / f;
    uint64_t blocks[256] = {};
    std::vector<uint8_t> line;
    if (whole) {
        for (uint32_t b = 0; b < 256; ++b)
            for (int32_t j = 0; j < per; ++j) {
                const uint32_t mask = ((1u << f) - 1) << (8 - f * (j + 1));
                uint8_t pixels[8];
                std::memcpy(pixels, &blocks[b], sizeof pixels);
                pixels[j] = (b & mask) != 0;
                std::memcpy(&blocks[b], pixels, sizeof pixels);
            }
        line.resize(static_cast<size_t>(used) * per + 8);
    }
    for (int32_t yo = 0; yo < map.height; ++yo) {
        std::fill(acc.begin(), acc.end(), uint8_t{0});
        for (int32_t y = yo * f; y < std::min(H, yo * f + f); ++y) {
            const uint8_t* row = page.RowPtr(static_cast<uint32_t>(H - 1 - y));
            for (uint32_t b = 0; b < used; ++b) acc[b] |= static_cast<uint8_t>(row[b] ^ flip);
        }
        acc[used - 1] &= lastMask;
        uint8_t* out = &map.ink[static_cast<size_t>(yo) * static_cast<size_t>(map.width)];
        if (whole) {
            for (uint32_t b = 0; b < used; ++b)
                std::memcpy(&line[static_cast<size_t>(b) * per], &blocks[acc[b]], sizeof(uint64_t));
            std::memcpy(out, line.data(), static_cast<size_t>(map.width));
            continue;
        }
        for (int32_t xo = 0; xo < map.width; ++xo) {
            // A 16-bit window whose top bit is the block's first pixel.
            const auto p = static_cast<uint32_t>(xo * f);
            const uint32_t window = ((static_cast<uint32_t>(acc[p >> 3]) << 8) | acc[(p >> 3) + 1])
                                    << (p & 7);
            out[xo] = (window & blockMask) != 0;
        }
    }
    return map;
}

InkMap ToneInkMap(const RasterImage& page, int32_t f) {
    const auto W = static_cast<int32_t>(page.GetWidth());
    const auto H = static_cast<int32_t>(page.GetHeight());
    const uint32_t bpp = page.GetBpp();
    uint8_t lum[256];
    PaletteLuminance(page, lum);
    const int32_t w = (W + f - 1) / f, h = (H + f - 1) / f;
    std::vector<uint8_t> grey(static_cast<size_t>(w) * static_cast<size_t>(h));
    // Each block is read at its first pixel: text strokes are wider than the
    // block at the usual factors, and the page is read once over.
    for (int32_t yo = 0; yo < h; ++yo) {
        const uint8_t* row = page.RowPtr(static_cast<uint32_t>(H - 1 - yo * f));
        uint8_t* out = &grey[static_cast<size_t>(yo) * w];
        if (bpp == 24) {
            for (int32_t xo = 0; xo < w; ++xo) {
                const uint8_t* p = row + 3 * static_cast<size_t>(xo * f);
                out[xo] = px::Luminance(p[2], p[1], p[0]);
            }
        } else {
            for (int32_t xo = 0; xo < w; ++xo)
                out[xo] = lum[px::GetIndex(row, static_cast<uint32_t>(xo * f), bpp)];
        }
    }

    // The paper level about each tile: between the tile's mean and its
    // lightest value, then the lightest such level of the tile and its eight
    // neighbours, so that a tile inside a heading still sees paper.
    constexpr int32_t kTile = 32;
    const int32_t tw = (w + kTile - 1) / kTile, th = (h + kTile - 1) / kTile;
    std::vector<int32_t> level(static_cast<size_t>(tw) * th), paper(level.size());
    // The sums and maxima of each column over a band of tiles, sixteen
    // columns at a time, then of each tile over its columns.
    std::vector<uint16_t> columnSum(static_cast<size_t>(w));
    std::vector<uint8_t> columnMax(static_cast<size_t>(w));
    for (int32_t ty = 0; ty < th; ++ty) {
        std::fill(columnSum.begin(), columnSum.end(), uint16_t{0});
        std::fill(columnMax.begin(), columnMax.end(), uint8_t{0});
        const int32_t y0 = ty * kTile, y1 = std::min(h, y0 + kTile);
        for (int32_t y = y0; y < y1; ++y) {
            const uint8_t* g = &grey[static_cast<size_t>(y) * w];
            int32_t x = 0;
            for (; x + 16 <= w; x += 16) {
                Bytes16 v, m;
                std::memcpy(&v, g + x, sizeof v);
                std::memcpy(&m, &columnMax[x], sizeof m);
                m = v > m ? v : m;
                std::memcpy(&columnMax[x], &m, sizeof m);
                for (int32_t half = 0; half < 16; half += 8) {
                    Words8 sum, add;
                    std::memcpy(&sum, &columnSum[x + half], sizeof sum);
                    Bytes8 b;
                    std::memcpy(&b, g + x + half, sizeof b);
                    add = __builtin_convertvector(b, Words8);
                    sum += add;
                    std::memcpy(&columnSum[x + half], &sum, sizeof sum);
                }
            }
            for (; x < w; ++x) {
                columnSum[x] = static_cast<uint16_t>(columnSum[x] + g[x]);
                columnMax[x] = std::max(columnMax[x], g[x]);
            }
        }
        for (int32_t tx = 0; tx < tw; ++tx) {
            const int32_t x0 = tx * kTile, x1 = std::min(w, x0 + kTile);
            int32_t maxV = 0;
            int64_t sum = 0;
            for (int32_t x = x0; x < x1; ++x) {
                sum += columnSum[x];
                maxV = std::max<int32_t>(maxV, columnMax[x]);
            }
            const int64_t n = static_cast<int64_t>(x1 - x0) * (y1 - y0);
            level[static_cast<size_t>(ty) * tw + tx] = (maxV + static_cast<int32_t>(sum / n)) / 2;
        }
    }
    for (int32_t ty = 0; ty < th; ++ty)
        for (int32_t tx = 0; tx < tw; ++tx) {
            int32_t best = 0;
            for (int32_t y = std::max(0, ty - 1); y <= std::min(th - 1, ty + 1); ++y)
                for (int32_t x = std::max(0, tx - 1); x <= std::min(tw - 1, tx + 1); ++x)
                    best = std::max(best, level[static_cast<size_t>(y) * tw + x]);
            paper[static_cast<size_t>(ty) * tw + tx] = best;
        }

    // The paper level between tile centres is interpolated, so that no
    // tile edge draws a level line into the map.
    InkMap map;
    map.width = w;
    map.height = h;
    map.ink.resize(grey.size());
    std::vector<int32_t> column(static_cast<size_t>(tw) + 1, 0);
    // Runs of columns between the same two tile centres, each column with
    // its weight out of 256 for the right one.
    struct Span {
        int32_t begin, end, tile;
    };
    std::vector<Span> spans;
    std::vector<int32_t> weight(static_cast<size_t>(w));
    for (int32_t x = 0; x < w; ++x) {
        const double tx = std::clamp((x + 0.5) / kTile - 0.5, 0.0, tw - 1.0);
        const auto left = static_cast<int32_t>(tx);
        weight[x] = static_cast<int32_t>((tx - left) * 256);
        if (spans.empty() || spans.back().tile != left) spans.push_back({x, x, left});
        spans.back().end = x + 1;
    }
    std::vector<uint8_t> background(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        const double ty = std::clamp((y + 0.5) / kTile - 0.5, 0.0, th - 1.0);
        const auto t0 = static_cast<int32_t>(ty);
        const int32_t t1 = std::min(t0 + 1, th - 1);
        const auto fy = static_cast<int32_t>((ty - t0) * 256);
        for (int32_t tx = 0; tx < tw; ++tx)
            column[tx] = paper[static_cast<size_t>(t0) * tw + tx] * (256 - fy) +
                         paper[static_cast<size_t>(t1) * tw + tx] * fy;
        // The right neighbour of the last tile is never weighted.
        for (const Span& span : spans) {
            const int32_t base = column[span.tile] * 256;
            const int32_t rise = column[span.tile + 1] - column[span.tile];
            for (int32_t x = span.begin; x < span.end; ++x)
                background[x] = static_cast<uint8_t>((base + rise * weight[x]) >> 16);
        }
        const uint8_t* g = &grey[static_cast<size_t>(y) * w];
        uint8_t* out = &map.ink[static_cast<size_t>(y) * w];
        // Ink lies below three quarters of the paper level and more than 24
        // below it; eight pixels at a time in 16-bit lanes.
        int32_t x = 0;
        for (; x + 8 <= w; x += 8) {
            Bytes8 gb, bb;
            std::memcpy(&gb, g + x, sizeof gb);
            std::memcpy(&bb, &background[x], sizeof bb);
            const Words8 gv = __builtin_convertvector(gb, Words8),
                         bv = __builtin_convertvector(bb, Words8);
            const Words8 ink = (gv * 4 < bv * 3) & (bv > gv + 24);
            const Bytes8 bytes = __builtin_convertvector(ink & 1, Bytes8);
            std::memcpy(out + x, &bytes, sizeof bytes);
        }
        for (; x < w; ++x) out[x] = (g[x] * 4 < background[x] * 3) & (background[x] - g[x] > 24);
    }
    return map;
}

InkMap Halve(const InkMap& in) {
    InkMap out;
    out.width = (in.width + 1) / 2;
    out.height = (in.height + 1) / 2;
    out.ink.assign(static_cast<size_t>(out.width) * out.height, 0);
    // The two rows ORed, then pairs of bytes ORed eight at a time in
    // 16-bit lanes (the map's bytes are 0 or 1).
    std::vector<uint8_t> both(static_cast<size_t>(out.width) * 2 + 16, 0);
    for (int32_t yo = 0; yo < out.height; ++yo) {
        const uint8_t* a = &in.ink[static_cast<size_t>(2 * yo) * in.width];
        const uint8_t* b = 2 * yo + 1 < in.height ? a + in.width : a;
        for (int32_t x = 0; x < in.width; ++x) both[x] = a[x] | b[x];
        uint8_t* dst = &out.ink[static_cast<size_t>(yo) * out.width];
        int32_t xo = 0;
        for (; xo + 8 <= out.width; xo += 8) {
            Words8 pairs;
            std::memcpy(&pairs, &both[2 * static_cast<size_t>(xo)], sizeof pairs);
            const Bytes8 v = __builtin_convertvector((pairs | pairs >> 8) & 1, Bytes8);
            std::memcpy(dst + xo, &v, sizeof v);
        }
        for (; xo < out.width; ++xo) dst[xo] = both[2 * xo] | both[2 * xo + 1];
    }
    return out;
}

// The ink counts of the map's rows within vertical strips. Each strip's
// counts sit between zero rows (kLead before, the rest of the stride after),
// so that the profile reads its neighbours and whole blocks of rows past
// its ends without tests.
constexpr int32_t kLead = 4;
constexpr int32_t kBlock = 8;
struct Strips {
    int32_t count = 0;
    int32_t height = 0;
    size_t stride = 0;           // height + kLead + trailing zero rows
    std::vector<uint16_t> rows;  // count x stride
    std::vector<double> centre;  // strip centre, from the map's centre
    std::vector<int32_t> first;  // the strip's first row with ink (height when none)
    std::vector<int32_t> end;    // one past its last row with ink
    double reach = 0;            // largest |centre|
    const uint16_t* Counts(int32_t k) const {
        return rows.data() + static_cast<size_t>(k) * stride + kLead;
    }
};

Strips MakeStrips(const InkMap& map) {
    Strips st;
    st.count = (map.width + kStripWidth - 1) / kStripWidth;
    st.height = map.height;
    st.stride = static_cast<size_t>(map.height) + kLead + 2 * kBlock;
    st.rows.assign(static_cast<size_t>(st.count) * st.stride, 0);
    // Whole strips add their eight 0/1 bytes at once: the top byte of the
    // product is their sum.
    static_assert(kStripWidth == 8);
    const int32_t whole = map.width / kStripWidth;
    for (int32_t y = 0; y < map.height; ++y) {
        const uint8_t* src = &map.ink[static_cast<size_t>(y) * map.width];
        uint16_t* out = st.rows.data() + kLead + y;
        for (int32_t k = 0; k < whole; ++k) {
            uint64_t bytes;
            std::memcpy(&bytes, src + k * kStripWidth, sizeof bytes);
            out[static_cast<size_t>(k) * st.stride] =
                static_cast<uint16_t>((bytes * 0x0101010101010101ull) >> 56);
        }
        for (int32_t x = whole * kStripWidth; x < map.width; ++x)
            out[static_cast<size_t>(whole) * st.stride] += src[x];
    }
    for (int32_t k = 0; k < st.count; ++k) {
        const double c = k * kStripWidth +
                         std::min(kStripWidth, map.width - k * kStripWidth) / 2.0 - map.width / 2.0;
        st.centre.push_back(c);
        const uint16_t* rows = st.Counts(k);
        int32_t first = 0, end = st.height;
        while (first < end && rows[first] == 0) ++first;
        while (end > first && rows[end - 1] == 0) --end;
        st.first.push_back(first);
        st.end.push_back(end);
        st.reach = std::max(st.reach, std::fabs(c));
    }
    return st;
}

// Eight rows of counts and of the profile, as vectors: a weighted sum of
// three neighbouring counts stays below 2^16 (a count is at most the strip
// width, the weights add up to 256).
using Counts8 = uint16_t __attribute__((vector_size(16)));
using Sums8 = int32_t __attribute__((vector_size(32)));

inline Counts8 LoadCounts(const uint16_t* c) {
    Counts8 v;
    std::memcpy(&v, c, sizeof v);
    return v;
}

// Sums the strips along slope `degrees` into `profile` (in 1/256 of a pixel).
void Profile(const Strips& st, int32_t firstStrip, int32_t endStrip, double degrees,
             std::vector<int32_t>& profile) {
    const double t = std::tan(degrees * kRadian);
    const int32_t pad = static_cast<int32_t>(std::ceil(st.reach * std::fabs(t))) + 4;
    // The last block of a strip may reach a block past its last row.
    profile.assign(static_cast<size_t>(st.height + 2 * pad + 2 + kBlock), 0);
    for (int32_t k = firstStrip; k < endStrip; ++k) {
        // A line y = y0 + x t lands in row y0 for every strip. The strip is
        // spread over the three rows about its shift with the weights of a
        // quadratic B-spline, whose spread is the same whatever the shift's
        // fraction: the profile is blurred alike at every slope, so the
        // level slope, where every strip falls on whole rows, gains nothing
        // (a plain split between two rows would blur it least).
        const double shift = pad - st.centre[k] * t;
        const auto d = static_cast<int32_t>(std::floor(shift + 0.5));
        const double f = shift - d;  // -0.5 .. 0.5
        const auto above = static_cast<uint16_t>(std::lround((0.5 - f) * (0.5 - f) * 128.0));
        const auto below = static_cast<uint16_t>(std::lround((0.5 + f) * (0.5 + f) * 128.0));
        const auto centre = static_cast<uint16_t>(256 - above - below);
        // Only the strip's rows with ink and one on either side; row y of
        // the profile gathers the strip's rows y - 1, y and y + 1, so that
        // no row is written twice in a pass.
        const int32_t first = st.first[k], end = st.end[k];
        if (first == end) continue;
        int32_t* p = profile.data() + d;
        const uint16_t* c = st.Counts(k);
        for (int32_t y = first - 1; y <= end; y += kBlock) {
            const Counts8 sum = LoadCounts(c + y - 1) * below + LoadCounts(c + y) * centre +
                                LoadCounts(c + y + 1) * above;
            Sums8 out;
            std::memcpy(&out, p + y, sizeof out);
            out += __builtin_convertvector(sum, Sums8);
            std::memcpy(p + y, &out, sizeof out);
        }
    }
}

// The sharpness of the page along a slope: the squared differences of
// neighbouring rows of the profiles of the left and the right half, each
// taken alone, so that two columns whose lines do not meet do not pull the
// slope towards the one that joins their lines.
double Sharpness(const Strips& st, double degrees, std::vector<int32_t>& profile,
                 int32_t parts = 2) {
    // Parts 3: the whole width and the halves, summed.
    if (parts == 3) return Sharpness(st, degrees, profile, 1) + Sharpness(st, degrees, profile, 2);
    double sum = 0;
    for (int32_t part = 0; part < parts; ++part) {
        Profile(st, part * st.count / parts, (part + 1) * st.count / parts, degrees, profile);
        // Exact in 64 bits: a difference is below 2^20.
        int64_t squares = 0;
        for (size_t i = 1; i < profile.size(); ++i) {
            const int64_t diff = profile[i] - profile[i - 1];
            squares += diff * diff;
        }
        sum += static_cast<double>(squares);
    }
    return sum;
}

struct Peak {
    double degrees = 0;
    double score = 0;
};

// The sharpest slope within centre +- halfWidth at the given step, with the
// peak interpolated through its two neighbours.
Peak Refine(const Strips& st, double centre, double halfWidth, double step,
            std::vector<int32_t>& profile, int32_t parts = 2) {
    const auto n = static_cast<int32_t>(std::ceil(halfWidth / step));
    std::vector<double> scores;
    for (int32_t i = -n; i <= n; ++i)
        scores.push_back(Sharpness(st, centre + i * step, profile, parts));
    const auto best =
        static_cast<int32_t>(std::max_element(scores.begin(), scores.end()) - scores.begin());
    Peak peak{centre + (best - n) * step, scores[static_cast<size_t>(best)]};
    if (best > 0 && best + 1 < static_cast<int32_t>(scores.size())) {
        const double a = scores[static_cast<size_t>(best - 1)],
                     b = scores[static_cast<size_t>(best)],
                     c = scores[static_cast<size_t>(best + 1)];
        const double denominator = a - 2 * b + c;
        if (denominator < 0) peak.degrees += 0.5 * (a - c) / denominator * step;
    }
    return peak;
}

// Counts the text lines of a profile: rows that stand clearly above the
// lowest rows about them (so a frame or a picture beside the text adds no
// line) and hold at least a fiftieth of the map's width in ink.
int32_t CountLines(const std::vector<int32_t>& profile, int32_t mapWidth, int32_t mapHeight) {
    const auto n = static_cast<int32_t>(profile.size());
    const int32_t reach = std::max(6, mapHeight / 60);
    std::vector<int32_t> above(profile.size());
    std::vector<int32_t> positive;
    for (int32_t i = 0; i < n; ++i) {
        int32_t low = profile[static_cast<size_t>(i)];
        for (int32_t j = std::max(0, i - reach); j <= std::min(n - 1, i + reach); ++j)
            low = std::min(low, profile[static_cast<size_t>(j)]);
        above[static_cast<size_t>(i)] = profile[static_cast<size_t>(i)] - low;
        if (above[static_cast<size_t>(i)] > 0) positive.push_back(above[static_cast<size_t>(i)]);
    }
    if (positive.empty()) return 0;
    std::nth_element(positive.begin(), positive.begin() + positive.size() * 9 / 10, positive.end());
    const double level =
        std::max(0.3 * positive[positive.size() * 9 / 10], mapWidth * 256.0 / 50.0);
    int32_t lines = 0;
    bool inside = false;
    for (int32_t v : above) {
        if (v > level && !inside) ++lines;
        inside = v > level;
    }
    return lines;
}

}  // namespace

InkMap ReducedInkMap(const RasterImage& page, int32_t factor) {
    factor = std::clamp(factor, 1, 8);
    return page.GetBpp() == 1 ? BitonalInkMap(page, factor) : ToneInkMap(page, factor);
}

PageSkew MeasurePageSkew(const RasterImage& page, double rangeDegrees) {
    PageSkew result;
    if (!page.IsValid() || page.GetWidth() < 32 || page.GetHeight() < 32) {
        result.reason = "the page is too small to measure";
        return result;
    }
    const double range = std::clamp(rangeDegrees, 0.5, 45.0);
    const auto factor =
        std::clamp(static_cast<int32_t>(std::lround(page.GetWidth() / kFineMapWidth)), 1, 8);
    const InkMap fine = ReducedInkMap(page, factor);
    // The map's bytes are 0 or 1: the top byte of the product of eight of
    // them is their sum.
    int64_t inkCount = 0;
    size_t i = 0;
    for (; i + 8 <= fine.ink.size(); i += 8) {
        uint64_t bytes;
        std::memcpy(&bytes, &fine.ink[i], sizeof bytes);
        inkCount += static_cast<int64_t>((bytes * 0x0101010101010101ull) >> 56);
    }
    for (; i < fine.ink.size(); ++i) inkCount += fine.ink[i];
    const double inkShare = static_cast<double>(inkCount) / static_cast<double>(fine.ink.size());
    if (inkShare < 0.001) {
        result.reason = "the page holds almost no ink";
        return result;
    }
    if (inkShare > 0.6) {
        result.reason = "the page is mostly dark";
        return result;
    }
    const InkMap coarse = fine.width >= 800 ? Halve(fine) : fine;
    const Strips coarseStrips = MakeStrips(coarse), fineStrips = MakeStrips(fine);

    // The coarse step turns a line end by about three and a half coarse pixels,
    // less than the height of a line at that scale.
    const double step = std::clamp(3.5 / coarse.width / kRadian, 0.05, 0.5);
    // The search reaches a few steps past the range, so that a page turned
    // by the range itself still shows its peak.
    const auto steps = static_cast<int32_t>(std::ceil(range / step)) + 3;
    std::vector<int32_t> profile;
    std::vector<double> scores;
    for (int32_t i = -steps; i <= steps; ++i)
        scores.push_back(Sharpness(coarseStrips, i * step, profile));
    std::vector<double> sorted = scores;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];

    // The highest local peaks of the coarse search, each refined on the fine map.
    std::vector<int32_t> peaks;
    for (int32_t i = 0; i < static_cast<int32_t>(scores.size()); ++i) {
        const double s = scores[static_cast<size_t>(i)];
        if ((i == 0 || s >= scores[static_cast<size_t>(i - 1)]) &&
            (i + 1 == static_cast<int32_t>(scores.size()) ||
             s > scores[static_cast<size_t>(i + 1)]))
            peaks.push_back(i);
    }
    std::sort(peaks.begin(), peaks.end(), [&](int32_t a, int32_t b) {
        return scores[static_cast<size_t>(a)] > scores[static_cast<size_t>(b)];
    });
    // Peaks well below the best are not worth refining.
    while (peaks.size() > 3 ||
           (peaks.size() > 1 && scores[static_cast<size_t>(peaks.back())] <
                                    0.8 * scores[static_cast<size_t>(peaks[0])]))
        peaks.pop_back();
    // The search scores the halves of the page apart, so that columns whose
    // lines do not meet cannot pull it. On a wide page the last step scores
    // the whole width, which resolves the slope twice as finely. On a narrow
    // page the half lines are too short to settle the slope alone: where the
    // lines of the halves meet (the whole width is much sharper than the
    // halves apart at the best coarse slope) the whole width joins both
    // fine steps.
    int32_t refineParts = 2, lastParts = 1;
    if (fine.width < 1000) {
        const double slope = (peaks.front() - steps) * step;
        const bool linesMeet = Sharpness(fineStrips, slope, profile, 1) >=
                               1.5 * Sharpness(fineStrips, slope, profile, 2);
        refineParts = lastParts = linesMeet ? 3 : 2;
    }
    // Each peak is refined on the fine map, the best of them once more at
    // a finer step.
    Peak best{0, -1};
    for (int32_t i : peaks) {
        const Peak peak =
            Refine(fineStrips, (i - steps) * step, 1.5 * step, 0.1, profile, refineParts);
        if (peak.score > best.score) best = peak;
    }
    best = Refine(fineStrips, best.degrees, 0.1, 0.025, profile, lastParts);
    result.degrees = best.degrees;
    result.confidence = median > 0 ? scores[static_cast<size_t>(peaks.front())] / median : 1e9;
    Profile(fineStrips, 0, fineStrips.count, best.degrees, profile);
    result.lines = CountLines(profile, fine.width, fine.height);

    if (std::fabs(best.degrees) > range + 0.05) {
        result.reason = "the sharpest slope lies outside the search range";
    } else if (result.lines > fine.height / 6) {
        // Lines closer than a small type's pitch are a screen or a pattern.
        result.reason = "the page shows a fine pattern, not text lines";
    } else if (result.lines < kMinLines) {
        result.reason = "too few text lines";
    } else if (result.confidence < kMinConfidence) {
        result.reason = "no clear text lines";
    } else {
        result.trusted = true;
    }
    return result;
}

}  // namespace sheetmend
