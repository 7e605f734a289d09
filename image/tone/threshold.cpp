// Black and white by a fixed grey level (Threshold) and the automatic choice
// of that level (OptimalThreshold).
//
// Threshold makes a fresh 1-bit image (so the result carries none of the old
// bookkeeping: 96 dpi, type 0, no codec options, no background) whose pixel is
// white where the grey value of the source pixel is above the level. The grey
// values come straight from the source rows through the luminance table, the
// same values GrayScale would store, without building the 8-bit image.
//
// OptimalThreshold histograms the stored bytes of an 8-bit image and scores
// every split t (lower class <= t) by four classic criteria: Otsu's
// within-class variance, Kittler and Illingworth's minimum error, Kapur's
// maximum entropy and a balance of the squared distances to t on both sides.
// Each criterion keeps its first best split; the answer is one criterion's
// choice or the mean of all that found one, pulled to the middle of the used
// grey range when it falls on or outside its ends.
#include <cmath>
#include <cstring>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/tone/tone_internal.h"

namespace sheetmend {

namespace tone {

void PackAbove(const uint8_t* grey, const uint8_t* limit, uint32_t width, uint8_t* out) {
    uint32_t x = 0;
#if defined(__SSE2__)
    // Unsigned compare as a signed one after flipping the top bits.
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    for (; x + 16 <= width; x += 16, out += 2) {
        const __m128i g =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + x)), flip);
        const __m128i l =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(limit + x)), flip);
        const auto above = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(g, l)));
        out[0] = kReversedBits[above & 0xFF];
        out[1] = kReversedBits[above >> 8];
    }
#endif
    for (; x + 8 <= width; x += 8) {
        unsigned byte = 0;
        for (uint32_t k = 0; k < 8; ++k)
            byte = (byte << 1) | (grey[x + k] > limit[x + k] ? 1u : 0u);
        *out++ = static_cast<uint8_t>(byte);
    }
    if (x < width) {
        unsigned byte = 0;
        const uint32_t rest = width - x;
        for (uint32_t k = 0; k < rest; ++k)
            byte = (byte << 1) | (grey[x + k] > limit[x + k] ? 1u : 0u);
        *out = static_cast<uint8_t>(byte << (8 - rest));
    }
}

void ThresholdRows(RasterImage& self, const uint8_t* limits, uint32_t period, RasterImage& out) {
    const uint32_t width = self.GetWidth();
    const uint32_t height = self.GetHeight();
    const uint32_t bpp = self.GetBpp();
    const GreyTable greys = PaletteGreys(self);
    // An 8-bit identity ramp needs no table: its rows are the grey values.
    const bool greyRows = bpp == 8 && IsIdentity(greys);
    std::vector<uint8_t> grey(greyRows ? 0 : width);
    for (uint32_t y = 0; y < height; ++y) {
        self.SetProgress(RowProgress(y, height));
        if (self.GetEscape()) break;
        const uint8_t* g = self.RowPtr(y);
        if (!greyRows) {
            GreyRow(g, width, bpp, greys, grey.data());
            g = grey.data();
        }
        PackAbove(g, limits + static_cast<size_t>(y % period) * width, width, out.RowPtr(y));
    }
}

void SetBlackAndWhitePalette(RasterImage& image) {
    image.SetPaletteColor(0, RgbQuad{0, 0, 0, 0});
    image.SetPaletteColor(1, RgbQuad{255, 255, 255, 0});
}

std::array<double, 256> CountLevels(const RasterImage& image, uint32_t x0, uint32_t x1, uint32_t y0,
                                    uint32_t y1, const RasterImage* mask) {
    const uint32_t n = x1 - x0;
    uint64_t single[256] = {};
    std::array<double, 256> h{};
    auto finish = [&] {
        for (uint32_t v = 0; v < 256; ++v) h[v] = static_cast<double>(single[v]);
        return h;
    };
    if (mask || static_cast<uint64_t>(n) * (y1 - y0) < kPairCountingFrom) {
        for (uint32_t y = y0; y < y1; ++y) {
            const uint8_t* p = image.RowPtr(y) + x0;
            const uint8_t* m = mask ? mask->RowPtr(y) + x0 : nullptr;
            for (uint32_t i = 0; i < n; ++i)
                if (!m || m[i]) ++single[p[i]];
        }
        return finish();
    }
    // A counter update costs a load and a store whatever it counts, so
    // adjacent pixels are counted as pairs: half the updates, into tables of
    // all 65536 pairs. Two tables alternate so a run of one pair (plain
    // paper) does not wait on its own previous update. Each pair adds to the
    // count of both its bytes at the end, so their order does not matter.
    std::vector<uint32_t> pairs(2 * 65536);
    uint32_t* even = pairs.data();
    uint32_t* odd = even + 65536;
    for (uint32_t y = y0; y < y1; ++y) {
        const uint8_t* p = image.RowPtr(y) + x0;
        uint32_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t v;
            std::memcpy(&v, p + i, 8);
            ++even[v & 0xFFFF];
            ++odd[(v >> 16) & 0xFFFF];
            ++even[(v >> 32) & 0xFFFF];
            ++odd[v >> 48];
        }
        for (; i < n; ++i) ++single[p[i]];
    }
    for (uint32_t k = 0; k < 65536; ++k) {
        const uint64_t count = uint64_t{even[k]} + odd[k];
        single[k & 0xFF] += count;
        single[k >> 8] += count;
    }
    return finish();
}

namespace {

// The best split of one criterion: the first t with the greatest score.
struct BestSplit {
    double score = 0;
    int32_t t = -1;
    void Offer(double value, int32_t split) {
        if (t < 0 || value > score) {
            score = value;
            t = split;
        }
    }
};

}  // namespace

std::array<int32_t, 4> BestSplits(const std::array<double, 256>& h, int32_t gmin, int32_t gmax) {
    // All counts and moments are whole numbers far below 2^53, so these sums
    // are exact in any order.
    double total = 0, moment = 0, square = 0;
    for (int32_t i = gmin; i <= gmax; ++i) {
        total += h[i];
        moment += i * h[i];
        square += i * i * h[i];
    }

    BestSplit otsu, kittler, entropy, balance;
    double w1 = 0, m1 = 0, q1 = 0;
    for (int32_t t = gmin; t < gmax; ++t) {
        w1 += h[t];
        m1 += t * h[t];
        q1 += t * t * h[t];
        const double w2 = total - w1;
        const double m2 = moment - m1;
        const double q2 = square - q1;
        const double s1 = q1 / w1 - m1 * m1 / w1 / w1;
        const double s2 = q2 / w2 - m2 * m2 / w2 / w2;

        otsu.Offer(-(s1 * w1 + s2 * w2), t);
        if (s1 > 0 && s2 > 0)
            kittler.Offer(w1 * std::log(w1 / std::sqrt(s1)) + w2 * std::log(w2 / std::sqrt(s2)), t);

        double e1 = 0, e2 = 0, a = 0, b = 0;
        for (int32_t i = gmin; i <= t; ++i) {
            if (h[i] > 0) {
                const double p = h[i] / w1;
                e1 += p * std::log(p);
            }
            a += h[i] * ((t - i) * (t - i));
        }
        for (int32_t i = t + 1; i <= gmax; ++i) {
            if (h[i] > 0) {
                const double p = h[i] / w2;
                e2 += p * std::log(p);
            }
            b += h[i] * ((i - t) * (i - t));
        }
        entropy.Offer(-e1 - e2, t);
        balance.Offer(a + b > 0 ? -std::fabs((a - b) / (a + b)) : 0.0, t);
    }
    return {otsu.t, kittler.t, entropy.t, balance.t};
}

int32_t ChooseThreshold(const std::array<double, 256>& h, int32_t method) {
    int32_t gmin = 0;
    while (gmin < 255 && h[gmin] == 0) ++gmin;
    int32_t gmax = 255;
    while (gmax > 0 && h[gmax] == 0) --gmax;
    if (gmin > gmax) return -1;
    if (gmin == gmax) return gmin == 0 ? 0 : gmax - 1;

    const std::array<int32_t, 4> best = BestSplits(h, gmin, gmax);
    int32_t result;
    if (method >= 1 && method <= 4) {
        result = best[method - 1];
    } else {
        int32_t sum = 0, found = 0;
        for (int32_t t : best) {
            if (t < 0) continue;
            sum += t;
            ++found;
        }
        result = found ? sum / found : (gmin + gmax) / 2;
    }
    if (result <= gmin || result >= gmax) result = (gmin + gmax) / 2;
    return result;
}

}  // namespace tone

bool RasterImage::Threshold(uint8_t level) {
    if (!dib_) return false;
    const uint32_t bpp = GetBpp();
    if (bpp == 1) return true;
    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();

    RasterImage out(width, height, 1, kFormatUnknown);
    if (!out.IsValid()) {
        // The grey conversion comes first and stays even when this fails.
        if (GrayScale()) SetLastError(out.GetLastError());
        return false;
    }
    const std::vector<uint8_t> limit(width, level);
    tone::ThresholdRows(*this, limit.data(), 1, out);
    tone::SetBlackAndWhitePalette(out);
    return Transfer(out);
}

int32_t RasterImage::OptimalThreshold(int32_t method, const ImageRect* box,
                                      const RasterImage* contrastMask) {
    if (!dib_) return 0;
    if (GetBpp() != 8) {
        SetLastError("OptimalThreshold works only on 8 bit images");
        return -1;
    }
    // The mask is read one byte per pixel, so only an 8-bit mask can be read
    // at the image's coordinates; any other depth would be read past its rows.
    if (contrastMask &&
        (!contrastMask->IsValid() || !contrastMask->IsGrayScale() || contrastMask->GetBpp() != 8 ||
         contrastMask->GetWidth() != GetWidth() || contrastMask->GetHeight() != GetHeight())) {
        SetLastError("OptimalThreshold invalid ContrastMask");
        return -1;
    }

    int64_t xmin = 0, xmax = GetWidth(), ymin = 0, ymax = GetHeight();
    if (box) {
        xmin = box->left > 0 ? box->left : 0;
        xmax = box->right < xmax ? box->right : xmax;
        ymin = box->bottom > 0 ? box->bottom : 0;
        ymax = box->top < ymax ? box->top : ymax;
    }
    if (xmin >= xmax || ymin >= ymax) return -1;

    const std::array<double, 256> h =
        tone::CountLevels(*this, static_cast<uint32_t>(xmin), static_cast<uint32_t>(xmax),
                          static_cast<uint32_t>(ymin), static_cast<uint32_t>(ymax), contrastMask);
    return tone::ChooseThreshold(h, method);
}

}  // namespace sheetmend
