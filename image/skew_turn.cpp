#include "image/skew_turn.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "image/pixel_access.h"

namespace sheetmend {

namespace {

constexpr double kRadian = 3.14159265358979323846 / 180.0;

// Destination pixel (x, r), rows counted from the bottom as stored, shows
// the source point centre + R(b) ((x, r) - centre), R turning by b
// counter-clockwise; b is minus the skew. Positions are kept in 16.16 fixed
// point and stepped along each row.
struct Mapping {
    double cosB = 1, sinB = 0, cx = 0, cr = 0;
    Mapping(double skewDegrees, uint32_t width, uint32_t height)
        : cosB(std::cos(-skewDegrees * kRadian)),
          sinB(std::sin(-skewDegrees * kRadian)),
          cx((width - 1) / 2.0),
          cr((height - 1) / 2.0) {}
    int64_t StartX(uint32_t r) const {
        return std::llround((cx - cx * cosB - (r - cr) * sinB) * 65536.0);
    }
    int64_t StartR(uint32_t r) const {
        return std::llround((cr - cx * sinB + (r - cr) * cosB) * 65536.0);
    }
    int64_t StepX() const { return std::llround(cosB * 65536.0); }
    int64_t StepR() const { return std::llround(sinB * 65536.0); }
};

// The columns [first, last) of destination row r whose four taps all lie
// inside the page: the taps move linearly along the row, so the range is
// the intersection of two intervals, trimmed until both ends hold.
std::pair<int64_t, int64_t> InsideSpan(const Mapping& m, uint32_t r, int64_t W, int64_t H) {
    const int64_t fx0 = m.StartX(r), fr0 = m.StartR(r), sx = m.StepX(), sr = m.StepR();
    auto inside = [&](int64_t x) {
        const int64_t ix = (fx0 + x * sx) >> 16, ir = (fr0 + x * sr) >> 16;
        return ix >= 0 && ir >= 0 && ix + 1 < W && ir + 1 < H;
    };
    double lo = 0, hi = static_cast<double>(W);
    auto clip = [&](double start, double step, double limit) {
        // 0 <= start + x step < limit
        if (step == 0) {
            if (start < 0 || start >= limit) hi = lo;
            return;
        }
        const double a = -start / step, b = (limit - start) / step;
        lo = std::max(lo, std::min(a, b));
        hi = std::min(hi, std::max(a, b));
    };
    clip(static_cast<double>(fx0), static_cast<double>(sx), (W - 1) * 65536.0);
    clip(static_cast<double>(fr0), static_cast<double>(sr), (H - 1) * 65536.0);
    if (!(hi > lo)) return {0, 0};
    auto first = static_cast<int64_t>(std::ceil(lo)), last = static_cast<int64_t>(std::floor(hi));
    first = std::clamp<int64_t>(first, 0, W);
    last = std::clamp<int64_t>(last, first, W);
    while (first < last && !inside(first)) ++first;
    while (last > first && !inside(last - 1)) --last;
    return {first, last};
}

// One bilinear blend of four taps with weights out of 256; `stepwise`
// rounds after each direction, as the three-channel kernel does.
uint8_t Blend(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t wx, uint32_t wr,
              bool stepwise) {
    const uint32_t lower = a * (256 - wx) + b * wx, upper = c * (256 - wx) + d * wx;
    if (!stepwise) return static_cast<uint8_t>((lower * (256 - wr) + upper * wr + 32768) >> 16);
    return static_cast<uint8_t>(
        (((lower + 128) >> 8) * (256 - wr) + ((upper + 128) >> 8) * wr + 128) >> 8);
}

// Bilinear sampling of interleaved 8-bit channels (1 for grey, 3 for
// blue-green-red); taps outside the page read the paper.
template <int Channels>
void TurnBilinear(const RasterImage& src, RasterImage& dst, const Mapping& m,
                  const uint8_t* paper) {
    const auto W = static_cast<int64_t>(src.GetWidth()), H = static_cast<int64_t>(src.GetHeight());
    const size_t stride = src.GetEffWidth();
    const uint8_t* base = src.RowPtr(0);
    const int64_t stepX = m.StepX(), stepR = m.StepR();
    auto tap = [&](int64_t tx, int64_t tr, int c) -> uint32_t {
        if (tx < 0 || tr < 0 || tx >= W || tr >= H) return paper[c];
        return base[static_cast<size_t>(tr) * stride + static_cast<size_t>(tx) * Channels + c];
    };
    for (uint32_t r = 0; r < static_cast<uint32_t>(H); ++r) {
        uint8_t* out = dst.RowPtr(r);
        const auto [first, last] = InsideSpan(m, r, W, H);
        // Along the edges each tap is the page's or the paper's.
        auto edge = [&](int64_t x) {
            const int64_t fx = m.StartX(r) + x * stepX, fr = m.StartR(r) + x * stepR;
            const int64_t ix = fx >> 16, ir = fr >> 16;
            const auto wx = static_cast<uint32_t>((fx >> 8) & 255),
                       wr = static_cast<uint32_t>((fr >> 8) & 255);
            for (int c = 0; c < Channels; ++c)
                out[x * Channels + c] =
                    Blend(tap(ix, ir, c), tap(ix + 1, ir, c), tap(ix, ir + 1, c),
                          tap(ix + 1, ir + 1, c), wx, wr, Channels == 3);
        };
        for (int64_t x = 0; x < first; ++x) edge(x);
        int64_t fx = m.StartX(r) + first * stepX, fr = m.StartR(r) + first * stepR;
        uint8_t* o = out + first * Channels;
        for (int64_t x = first; x < last; ++x, fx += stepX, fr += stepR, o += Channels) {
            const uint8_t* p = base + static_cast<size_t>(fr >> 16) * stride +
                               static_cast<size_t>(fx >> 16) * Channels;
            const auto wx = static_cast<uint64_t>((fx >> 8) & 255),
                       wr = static_cast<uint64_t>((fr >> 8) & 255);
            if constexpr (Channels == 3) {
                // The three channels side by side in 16-bit lanes of one
                // word: each blend of two taps fits a lane.
                auto lanes = [](const uint8_t* q) {
                    return static_cast<uint64_t>(q[0]) | (static_cast<uint64_t>(q[1]) << 16) |
                           (static_cast<uint64_t>(q[2]) << 32);
                };
                constexpr uint64_t kMask = 0x000000FF00FF00FFull, kHalf = 0x0000008000800080ull;
                const uint64_t lower =
                    ((lanes(p) * (256 - wx) + lanes(p + 3) * wx + kHalf) >> 8) & kMask;
                const uint64_t upper =
                    ((lanes(p + stride) * (256 - wx) + lanes(p + stride + 3) * wx + kHalf) >> 8) &
                    kMask;
                const uint64_t v = ((lower * (256 - wr) + upper * wr + kHalf) >> 8) & kMask;
                o[0] = static_cast<uint8_t>(v);
                o[1] = static_cast<uint8_t>(v >> 16);
                o[2] = static_cast<uint8_t>(v >> 32);
            } else {
                const auto lower = static_cast<uint32_t>(p[0] * (256 - wx) + p[1] * wx);
                const auto upper =
                    static_cast<uint32_t>(p[stride] * (256 - wx) + p[stride + 1] * wx);
                o[0] = static_cast<uint8_t>((lower * (256 - wr) + upper * wr + 32768) >> 16);
            }
        }
        for (int64_t x = std::max(last, first); x < W; ++x) edge(x);
    }
}

// Nearest-pixel sampling of 4- or 8-bit palette indices, or of an unpadded
// byte plane (stride = width, bpp 8).
void TurnNearest(const uint8_t* base, size_t stride, uint8_t* dstBase, size_t dstStride,
                 uint32_t width, uint32_t height, uint32_t bpp, const Mapping& m, uint8_t paper) {
    const auto W = static_cast<int64_t>(width), H = static_cast<int64_t>(height);
    const int64_t stepX = m.StepX(), stepR = m.StepR();
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t* out = dstBase + r * dstStride;
        int64_t fx = m.StartX(r) + 32768, fr = m.StartR(r) + 32768;
        for (uint32_t x = 0; x < width; ++x, fx += stepX, fr += stepR) {
            const int64_t ix = fx >> 16, ir = fr >> 16;
            uint8_t v = paper;
            if (ix >= 0 && ir >= 0 && ix < W && ir < H) {
                const uint8_t* row = base + static_cast<size_t>(ir) * stride;
                v = bpp == 8 ? row[ix] : px::GetNibble(row, static_cast<uint32_t>(ix));
            }
            if (bpp == 8)
                out[x] = v;
            else
                px::SetNibble(out, x, v);
        }
    }
}

// One row of bits moved so that destination bit x is source bit x + d;
// bits from beyond the row are paper. `work` is scratch space.
void ShiftRowBits(const uint8_t* src, uint8_t* dst, uint32_t width, int64_t d, uint8_t paperByte,
                  std::vector<uint8_t>& work) {
    const uint32_t used = px::UsedRowBytes(width, 1);
    const auto margin = static_cast<size_t>(std::min<int64_t>(std::llabs(d), width) / 8 + 2);
    work.assign(used + 2 * margin + 1, paperByte);
    std::memcpy(work.data() + margin, src, used);
    const uint8_t lastMask = px::LastByteMask(width, 1);
    work[margin + used - 1] =
        static_cast<uint8_t>((src[used - 1] & lastMask) | (paperByte & ~lastMask));
    d = std::clamp<int64_t>(d, -static_cast<int64_t>(width), width);
    const auto offset = static_cast<uint64_t>(static_cast<int64_t>(margin) * 8 + d);
    const size_t j0 = offset >> 3;
    const unsigned shift = offset & 7;
    for (size_t k = 0; k < used; ++k) {
        const uint32_t pair = (static_cast<uint32_t>(work[j0 + k]) << 8) | work[j0 + k + 1];
        dst[k] = static_cast<uint8_t>(pair >> (8 - shift));
    }
    dst[used - 1] &= lastMask;
}

// Destination row r, x = source row r, x + round(k (r - cr)).
void ShearRows(RasterImage& page, double k, uint8_t paperByte) {
    const uint32_t W = page.GetWidth(), H = page.GetHeight();
    const double cr = (H - 1) / 2.0;
    std::vector<uint8_t> row(px::UsedRowBytes(W, 1)), work;
    for (uint32_t r = 0; r < H; ++r) {
        const auto d = static_cast<int64_t>(std::floor(k * (r - cr) + 0.5));
        if (d == 0) continue;
        ShiftRowBits(page.RowPtr(r), row.data(), W, d, paperByte, work);
        std::memcpy(page.RowPtr(r), row.data(), row.size());
    }
}

// Destination (x, r) = source (x, r + round(k (x - cx))): columns of equal
// shift are copied as masked bytes from the source row they read.
void ShearColumns(const RasterImage& src, RasterImage& dst, double k, uint8_t paperByte) {
    const uint32_t W = src.GetWidth(), H = src.GetHeight();
    const double cx = (W - 1) / 2.0;
    struct Group {
        int64_t d;
        uint32_t firstByte, lastByte;
        uint8_t firstMask, lastMask;
    };
    std::vector<Group> groups;
    auto shiftOf = [&](uint32_t x) { return static_cast<int64_t>(std::floor(k * (x - cx) + 0.5)); };
    for (uint32_t x0 = 0; x0 < W;) {
        const int64_t d = shiftOf(x0);
        uint32_t x1 = x0 + 1;
        while (x1 < W && shiftOf(x1) == d) ++x1;
        // Pixels x0 .. x1 - 1; MSB-first bits within each byte.
        const uint32_t b0 = x0 >> 3, b1 = (x1 - 1) >> 3;
        auto maskFrom = [](uint32_t bit) { return static_cast<uint8_t>(0xFFu >> bit); };
        auto maskUpTo = [](uint32_t bit) { return static_cast<uint8_t>(0xFF00u >> (bit + 1)); };
        uint8_t first = maskFrom(x0 & 7), last = maskUpTo((x1 - 1) & 7);
        if (b0 == b1) first = last = static_cast<uint8_t>(first & last);
        groups.push_back({d, b0, b1, first, last});
        x0 = x1;
    }
    std::vector<uint8_t> paperRow(src.GetEffWidth(), paperByte);
    for (uint32_t r = 0; r < H; ++r) {
        uint8_t* out = dst.RowPtr(r);
        for (const Group& g : groups) {
            const int64_t sr = static_cast<int64_t>(r) + g.d;
            const uint8_t* in = sr >= 0 && sr < static_cast<int64_t>(H)
                                    ? src.RowPtr(static_cast<uint32_t>(sr))
                                    : paperRow.data();
            for (uint32_t b = g.firstByte; b <= g.lastByte; ++b) {
                const uint8_t mask = b == g.firstByte  ? g.firstMask
                                     : b == g.lastByte ? g.lastMask
                                                       : 0xFF;
                out[b] = static_cast<uint8_t>((out[b] & ~mask) | (in[b] & mask));
            }
        }
    }
}

// Luminance of a pixel of any depth, through the palette below 24 bits.
uint8_t PixelLuminance(const uint8_t* row, uint32_t x, uint32_t bpp, const uint8_t* lum) {
    if (bpp == 24) return px::Luminance(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    return lum[px::GetIndex(row, x, bpp)];
}

}  // namespace

PaperTone EstimatePaper(const RasterImage& page) {
    PaperTone paper;
    if (!page.IsValid()) return paper;
    const uint32_t bpp = page.GetBpp(), W = page.GetWidth(), H = page.GetHeight();
    uint8_t lum[256] = {};
    const RgbQuad* pal = page.GetPalette();
    for (uint32_t i = 0; pal && i < std::min<uint32_t>(page.GetNumColors(), 256); ++i)
        lum[i] = px::Luminance(pal[i].red, pal[i].green, pal[i].blue);
    if (bpp == 1) {
        paper.index = lum[1] > lum[0] ? 1 : 0;
        paper.colour = page.GetPaletteColor(paper.index);
        return paper;
    }
    // Every fourth pixel of every fourth row.
    uint32_t histogram[256] = {};
    uint64_t samples = 0;
    for (uint32_t r = 0; r < H; r += 4) {
        const uint8_t* row = page.RowPtr(r);
        for (uint32_t x = 0; x < W; x += 4, ++samples)
            ++histogram[PixelLuminance(row, x, bpp, lum)];
    }
    uint32_t median = 0;
    for (uint64_t seen = 0; median < 255 && (seen += histogram[median]) * 2 < samples;) ++median;
    uint32_t peak = median;
    for (uint32_t v = median; v < 256; ++v)
        if (histogram[v] > histogram[peak]) peak = v;
    uint64_t sums[3] = {}, count = 0;
    uint32_t indexCounts[256] = {};
    for (uint32_t r = 0; r < H; r += 4) {
        const uint8_t* row = page.RowPtr(r);
        for (uint32_t x = 0; x < W; x += 4) {
            const int32_t l = PixelLuminance(row, x, bpp, lum);
            if (std::abs(l - static_cast<int32_t>(peak)) > 8) continue;
            ++count;
            if (bpp == 24) {
                for (int c = 0; c < 3; ++c) sums[c] += row[3 * x + c];
            } else {
                ++indexCounts[px::GetIndex(row, x, bpp)];
            }
        }
    }
    if (bpp == 24) {
        paper.colour =
            RgbQuad{static_cast<uint8_t>(sums[0] / count), static_cast<uint8_t>(sums[1] / count),
                    static_cast<uint8_t>(sums[2] / count), 0};
    } else {
        paper.index =
            static_cast<uint8_t>(std::max_element(indexCounts, indexCounts + 256) - indexCounts);
        paper.colour = page.GetPaletteColor(paper.index);
    }
    return paper;
}

bool TurnToLevel(RasterImage& page, double skewDegrees, const PaperTone& paper) {
    if (!page.IsValid()) return false;
    const uint32_t W = page.GetWidth(), H = page.GetHeight(), bpp = page.GetBpp();
    const Mapping m(skewDegrees, W, H);

    if (bpp == 1) {
        // b = -skew as three shears: rows by -tan(b/2), columns by sin(b),
        // rows by -tan(b/2) again.
        const double b = -skewDegrees * kRadian;
        const uint8_t paperByte = paper.index ? 0xFF : 0x00;
        RasterImage sheared(page);
        if (!sheared.IsValid()) {
            page.SetLastError(sheared.GetLastError());
            return false;
        }
        ShearRows(sheared, -std::tan(b / 2), paperByte);
        ShearColumns(sheared, page, std::sin(b), paperByte);
        ShearRows(page, -std::tan(b / 2), paperByte);
    } else {
        RasterImage out;
        out.TakeBookkeeping(page);
        if (!out.Create(W, H, bpp, page.GetType())) {
            page.SetLastError(out.GetLastError());
            return false;
        }
        out.SetPalette(page.GetPalette(), std::min<uint32_t>(page.GetNumColors(), 256));
        if (bpp == 24) {
            const uint8_t tone[3] = {paper.colour.blue, paper.colour.green, paper.colour.red};
            TurnBilinear<3>(page, out, m, tone);
        } else if (bpp == 8 && page.IsGrayScale()) {
            TurnBilinear<1>(page, out, m, &paper.index);
        } else {
            TurnNearest(page.RowPtr(0), page.GetEffWidth(), out.RowPtr(0), out.GetEffWidth(), W, H,
                        bpp, m, paper.index);
        }
        if (page.HasAlpha()) {
            if (!out.AlphaCreate()) {
                page.SetLastError(out.GetLastError());
                return false;
            }
            TurnNearest(page.GetAlphaPlane(), W, out.GetAlphaPlane(), W, W, H, 8, m, 255);
        }
        page.Transfer(out);
    }
    return true;
}

}  // namespace sheetmend
