// Geometric operations of RasterImage: nearest-pixel resampling, rotation by
// any angle, quarter turns, mirror, flip and crop.
//
// Every operation builds its result in a new image and moves it in (or into
// the caller's destination) with Transfer, except Flip, which swaps rows in
// place. The pixel mappings are those of the single-pixel accessors: reads
// outside the source follow the background rules of GetPixelIndex and
// GetPixelColor. The kernels below work on raw rows and fall back to the
// accessors only for the rare reads from outside the source.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"

namespace sheetmend {

namespace {

// Moves a finished result into the caller's destination or into `self`.
bool Deliver(RasterImage& self, RasterImage& result, RasterImage* destination) {
    if (destination) return destination->Transfer(result);
    return self.Transfer(result);
}

// Copies `bits` bits starting at bit `srcBit` of `src` to the start of `dst`
// (most significant bit first) and clears the unused low bits of the last
// destination byte.
void CopyBitSpan(uint8_t* dst, const uint8_t* src, uint64_t srcBit, uint64_t bits) {
    if (bits == 0) return;
    const size_t bytes = static_cast<size_t>((bits + 7) / 8);
    const uint8_t* s = src + srcBit / 8;
    const unsigned shift = static_cast<unsigned>(srcBit & 7);
    // Number of source bytes that hold the span; never read past them.
    const size_t srcBytes = static_cast<size_t>((shift + bits + 7) / 8);
    if (shift == 0) {
        std::memcpy(dst, s, bytes);
    } else {
        for (size_t i = 0; i < bytes; ++i) {
            const unsigned hi = static_cast<unsigned>(s[i]) << shift;
            const unsigned lo = (i + 1 < srcBytes) ? (s[i + 1] >> (8 - shift)) : 0u;
            dst[i] = static_cast<uint8_t>(hi | lo);
        }
    }
    const unsigned tail = static_cast<unsigned>(bits & 7);
    if (tail) dst[bytes - 1] &= static_cast<uint8_t>(0xFF00u >> tail);
}

uint8_t ReverseByte(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

}  // namespace

// ---------------------------------------------------------------------------

bool RasterImage::Resample(int32_t newWidth, int32_t newHeight, int32_t /*mode*/,
                           RasterImage* destination) {
    if (!dib_) return false;
    if (newWidth == 0 || newHeight == 0) return false;
    const uint32_t W = GetWidth();
    const uint32_t H = GetHeight();
    if (static_cast<uint32_t>(newWidth) == W && static_cast<uint32_t>(newHeight) == H) {
        if (destination) destination->Copy(*this);
        return true;
    }

    const float xs = static_cast<float>(W) / static_cast<float>(newWidth);
    const float ys = static_cast<float>(H) / static_cast<float>(newHeight);

    RasterImage out;
    out.TakeBookkeeping(*this);
    if (!out.Create(static_cast<uint32_t>(newWidth), static_cast<uint32_t>(newHeight), GetBpp(),
                    info_.type)) {
        SetLastError(out.GetLastError());
        return false;
    }
    out.SetPalette(GetPalette(), GetNumColors() > 256 ? 256 : GetNumColors());

    const uint32_t nw = static_cast<uint32_t>(newWidth);
    const uint32_t nh = static_cast<uint32_t>(newHeight);
    std::vector<int64_t> col(nw);
    for (uint32_t x = 0; x < nw; ++x) col[x] = static_cast<int64_t>(static_cast<float>(x) * xs);

    // A palette colour written into the copy goes through GetNearestIndex;
    // the same palette maps each index to the lowest entry of equal colour.
    uint8_t indexMap[256] = {};
    const uint32_t bpp = GetBpp();
    if (bpp < 24) {
        for (uint32_t i = 0; i < GetNumColors(); ++i)
            indexMap[i] = out.GetNearestIndex(GetPaletteColor(static_cast<uint8_t>(i)));
    }
    if (alpha_) out.AlphaCreate();

    for (uint32_t y = 0; y < nh; ++y) {
        const int64_t sy = static_cast<int64_t>(static_cast<float>(y) * ys);
        uint8_t* dst = out.RowPtr(y);
        const bool rowInside = sy < static_cast<int64_t>(H);
        const uint8_t* src = rowInside ? RowPtr(static_cast<uint32_t>(sy)) : nullptr;
        for (uint32_t x = 0; x < nw; ++x) {
            const int64_t sx = col[x];
            if (!rowInside || sx >= static_cast<int64_t>(W)) {
                out.SetPixelColor(
                    static_cast<int32_t>(x), static_cast<int32_t>(y),
                    GetPixelColor(static_cast<int32_t>(sx), static_cast<int32_t>(sy)));
                continue;
            }
            const auto ux = static_cast<uint32_t>(sx);
            switch (bpp) {
                case 24:
                    std::memcpy(dst + 3 * x, src + 3 * ux, 3);
                    break;
                case 8:
                    dst[x] = indexMap[src[ux]];
                    break;
                case 4:
                    px::SetNibble(dst, x, indexMap[px::GetNibble(src, ux)]);
                    break;
                default:
                    px::SetBit(dst, x, indexMap[px::GetBit(src, ux)]);
                    break;
            }
        }
        if (alpha_) {
            for (uint32_t x = 0; x < nw; ++x)
                out.AlphaSet(static_cast<int32_t>(x), static_cast<int32_t>(y),
                             AlphaGet(static_cast<int32_t>(col[x]), static_cast<int32_t>(sy)));
        }
    }
    return Deliver(*this, out, destination);
}

// ---------------------------------------------------------------------------

namespace {

// Where Rotate's destination sits in the turned plane: destination pixel
// (newX, newY) shows the source pixel that maps to (x0 + newX, y0 + newY);
// only the first `rows` rows and `cols` columns are written.
struct RotationFrame {
    int64_t x0, y0;
    uint32_t rows, cols;
    double c, s;
    // The source pixel that destination pixel (newX, newY) reads.
    int64_t SourceX(uint32_t newX, uint32_t newY) const {
        const auto x = static_cast<double>(x0 + newX);
        const auto y = static_cast<double>(y0 + newY);
        return static_cast<int64_t>(x * c + y * s + 0.5);
    }
    int64_t SourceY(uint32_t newX, uint32_t newY) const {
        const auto x = static_cast<double>(x0 + newX);
        const auto y = static_cast<double>(y0 + newY);
        return static_cast<int64_t>(y * c - x * s + 0.5);
    }
};

// The general rotation: every destination pixel reads its source pixel. The
// destination is walked in square tiles so that a steep angle, which reads
// the source down its columns, still finds the rows it reads in the cache.
void RotateByPixel(const RasterImage& src, RasterImage& out, const RotationFrame& f) {
    const uint32_t bpp = src.GetBpp();
    const int64_t sw = src.GetWidth();
    const int64_t sh = src.GetHeight();
    const uint32_t newWidth = out.GetWidth();
    // What a read from outside the source yields.
    const uint8_t outsideIndex = src.GetPixelIndex(-1, -1);
    const RgbQuad outsideColor = src.GetPixelColor(-1, -1);
    const uint8_t* alpha = src.GetAlphaPlane();
    constexpr uint32_t kTile = 64;
    for (uint32_t ty = 0; ty < f.rows; ty += kTile) {
        const uint32_t tyEnd = std::min(f.rows, ty + kTile);
        for (uint32_t tx = 0; tx < f.cols; tx += kTile) {
            const uint32_t txEnd = std::min(f.cols, tx + kTile);
            for (uint32_t newY = ty; newY < tyEnd; ++newY) {
                uint8_t* dst = out.RowPtr(newY);
                for (uint32_t newX = tx; newX < txEnd; ++newX) {
                    const int64_t ox = f.SourceX(newX, newY);
                    const int64_t oy = f.SourceY(newX, newY);
                    const bool inside = ox >= 0 && oy >= 0 && ox < sw && oy < sh;
                    if (bpp == 24) {
                        uint8_t* d = dst + 3 * static_cast<size_t>(newX);
                        if (inside) {
                            const uint8_t* p = src.RowPtr(static_cast<uint32_t>(oy)) + 3 * ox;
                            d[0] = p[0];
                            d[1] = p[1];
                            d[2] = p[2];
                        } else {
                            d[0] = outsideColor.blue;
                            d[1] = outsideColor.green;
                            d[2] = outsideColor.red;
                        }
                    } else {
                        const uint8_t v = inside
                                              ? px::GetIndex(src.RowPtr(static_cast<uint32_t>(oy)),
                                                             static_cast<uint32_t>(ox), bpp)
                                              : outsideIndex;
                        px::SetIndex(dst, newX, bpp, v);
                    }
                    if (alpha && inside) {
                        out.GetAlphaPlane()[static_cast<size_t>(newY) * newWidth + newX] =
                            alpha[static_cast<size_t>(oy) * sw + static_cast<size_t>(ox)];
                    }
                }
            }
        }
    }
}

// Transposes an 8 x 8 bit block held one row per byte, row 0 in the most
// significant byte and column 0 in each byte's top bit.
inline uint64_t Transpose8x8(uint64_t x) {
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x = x ^ t ^ (t << 28);
    return x;
}

// Eight pixels of a 1-bit row starting at pixel `bit` (which may be
// negative); pixels outside 0 .. width - 1 read as 0.
inline uint8_t BitWindow(const uint8_t* row, int64_t bit, uint32_t width) {
    if (bit >= 0 && bit + 8 <= static_cast<int64_t>(width)) {
        const size_t i = static_cast<size_t>(bit >> 3);
        const unsigned shift = static_cast<unsigned>(bit & 7);
        if (shift == 0) return row[i];
        return static_cast<uint8_t>((row[i] << shift) | (row[i + 1] >> (8 - shift)));
    }
    uint8_t v = 0;
    for (int m = 0; m < 8; ++m) {
        const int64_t x = bit + m;
        if (x >= 0 && x < static_cast<int64_t>(width) && px::GetBit(row, static_cast<uint32_t>(x)))
            v |= static_cast<uint8_t>(0x80u >> m);
    }
    return v;
}

// ORs `bits` bits, held from the top bit of `aligned` on (with its unused low
// bits zero), into `dst` from bit `dstBit` on, touching no byte past them.
void OrBitsAt(uint8_t* dst, uint64_t dstBit, const uint8_t* aligned, uint64_t bits) {
    if (bits == 0) return;
    uint8_t* d = dst + dstBit / 8;
    const unsigned shift = static_cast<unsigned>(dstBit & 7);
    const size_t srcBytes = static_cast<size_t>((bits + 7) / 8);
    if (shift == 0) {
        for (size_t i = 0; i < srcBytes; ++i) d[i] |= aligned[i];
        return;
    }
    const size_t dstBytes = static_cast<size_t>((shift + bits + 7) / 8);
    for (size_t i = 0; i < srcBytes; ++i) {
        d[i] |= static_cast<uint8_t>(aligned[i] >> shift);
        if (i + 1 < dstBytes) d[i + 1] |= static_cast<uint8_t>(aligned[i] << (8 - shift));
    }
}

// The source coordinate along one axis for each destination index along
// the other, or nothing when the reads along that axis are not one line.
// `along(n, m)` is the coordinate for destination index n of this axis and
// m of the other; it is monotonic in m (a sum and products of doubles and a
// truncation, each monotonic), so agreeing at both ends of m means agreeing
// for every m.
template <class Along>
bool OneLinePerIndex(uint32_t count, uint32_t otherCount, Along along, std::vector<int64_t>& at) {
    at.resize(count);
    for (uint32_t n = 0; n < count; ++n) {
        at[n] = along(n, 0u);
        if (along(n, otherCount - 1) != at[n]) return false;
    }
    return true;
}

// The length of the run of table entries from n on (before end) that step
// by `step` (+1 or -1) and stay within 0 .. limit - 1.
uint32_t RunLength(const std::vector<int64_t>& at, uint32_t n, uint32_t end, int64_t step,
                   int64_t limit) {
    uint32_t e = n + 1;
    while (e < end && at[e] == at[e - 1] + step && at[e] >= 0 && at[e] < limit) ++e;
    return e - n;
}

// The direction in which the table runs on from n: -1 when the next entry
// is one less, else +1.
int64_t StepAt(const std::vector<int64_t>& at, uint32_t n) {
    return n + 1 < at.size() && at[n + 1] == at[n] - 1 ? -1 : 1;
}

// A quarter turn of a 1-bit image by tables: destination row y reads source
// column byRow[y], destination column x reads source row byCol[x]; reads
// from outside the source give the `outside` bit. Up to eight destination
// rows that read neighbouring source columns go together: for every
// destination byte, the eight source rows' bytes at those columns are
// transposed in one word. The destination starts zeroed; bits past the
// tables stay zero.
void TurnBitsByTables(const RasterImage& src, RasterImage& out, const std::vector<int64_t>& byRow,
                      const std::vector<int64_t>& byCol, uint8_t outside) {
    const auto rows = static_cast<uint32_t>(byRow.size());
    const auto cols = static_cast<uint32_t>(byCol.size());
    const uint32_t W = src.GetWidth();
    const int64_t H = src.GetHeight();
    const uint32_t destBytes = (cols + 7) / 8;
    std::vector<const uint8_t*> sourceRows(cols);
    for (uint32_t x = 0; x < cols; ++x)
        sourceRows[x] =
            byCol[x] >= 0 && byCol[x] < H ? src.RowPtr(static_cast<uint32_t>(byCol[x])) : nullptr;
    const uint8_t outsideByte = outside ? 0xFF : 0x00;
    struct Group {
        uint32_t y, count;
        int64_t step, start;  // bit m of the window (from the top) is column start + m
    };
    std::vector<Group> groups;
    for (uint32_t y = 0; y < rows;) {
        if (byRow[y] < 0 || byRow[y] >= static_cast<int64_t>(W)) {
            if (outside)
                for (uint32_t x = 0; x < cols; ++x) px::SetBit(out.RowPtr(y), x, 1);
            ++y;
            continue;
        }
        const int64_t step = StepAt(byRow, y);
        const uint32_t count = std::min(8u, RunLength(byRow, y, rows, step, W));
        groups.push_back(Group{y, count, step, step > 0 ? byRow[y] : byRow[y] - 7});
        y += count;
    }
    // Bands of destination bytes, so the source rows a band reads stay in
    // the cache while every group of destination rows passes over them.
    constexpr uint32_t kBandBytes = 32;
    for (uint32_t band = 0; band < destBytes; band += kBandBytes) {
        const uint32_t bandEnd = std::min(destBytes, band + kBandBytes);
        for (const Group& group : groups) {
            for (uint32_t g = band; g < bandEnd; ++g) {
                uint64_t block = 0;
                for (uint32_t k = 0; k < 8; ++k) {
                    const uint32_t x = 8 * g + k;
                    if (x >= cols) break;
                    const uint8_t b =
                        sourceRows[x] ? BitWindow(sourceRows[x], group.start, W) : outsideByte;
                    block |= static_cast<uint64_t>(b) << (8 * (7 - k));
                }
                if (!block) continue;
                const uint64_t t = Transpose8x8(block);
                for (uint32_t m = 0; m < group.count; ++m) {
                    // Destination row y + m reads window bit m (ascending) or 7 - m.
                    const uint32_t bit = group.step > 0 ? m : 7 - m;
                    out.RowPtr(group.y + m)[g] = static_cast<uint8_t>(t >> (8 * (7 - bit)));
                }
            }
        }
    }
}

// A half or whole turn of a 1-bit image by tables: destination row y is
// source row byRow[y] read along byCol. Runs of columns that step by one
// through the source are copied as bit spans (from the row reversed for a
// descending run); the few columns outside the runs are read one by one.
void CopyBitsByTables(const RasterImage& src, RasterImage& out, const std::vector<int64_t>& byRow,
                      const std::vector<int64_t>& byCol, uint8_t outside) {
    const auto rows = static_cast<uint32_t>(byRow.size());
    const auto cols = static_cast<uint32_t>(byCol.size());
    const uint32_t W = src.GetWidth();
    const uint32_t used = px::UsedRowBytes(W, 1);
    std::vector<uint8_t> reversed(used + 1), span(cols / 8 + 2);
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* d = out.RowPtr(y);
        if (byRow[y] < 0 || byRow[y] >= static_cast<int64_t>(src.GetHeight())) {
            if (outside)
                for (uint32_t x = 0; x < cols; ++x) px::SetBit(d, x, 1);
            continue;
        }
        const uint8_t* s = src.RowPtr(static_cast<uint32_t>(byRow[y]));
        bool reversedReady = false;
        for (uint32_t x = 0; x < cols;) {
            if (byCol[x] < 0 || byCol[x] >= static_cast<int64_t>(W)) {
                if (outside) px::SetBit(d, x, 1);
                ++x;
                continue;
            }
            const int64_t step = StepAt(byCol, x);
            const uint32_t count = RunLength(byCol, x, cols, step, W);
            const auto first = static_cast<uint64_t>(byCol[x]);
            if (step > 0) {
                CopyBitSpan(span.data(), s, first, count);
            } else {
                if (!reversedReady) {
                    for (uint32_t i = 0; i < used; ++i) reversed[i] = ReverseByte(s[used - 1 - i]);
                    reversedReady = true;
                }
                // Source column c sits at bit 8 * used - 1 - c of the reversed row.
                CopyBitSpan(span.data(), reversed.data(), 8ull * used - 1 - first, count);
            }
            OrBitsAt(d, x, span.data(), count);
            x += count;
        }
    }
}

// A quarter, half or whole turn of a 4-, 8- or 24-bit image by tables: in a
// quarter turn destination row y reads source column byRow[y] and column x
// source row byCol[x]; otherwise row y reads source row byRow[y] along
// source columns byCol[x]. Reads from outside the source give what
// GetPixelIndex and GetPixelColor give there. A quarter turn goes in square
// tiles, so the source rows a tile reads stay in the cache.
void TurnPixelsByTables(const RasterImage& src, RasterImage& out, const std::vector<int64_t>& byRow,
                        const std::vector<int64_t>& byCol, bool quarter) {
    const uint32_t bpp = src.GetBpp();
    const int64_t W = src.GetWidth(), H = src.GetHeight();
    const uint8_t outsideIndex = src.GetPixelIndex(-1, -1);
    const RgbQuad outsideColor = src.GetPixelColor(-1, -1);
    const uint8_t outside24[3] = {outsideColor.blue, outsideColor.green, outsideColor.red};
    auto put = [&](uint8_t* d, uint32_t x, const uint8_t* s, int64_t sx) {
        const bool inside = s && sx >= 0 && sx < W;
        if (bpp == 24)
            std::memcpy(d + 3 * static_cast<size_t>(x), inside ? s + 3 * sx : outside24, 3);
        else
            px::SetIndex(d, x, bpp,
                         inside ? px::GetIndex(s, static_cast<uint32_t>(sx), bpp) : outsideIndex);
    };
    auto rowAt = [&](int64_t sy) {
        return sy >= 0 && sy < H ? src.RowPtr(static_cast<uint32_t>(sy)) : nullptr;
    };
    const auto rows = static_cast<uint32_t>(byRow.size());
    const auto cols = static_cast<uint32_t>(byCol.size());
    if (!quarter) {
        for (uint32_t y = 0; y < rows; ++y) {
            const uint8_t* s = rowAt(byRow[y]);
            uint8_t* d = out.RowPtr(y);
            for (uint32_t x = 0; x < cols; ++x) put(d, x, s, byCol[x]);
        }
        return;
    }
    std::vector<const uint8_t*> sourceRows(cols);
    for (uint32_t x = 0; x < cols; ++x) sourceRows[x] = rowAt(byCol[x]);
    constexpr uint32_t kTile = 64;
    for (uint32_t ty = 0; ty < rows; ty += kTile)
        for (uint32_t tx = 0; tx < cols; tx += kTile)
            for (uint32_t y = ty; y < std::min(rows, ty + kTile); ++y) {
                uint8_t* d = out.RowPtr(y);
                for (uint32_t x = tx; x < std::min(cols, tx + kTile); ++x)
                    put(d, x, sourceRows[x], byRow[y]);
            }
}

// A rotation whose source column depends on the destination row alone and
// whose source row depends on the destination column alone (a quarter
// turn), or the source column on the destination column alone and the
// source row on the destination row alone (a half or a whole turn). Angles
// that are multiples of 90 degrees give such maps, whatever rounding cos and
// sin carry; then each source coordinate is worked out once per row or
// column instead of once per pixel, and 1-bit pages move a word or a byte at
// a time. False, with nothing written, for any other angle.
bool TurnExactly(const RasterImage& src, RasterImage& out, const RotationFrame& f) {
    const uint32_t rows = f.rows, cols = f.cols;
    if (rows == 0 || cols == 0) return true;
    const bool bitonal = src.GetBpp() == 1;
    const uint8_t outside = src.GetPixelIndex(-1, -1) & 1;
    std::vector<int64_t> byRow, byCol;
    // The source coordinate along x (or y) of destination pixel (x, y).
    auto along = [&f](bool alongX) {
        return [&f, alongX](uint32_t x, uint32_t y) {
            return alongX ? f.SourceX(x, y) : f.SourceY(x, y);
        };
    };
    auto swapped = [](auto map) { return [map](uint32_t n, uint32_t m) { return map(m, n); }; };
    for (const bool quarter : {true, false}) {
        if (!OneLinePerIndex(rows, cols, swapped(along(quarter)), byRow) ||
            !OneLinePerIndex(cols, rows, along(!quarter), byCol))
            continue;
        if (!bitonal)
            TurnPixelsByTables(src, out, byRow, byCol, quarter);
        else if (quarter)
            TurnBitsByTables(src, out, byRow, byCol, outside);
        else
            CopyBitsByTables(src, out, byRow, byCol, outside);
        return true;
    }
    return false;
}

}  // namespace

bool RasterImage::Rotate(float angle, RasterImage* destination) {
    if (!dib_) return false;
    const double halfPi = std::acos(0.0);
    const double a = (-static_cast<double>(angle) * halfPi) / 90.0;
    const double c = std::cos(a);
    const double s = std::sin(a);

    const double W = GetWidth();
    const double H = GetHeight();
    const double cornersX[4] = {0, W, 0, W};
    const double cornersY[4] = {0, 0, H, H};
    float left = 0, right = 0, top = 0, bottom = 0;
    for (int i = 0; i < 4; ++i) {
        const auto rx = static_cast<float>(cornersX[i] * c - cornersY[i] * s);
        const auto ry = static_cast<float>(cornersX[i] * s + cornersY[i] * c);
        if (i == 0 || rx < left) left = rx;
        if (i == 0 || rx > right) right = rx;
        if (i == 0 || ry < top) top = ry;
        if (i == 0 || ry > bottom) bottom = ry;
    }
    const float fw = std::floor(0.5f + right - left);
    const float fh = std::floor(0.5f + bottom - top);
    if (!(fw >= 1.0f) || !(fh >= 1.0f) || fw > 4294967295.0f || fh > 4294967295.0f) {
        SetLastError("RasterImage::Create : width and height must be greater than zero");
        return false;
    }
    const auto newWidth = static_cast<uint32_t>(fw);
    const auto newHeight = static_cast<uint32_t>(fh);

    RasterImage out;
    out.TakeBookkeeping(*this);
    if (!out.Create(newWidth, newHeight, GetBpp(), info_.type)) {
        SetLastError(out.GetLastError());
        return false;
    }
    out.SetPalette(GetPalette(), GetNumColors() > 256 ? 256 : GetNumColors());
    if (alpha_) {
        if (!out.AlphaCreate()) return false;
        std::memset(out.GetAlphaPlane(), 0, static_cast<size_t>(newWidth) * newHeight);
    }

    const auto y0 = static_cast<int64_t>(top);
    const auto y1 = static_cast<int64_t>(bottom);
    const auto x0 = static_cast<int64_t>(left);
    const auto x1 = static_cast<int64_t>(right);
    const uint32_t rows =
        y1 < y0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(newHeight, y1 - y0 + 1));
    const uint32_t cols =
        x1 < x0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(newWidth, x1 - x0 + 1));
    const RotationFrame frame{x0, y0, rows, cols, c, s};
    // A turn by a multiple of 90 degrees reads the same pixels by tables
    // (TurnExactly); 1-bit pages move bytes and words.
    if (alpha_ || !TurnExactly(*this, out, frame)) RotateByPixel(*this, out, frame);
    return Deliver(*this, out, destination);
}

// ---------------------------------------------------------------------------

namespace {

enum class Turn { kLeft, kRight };

// A quarter turn. Left:  new(x', y') = old(y', H - 1 - x').
//                 Right: new(x', y') = old(W - 1 - y', x').
// Pixels move in 64 x 64 tiles so both images are walked cache-friendly
// (4, 8 and 24 bits; 1-bit pages go through TurnBitonal).
void TurnPixels(const RasterImage& src, RasterImage& dst, Turn turn) {
    const uint32_t W = src.GetWidth();
    const uint32_t H = src.GetHeight();
    const uint32_t nw = dst.GetWidth();   // == H
    const uint32_t nh = dst.GetHeight();  // == W
    const uint32_t bpp = src.GetBpp();
    constexpr uint32_t kTile = 64;
    for (uint32_t ty = 0; ty < nh; ty += kTile) {
        const uint32_t yEnd = ty + kTile < nh ? ty + kTile : nh;
        for (uint32_t tx = 0; tx < nw; tx += kTile) {
            const uint32_t xEnd = tx + kTile < nw ? tx + kTile : nw;
            for (uint32_t y = ty; y < yEnd; ++y) {
                uint8_t* d = dst.RowPtr(y);
                for (uint32_t x = tx; x < xEnd; ++x) {
                    uint32_t sx, sy;
                    if (turn == Turn::kLeft) {
                        sx = y;
                        sy = H - 1 - x;
                    } else {
                        sx = W - 1 - y;
                        sy = x;
                    }
                    const uint8_t* s = src.RowPtr(sy);
                    if (bpp == 24) {
                        std::memcpy(d + 3 * static_cast<size_t>(x), s + 3 * static_cast<size_t>(sx),
                                    3);
                    } else {
                        px::SetIndex(d, x, bpp, px::GetIndex(s, sx, bpp));
                    }
                }
            }
        }
    }
}

// A quarter turn of a 1-bit image: the turn's tables through the word-wise
// kernel. Left: destination row y' reads source column y', column x' source
// row H - 1 - x'. Right: row y' reads column W - 1 - y', column x' row x'.
void TurnBitonal(const RasterImage& src, RasterImage& dst, Turn turn) {
    const uint32_t W = src.GetWidth();
    const uint32_t H = src.GetHeight();
    std::vector<int64_t> byRow(W), byCol(H);
    for (uint32_t y = 0; y < W; ++y) byRow[y] = turn == Turn::kLeft ? y : W - 1 - y;
    for (uint32_t x = 0; x < H; ++x) byCol[x] = turn == Turn::kLeft ? H - 1 - x : x;
    TurnBitsByTables(src, dst, byRow, byCol, 0);
}

void TurnPlane(const uint8_t* src, uint8_t* dst, uint32_t W, uint32_t H, Turn turn) {
    // Planes are unpadded, bottom-up, width * height bytes.
    const uint32_t nw = H;
    const uint32_t nh = W;
    for (uint32_t y = 0; y < nh; ++y) {
        for (uint32_t x = 0; x < nw; ++x) {
            const uint32_t sx = turn == Turn::kLeft ? y : W - 1 - y;
            const uint32_t sy = turn == Turn::kLeft ? H - 1 - x : x;
            dst[static_cast<size_t>(y) * nw + x] = src[static_cast<size_t>(sy) * W + sx];
        }
    }
}

}  // namespace

static bool QuarterTurn(RasterImage& self, RasterImage* destination, Turn turn) {
    if (!self.IsValid()) return false;
    RasterImage out;
    out.TakeBookkeeping(self);
    if (!out.Create(self.GetHeight(), self.GetWidth(), self.GetBpp(), self.GetType())) {
        self.SetLastError(out.GetLastError());
        return false;
    }
    out.SetPalette(self.GetPalette(), self.GetNumColors() > 256 ? 256 : self.GetNumColors());
    if (self.GetBpp() == 1)
        TurnBitonal(self, out, turn);
    else
        TurnPixels(self, out, turn);
    if (self.HasAlpha()) {
        if (!out.AlphaCreate()) return false;
        TurnPlane(self.GetAlphaPlane(), out.GetAlphaPlane(), self.GetWidth(), self.GetHeight(),
                  turn);
    }
    if (self.HasSelection()) {
        if (!out.SelectionCreate()) return false;
        TurnPlane(self.GetSelectionPlane(), out.GetSelectionPlane(), self.GetWidth(),
                  self.GetHeight(), turn);
    }
    return Deliver(self, out, destination);
}

bool RasterImage::RotateLeft(RasterImage* destination) {
    return QuarterTurn(*this, destination, Turn::kLeft);
}

bool RasterImage::RotateRight(RasterImage* destination) {
    return QuarterTurn(*this, destination, Turn::kRight);
}

// ---------------------------------------------------------------------------

bool RasterImage::Mirror(bool mirrorSelection, bool mirrorAlpha) {
    if (!dib_) return false;
    RasterImage out(*this, false, true, true);
    if (!out.IsValid()) return false;
    const uint32_t W = GetWidth();
    const uint32_t H = GetHeight();
    const uint32_t bpp = GetBpp();
    const uint32_t used = px::UsedRowBytes(W, bpp);
    std::vector<uint8_t> reversed(used + 1);
    for (uint32_t y = 0; y < H; ++y) {
        const uint8_t* s = RowPtr(y);
        uint8_t* d = out.RowPtr(y);
        switch (bpp) {
            case 24: {
                const uint8_t* from = s + 3 * static_cast<size_t>(W);
                for (uint32_t x = 0; x < W; ++x, d += 3) {
                    from -= 3;
                    d[0] = from[0];
                    d[1] = from[1];
                    d[2] = from[2];
                }
                break;
            }
            case 8:
                for (uint32_t x = 0; x < W; ++x) d[x] = s[W - 1 - x];
                break;
            case 4:
                for (uint32_t x = 0; x < W; ++x) px::SetNibble(d, x, px::GetNibble(s, W - 1 - x));
                break;
            default: {
                // Reverse the bytes and their bits, then drop the bits that
                // came from the padding at the old row end.
                for (uint32_t i = 0; i < used; ++i) reversed[i] = ReverseByte(s[used - 1 - i]);
                reversed[used] = 0;
                CopyBitSpan(d, reversed.data(), 8ull * used - W, W);
                break;
            }
        }
    }
    auto mirrorPlane = [W, H](uint8_t* plane) {
        for (uint32_t y = 0; y < H; ++y) {
            uint8_t* row = plane + static_cast<size_t>(y) * W;
            for (uint32_t x = 0; x < W / 2; ++x) std::swap(row[x], row[W - 1 - x]);
        }
    };
    if (mirrorSelection && out.GetSelectionPlane()) mirrorPlane(out.GetSelectionPlane());
    if (mirrorAlpha && out.GetAlphaPlane()) mirrorPlane(out.GetAlphaPlane());
    return Transfer(out);
}

// ---------------------------------------------------------------------------

bool RasterImage::Flip(bool flipSelection, bool flipAlpha) {
    if (!dib_) return false;
    const uint32_t H = GetHeight();
    std::vector<uint8_t> buffer;
    buffer.resize(info_.effWidth);
    auto swapRows = [H](uint8_t* base, size_t stride, uint8_t* tmp) {
        for (uint32_t y = 0; y < H / 2; ++y) {
            uint8_t* a = base + static_cast<size_t>(y) * stride;
            uint8_t* b = base + static_cast<size_t>(H - 1 - y) * stride;
            std::memcpy(tmp, a, stride);
            std::memcpy(a, b, stride);
            std::memcpy(b, tmp, stride);
        }
    };
    swapRows(bits_, info_.effWidth, buffer.data());
    const size_t planeStride = GetWidth();
    if (planeStride > buffer.size()) buffer.resize(planeStride);
    if (flipSelection && selection_) swapRows(selection_, planeStride, buffer.data());
    if (flipAlpha && alpha_) swapRows(alpha_, planeStride, buffer.data());
    return true;
}

// ---------------------------------------------------------------------------

bool RasterImage::Crop(int32_t left, int32_t top, int32_t right, int32_t bottom,
                       RasterImage* destination) {
    if (!dib_) return false;
    const int32_t W = head_.biWidth;
    const int32_t H = head_.biHeight;
    auto clamp = [](int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); };
    int32_t x0 = clamp(left, 0, W);
    int32_t x1 = clamp(right, 0, W);
    int32_t y0 = H - clamp(top, 0, H);
    int32_t y1 = H - clamp(bottom, 0, H);
    if (x0 == x1 || y0 == y1) return false;
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);

    const uint32_t bpp = GetBpp();
    RasterImage out(static_cast<uint32_t>(x1 - x0), static_cast<uint32_t>(y1 - y0), bpp,
                    info_.type);
    if (!out.IsValid()) {
        SetLastError(out.GetLastError());
        return false;
    }
    out.SetPalette(GetPalette(), GetNumColors());
    out.SetBackgroundIndex(info_.backgroundIndex);
    out.SetBackgroundColor(info_.backgroundColor);

    const uint64_t spanBits = static_cast<uint64_t>(x1 - x0) * bpp;
    for (int32_t y = y0; y < y1; ++y) {
        const uint8_t* s = RowPtr(static_cast<uint32_t>(y));
        uint8_t* d = out.RowPtr(static_cast<uint32_t>(y - y0));
        if (bpp >= 8) {
            std::memcpy(d, s + static_cast<size_t>(x0) * bpp / 8,
                        static_cast<size_t>(spanBits / 8));
        } else {
            CopyBitSpan(d, s, static_cast<uint64_t>(x0) * bpp, spanBits);
        }
        info_.progress = 100 * (y - y0) / (y1 - y0);
    }

    if (alpha_) {
        if (!out.AlphaCreate()) return false;
        const size_t ow = out.GetWidth();
        for (int32_t y = y0; y < y1; ++y)
            std::memcpy(out.GetAlphaPlane() + static_cast<size_t>(y - y0) * ow,
                        alpha_ + static_cast<size_t>(y) * GetWidth() + x0, ow);
    }
    return Deliver(*this, out, destination);
}

}  // namespace sheetmend
