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

// The shift of a tone shear split into whole pixels and a weight out of
// 256 for the next pixel.
struct SubShift {
    int64_t whole;
    uint32_t weight;
};
SubShift SplitShift(double shift) {
    const double whole = std::floor(shift);
    SubShift s{static_cast<int64_t>(whole),
               static_cast<uint32_t>(std::lround((shift - whole) * 256))};
    if (s.weight == 256) ++s.whole, s.weight = 0;
    return s;
}

// out = a and b mixed with b's weight out of 256, eight bytes at a time
// in 16-bit lanes (a lane holds at most 255 * 256 + 128).
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

void MixRow(uint8_t* out, const uint8_t* a, const uint8_t* b, uint32_t weight, size_t n) {
    const auto wb = static_cast<uint16_t>(weight), wa = static_cast<uint16_t>(256 - weight);
    size_t j = 0;
#if defined(__SSE2__)
    const __m128i w = _mm_set1_epi16(static_cast<int16_t>(wb));
    for (; j + 16 <= n; j += 16) Mix16(out + j, a + j, b + j, w, w);
#endif
    for (; j + 8 <= n; j += 8) Narrow(out + j, Widen(a + j) * wa + Widen(b + j) * wb + 128);
    for (; j < n; ++j) out[j] = static_cast<uint8_t>((wa * a[j] + wb * b[j] + 128) >> 8);
}

// The same with a weight of its own for every byte.
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

// Tone pages (8-bit grey, 24-bit colour) take the same three shears as
// 1-bit pages, each sampling linearly between the two pixels its shift
// falls between, with fixed-point weights out of 256: rows by k1, columns by
// k2, rows by k1 again. A weight per row (or per column) makes each shear a
// plain loop over bytes.
//
// The three shears run in one pass down the page, in place: a destination
// row of the column shear reads the first shear's rows within the reach of
// its column shifts, which are made on demand from the page's rows (not yet
// overwritten, as they lie at or below the row being written) and kept in a
// ring; the column shear's row is then sheared along the row straight into
// the page. No second page is needed, and every byte is read and written
// about once.
class ToneTurner {
  public:
    ToneTurner(RasterImage& page, double k1, double k2, const uint8_t* paper, uint32_t channels)
        : page_(page),
          W_(page.GetWidth()),
          H_(page.GetHeight()),
          channels_(channels),
          rowBytes_(static_cast<size_t>(W_) * channels),
          k1_(k1),
          cr_((H_ - 1) / 2.0) {
        // Rows: the padded copy of a row reaches past the largest shift.
        const auto reach = static_cast<size_t>(std::ceil(std::fabs(k1) * cr_)) + 2;
        margin_ = std::min<size_t>(reach, W_ + 2) * channels;
        padded_.resize(rowBytes_ + 2 * margin_ + channels);
        for (size_t j = 0; j < padded_.size(); ++j) padded_[j] = paper[j % channels];
        // Columns: runs of equal whole shift, each byte with its weight.
        const double cx = (W_ - 1) / 2.0;
        weight_.resize(rowBytes_);
        paperRow_.resize(rowBytes_);
        for (uint32_t x = 0; x < W_; ++x) {
            const SubShift sh = SplitShift(k2 * (x - cx));
            for (uint32_t c = 0; c < channels; ++c) {
                weight_[static_cast<size_t>(x) * channels + c] = static_cast<uint16_t>(sh.weight);
                paperRow_[static_cast<size_t>(x) * channels + c] = paper[c];
            }
            if (runs_.empty() || runs_.back().whole != sh.whole)
                runs_.push_back({sh.whole, static_cast<size_t>(x) * channels, 0});
            runs_.back().end = static_cast<size_t>(x + 1) * channels;
        }
        // Destination row r reads the first shear's rows r + low .. r + high.
        for (const Run& run : runs_) {
            low_ = std::min(low_, run.whole);
            high_ = std::max(high_, run.whole + 1);
        }
        ringRows_ = static_cast<size_t>(high_ - low_ + 1);
    }

    void Turn() {
        ring_.resize(ringRows_ * rowBytes_);
        const auto H = static_cast<int64_t>(H_);
        int64_t made = 0;  // the first shear's rows made so far
        for (int64_t r = 0; r < H; ++r) {
            for (; made < H && made <= r + high_; ++made)
                ShearRow(page_.RowPtr(static_cast<uint32_t>(made)), Slot(made), made);
            // The column shear writes into the padded row that the last
            // shear reads.
            uint8_t* mid = padded_.data() + margin_;
            for (const Run& run : runs_) {
                const uint8_t* a = RowOrPaper(r + run.whole);
                const uint8_t* b = RowOrPaper(r + run.whole + 1);
                MixRowWeighted(mid + run.begin, a + run.begin, b + run.begin,
                               weight_.data() + run.begin, run.end - run.begin);
            }
            ShearPadded(page_.RowPtr(static_cast<uint32_t>(r)), r);
        }
    }

  private:
    struct Run {
        int64_t whole;
        size_t begin, end;  // bytes
    };

    uint8_t* Slot(int64_t row) {
        return ring_.data() + static_cast<size_t>(row) % ringRows_ * rowBytes_;
    }
    const uint8_t* RowOrPaper(int64_t row) {
        return row >= 0 && row < static_cast<int64_t>(H_) ? Slot(row) : paperRow_.data();
    }

    // Row shear: out x = in x + k1 (row - cr).
    void ShearRow(const uint8_t* in, uint8_t* out, int64_t row) {
        std::memcpy(padded_.data() + margin_, in, rowBytes_);
        ShearPadded(out, row);
    }
    // The same from the row already in the padded buffer.
    void ShearPadded(uint8_t* out, int64_t row) {
        SubShift sh = SplitShift(k1_ * (static_cast<double>(row) - cr_));
        const auto limit = static_cast<int64_t>(margin_ / channels_);
        sh.whole = std::clamp<int64_t>(sh.whole, -limit, limit - 1);
        const uint8_t* a = padded_.data() + static_cast<int64_t>(margin_) + sh.whole * channels_;
        if (sh.whole == 0 && sh.weight == 0)
            std::memcpy(out, a, rowBytes_);
        else
            MixRow(out, a, a + channels_, sh.weight, rowBytes_);
    }

    RasterImage& page_;
    const uint32_t W_, H_, channels_;
    const size_t rowBytes_;
    const double k1_, cr_;
    size_t margin_ = 0, ringRows_ = 1;
    int64_t low_ = 0, high_ = 0;
    std::vector<uint8_t> padded_, paperRow_, ring_;
    std::vector<uint16_t> weight_;
    std::vector<Run> runs_;
};

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
    // b = -skew as three shears: rows by -tan(b/2), columns by sin(b), rows
    // by -tan(b/2) again.
    const double b = -skewDegrees * kRadian, k1 = -std::tan(b / 2), k2 = std::sin(b);
    // The nearest-pixel turn reads a copy of the page and the 1-bit shears
    // fill a second image; the tone shears work in place (only the alpha
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
            ToneTurner(page, k1, k2, tonePaper, bpp == 24 ? 3 : 1).Turn();
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
