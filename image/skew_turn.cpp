#include "image/skew_turn.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Destination row r, x = source row r, x + round(k (r - cr)); the two
// images may be one.
void ShearRows(const RasterImage& src, RasterImage& dst, double k, uint8_t paperByte) {
    const uint32_t W = src.GetWidth(), H = src.GetHeight();
    const double cr = (H - 1) / 2.0;
    std::vector<uint8_t> row(px::UsedRowBytes(W, 1)), work;
    for (uint32_t r = 0; r < H; ++r) {
        const auto d = static_cast<int64_t>(std::floor(k * (r - cr) + 0.5));
        if (d == 0) {
            if (&src != &dst) std::memcpy(dst.RowPtr(r), src.RowPtr(r), row.size());
            continue;
        }
        ShiftRowBits(src.RowPtr(r), row.data(), W, d, paperByte, work);
        std::memcpy(dst.RowPtr(r), row.data(), row.size());
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

// Eight bytes widened to 16-bit lanes (a lane of a blend holds at most
// 255 * 256 + 128) and narrowed back.
using Bytes8 = uint8_t __attribute__((vector_size(8)));
using Lanes8 = uint16_t __attribute__((vector_size(16)));

inline Lanes8 Widen(const uint8_t* p) {
    Bytes8 v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_convertvector(v, Lanes8);
}

inline void Narrow(uint8_t* p, Lanes8 v) {
    const Bytes8 bytes = __builtin_convertvector(v >> 8, Bytes8);
    std::memcpy(p, &bytes, sizeof bytes);
}

#if defined(__SSE2__)
// Sixteen bytes of a and b mixed with the weights of b (lanes of 16 bits,
// low and high eight bytes) out of 256.
inline void Mix16(uint8_t* out, const uint8_t* a, const uint8_t* b, __m128i wbLow, __m128i wbHigh) {
    const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(256),
                  half = _mm_set1_epi16(128);
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i low = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), _mm_sub_epi16(full, wbLow)),
                      _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), wbLow)),
        half);
    const __m128i high = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), _mm_sub_epi16(full, wbHigh)),
                      _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), wbHigh)),
        half);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_packus_epi16(_mm_srli_epi16(low, 8), _mm_srli_epi16(high, 8)));
}
#endif

// out = a and b mixed byte by byte, each with its own weight for b out of
// 256.
void MixRowWeighted(uint8_t* out, const uint8_t* a, const uint8_t* b, const uint16_t* weight,
                    size_t n) {
    size_t j = 0;
#if defined(__SSE2__)
    for (; j + 16 <= n; j += 16)
        Mix16(out + j, a + j, b + j, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + j)),
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + j + 8)));
#endif
    for (; j + 8 <= n; j += 8) {
        Lanes8 wb;
        std::memcpy(&wb, weight + j, sizeof wb);
        Narrow(out + j, Widen(a + j) * (256 - wb) + Widen(b + j) * wb + 128);
    }
    for (; j < n; ++j)
        out[j] = static_cast<uint8_t>(((256u - weight[j]) * a[j] + weight[j] * b[j] + 128) >> 8);
}

// Tone pages (8-bit grey, 24-bit colour) are turned in two passes that
// each sample linearly once, so that every pixel is blended once across and
// once along the page, as a bilinear turn blends it (three shears would
// blend it twice across, and soften small type that a threshold then
// merges). With c = cos b, s = sin b and t = tan b, the first pass makes
//   I(x, R) = source(cx + (x - cx) / c - (R - cr) t, R)
// along each row, and the second
//   destination(x, r) = I(x, cr + (x - cx) s + (r - cr) c)
// along each column; together they read the source at the turned point of
// Mapping.
//
// Both passes sample row r at base(r) + x * step, counted in 1/256 of a
// pixel: the base is rounded once per row and x * step once per page, so
// the weights and the runs of pixels that read the same two neighbours
// depend only on the base's fraction. Each of the 256 fractions gets its
// pattern when a row first needs it, and every row is then blended as a
// few runs of bytes.
class TonePass {
  public:
    // `relative`: the whole part counts from x (the row pass, whose step is
    // about one pixel) rather than from 0 (the column pass).
    TonePass(uint32_t width, uint32_t channels, double step, bool relative)
        : width_(width), channels_(channels), relative_(relative), offsets_(width) {
        for (uint32_t x = 0; x < width; ++x) offsets_[x] = std::llround(256.0 * x * step);
    }

    struct Run {
        int64_t whole;  // pixels from the row's whole base (and from x when relative)
        size_t begin, end;  // bytes
    };
    struct Pattern {
        std::vector<uint16_t> weight;  // of the second pixel, out of 256, per byte
        std::vector<Run> runs;
    };

    // Position `base` (pixels) as its whole part and the pattern of its fraction.
    const Pattern& For(double base, int64_t& whole) {
        const int64_t steps = std::llround(base * 256.0);
        whole = steps >> 8;
        Pattern& p = patterns_[steps & 0xFF];
        if (p.weight.empty()) Make(p, steps & 0xFF);
        return p;
    }

  private:
    void Make(Pattern& p, int64_t fraction) {
        p.weight.resize(static_cast<size_t>(width_) * channels_);
        for (uint32_t x = 0; x < width_; ++x) {
            const int64_t at = fraction + offsets_[x];
            const int64_t whole = (at >> 8) - (relative_ ? x : 0);
            for (uint32_t k = 0; k < channels_; ++k)
                p.weight[static_cast<size_t>(x) * channels_ + k] = static_cast<uint16_t>(at & 0xFF);
            if (p.runs.empty() || p.runs.back().whole != whole)
                p.runs.push_back({whole, static_cast<size_t>(x) * channels_, 0});
            p.runs.back().end = static_cast<size_t>(x + 1) * channels_;
        }
    }

    const uint32_t width_, channels_;
    const bool relative_;
    std::vector<int64_t> offsets_;
    Pattern patterns_[256];
};

// The two passes run together down the page, in place: the rows of the
// first pass are made on demand, each from its page row before that row is
// overwritten, and kept in a ring as long as a destination row may read
// them; no second page is needed.
void ToneTurn(RasterImage& page, double b, const uint8_t* paper, uint32_t channels) {
    const uint32_t W = page.GetWidth(), H = page.GetHeight();
    const double c = std::cos(b), s = std::sin(b), t = std::tan(b);
    const double cx = (W - 1) / 2.0, cr = (H - 1) / 2.0;
    const size_t rowBytes = static_cast<size_t>(W) * channels;
    auto acrossBase = [&](int64_t R) { return cx - cx / c - (R - cr) * t; };
    auto alongBase = [&](int64_t r) { return cr - cx * s + (r - cr) * c; };

    // The first pass reads its row padded with paper as far as any row
    // reaches beyond the page.
    const auto margin =
        static_cast<int64_t>(std::ceil(std::max(std::fabs(acrossBase(0)), std::fabs(acrossBase(H - 1))) +
                                       W * (1 / c - 1))) + 3;
    std::vector<uint8_t> padded(rowBytes + 2 * static_cast<size_t>(margin) * channels + channels);
    for (size_t j = 0; j < padded.size(); ++j) padded[j] = paper[j % channels];
    // Destination row r reads first-pass rows r + low .. r + high at most
    // (the offset is linear in x and r, so its corners bound it).
    double low = 0, high = 0;
    for (const double r : {0.0, H - 1.0})
        for (const double x : {0.0, W - 1.0}) {
            low = std::min(low, alongBase(static_cast<int64_t>(r)) + x * s - r);
            high = std::max(high, alongBase(static_cast<int64_t>(r)) + x * s - r);
        }
    const auto ringRows = static_cast<size_t>(std::ceil(high) - std::floor(low)) + 4;
    std::vector<uint8_t> ring(ringRows * rowBytes), paperRow(rowBytes);
    for (size_t j = 0; j < rowBytes; ++j) paperRow[j] = paper[j % channels];
    auto slot = [&](int64_t R) { return ring.data() + static_cast<size_t>(R) % ringRows * rowBytes; };
    auto rowOrPaper = [&](int64_t R) {
        return R >= 0 && R < static_cast<int64_t>(H) ? slot(R) : paperRow.data();
    };

    TonePass across(W, channels, 1 / c, true), along(W, channels, s, false);
    int64_t made = 0;
    for (int64_t r = 0; r < static_cast<int64_t>(H); ++r) {
        int64_t whole = 0;
        const TonePass::Pattern& p = along.For(alongBase(r), whole);
        // Every first-pass row this row reads, and row r itself before it
        // is overwritten.
        const int64_t need = std::min<int64_t>(
            H - 1, std::max(r, whole + std::max(p.runs.front().whole, p.runs.back().whole) + 1));
        for (; made <= need; ++made) {
            std::memcpy(padded.data() + margin * channels, page.RowPtr(static_cast<uint32_t>(made)),
                        rowBytes);
            int64_t from = 0;
            const TonePass::Pattern& q = across.For(acrossBase(made), from);
            uint8_t* out = slot(made);
            for (const TonePass::Run& run : q.runs) {
                const int64_t shift = std::clamp<int64_t>(from + run.whole, -margin, margin - 1);
                const uint8_t* a = padded.data() + (margin + shift) * channels + run.begin;
                MixRowWeighted(out + run.begin, a, a + channels, q.weight.data() + run.begin,
                               run.end - run.begin);
            }
        }
        uint8_t* out = page.RowPtr(static_cast<uint32_t>(r));
        for (const TonePass::Run& run : p.runs)
            MixRowWeighted(out + run.begin, rowOrPaper(whole + run.whole) + run.begin,
                           rowOrPaper(whole + run.whole + 1) + run.begin,
                           p.weight.data() + run.begin, run.end - run.begin);
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
    // Every eighth pixel of every eighth row.
    uint32_t histogram[256] = {};
    uint64_t samples = 0;
    for (uint32_t r = 0; r < H; r += 8) {
        const uint8_t* row = page.RowPtr(r);
        for (uint32_t x = 0; x < W; x += 8, ++samples)
            ++histogram[PixelLuminance(row, x, bpp, lum)];
    }
    uint32_t median = 0;
    for (uint64_t seen = 0; median < 255 && (seen += histogram[median]) * 2 < samples;) ++median;
    uint32_t peak = median;
    for (uint32_t v = median; v < 256; ++v)
        if (histogram[v] > histogram[peak]) peak = v;
    uint64_t sums[3] = {}, count = 0;
    uint32_t indexCounts[256] = {};
    for (uint32_t r = 0; r < H; r += 8) {
        const uint8_t* row = page.RowPtr(r);
        for (uint32_t x = 0; x < W; x += 8) {
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
    const bool tone = bpp == 24 || (bpp == 8 && page.IsGrayScale());
    // A turn by b = -skew; on 1-bit pages as three shears: rows by
    // -tan(b/2), columns by sin(b), rows by -tan(b/2) again.
    const double b = -skewDegrees * kRadian, k1 = -std::tan(b / 2), k2 = std::sin(b);
    // The nearest-pixel turn reads a copy of the page and the 1-bit shears
    // fill a second image; the tone turn works in place (only the alpha
    // plane is copied, for its own turn).
    std::unique_ptr<RasterImage> source;
    if (!tone) {
        source = std::make_unique<RasterImage>(page, bpp != 1, false, true);
        if (!source->IsValid()) {
            page.SetLastError(source->GetLastError());
            return false;
        }
    }
    std::vector<uint8_t> alpha;
    try {
        if (page.HasAlpha())
            alpha.assign(page.GetAlphaPlane(), page.GetAlphaPlane() + static_cast<size_t>(W) * H);
        if (tone) {
            const uint8_t tonePaper[3] = {bpp == 24 ? paper.colour.blue : paper.index,
                                          paper.colour.green, paper.colour.red};
            ToneTurn(page, b, tonePaper, bpp == 24 ? 3 : 1);
        }
    } catch (const std::bad_alloc&) {
        page.SetLastError("not enough memory to turn the page");
        return false;
    }
    if (bpp == 1) {
        const uint8_t paperByte = paper.index ? 0xFF : 0x00;
        ShearRows(page, *source, k1, paperByte);
        ShearColumns(*source, page, k2, paperByte);
        ShearRows(page, page, k1, paperByte);
    } else if (!tone) {
        TurnNearest(source->RowPtr(0), source->GetEffWidth(), page.RowPtr(0), page.GetEffWidth(), W,
                    H, bpp, m, paper.index);
    }
    if (page.HasAlpha()) TurnNearest(alpha.data(), W, page.GetAlphaPlane(), W, W, H, 8, m, 255);
    return true;
}

}  // namespace sheetmend
