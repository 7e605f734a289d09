// Small-angle rotation of a one-bit page.
//
// Every ink pixel (x, y) is sent forward to
//   x' = x cos t - y sin t + (W - W cos t + H sin t) / 2
//   y' = x sin t + y cos t + (H - H cos t - W sin t) / 2
// with W the padded row width, so the middle of the padded page stays put.
// The factors are taken to 16.16 fixed point (truncated towards zero) and
// each coordinate drops its fraction bits. Along a source run, y' changes
// only every 1/|sin t| pixels and x' advances by 0 or 1 per pixel (cos t is
// below 1), so each stretch of the run with one y' lands as one unbroken run
// of the destination row: runs are moved, not pixels.
#include <cmath>
#include <new>
#include <vector>

#include "pipeline/bit_rows.h"
#include "pipeline/clean_page.h"

namespace sheetmend {

namespace {

using bit_rows::FillBits;
using bit_rows::NextClearBit;
using bit_rows::NextSetBit;

constexpr double kSmallestAngle = 0.0001;
constexpr double kLargestAngle = 0.05;
constexpr double kOne = 65536.0;

int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

RotationMap::RotationMap(double angle, int32_t paddedWidth, int32_t height) {
    const double c = std::cos(angle), s = std::sin(angle);
    const double w = paddedWidth, h = height;
    cos16 = static_cast<int64_t>(c * kOne);
    sin16 = static_cast<int64_t>(s * kOne);
    offsetX = static_cast<int64_t>((w - w * c + h * s) / 2 * kOne);
    offsetY = static_cast<int64_t>((h - h * c - w * s) / 2 * kOne);
}

void RotatePage(PageBitmap& bitmap, double angle) {
    const double magnitude = std::fabs(angle);
    if (!(magnitude >= kSmallestAngle && magnitude <= kLargestAngle)) return;
    const int32_t width = bitmap.width, height = bitmap.height;
    const auto rowBytes = static_cast<int32_t>(bitmap.RowBytes());
    const size_t size = static_cast<size_t>(rowBytes) * static_cast<size_t>(height);
    if (width == 0 || height == 0 || bitmap.bits.size() < size) return;
    std::vector<uint8_t> out;
    try {
        out.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    const RotationMap map(angle, PaddedRowBits(bitmap), height);
    const int64_t sinAbs = map.sin16 < 0 ? -map.sin16 : map.sin16;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = bitmap.Row(static_cast<uint32_t>(y));
        const int64_t kx = -y * map.sin16 + map.offsetX;  // x' = (x cos16 + kx) >> 16
        const int64_t ky = y * map.cos16 + map.offsetY;   // y' = (x sin16 + ky) >> 16
        for (int32_t a = NextSetBit(row, 0, width - 1); a >= 0;) {
            const int32_t b = NextClearBit(row, a, width) - 1;
            for (int32_t x = a; x <= b;) {
                const int64_t ty = (x * map.sin16 + ky) >> 16;
                // The last column of the run that still lands on row ty.
                int64_t next;
                if (map.sin16 > 0)
                    next = -FloorDiv(-((ty + 1) * 65536 - ky), sinAbs);  // ceiling
                else
                    next = FloorDiv(ky - ty * 65536, sinAbs) + 1;
                const int32_t e = next - 1 < b ? static_cast<int32_t>(next - 1) : b;
                if (ty >= 0 && ty < height) {
                    int64_t tx0 = (x * map.cos16 + kx) >> 16;
                    int64_t tx1 = (e * map.cos16 + kx) >> 16;
                    if (tx0 < 0) tx0 = 0;
                    if (tx1 > width - 1) tx1 = width - 1;
                    if (tx0 <= tx1)
                        FillBits(out.data() + static_cast<size_t>(ty) * rowBytes,
                                 static_cast<int32_t>(tx0), static_cast<int32_t>(tx1), true);
                }
                x = e + 1;
            }
            a = b + 1 < width ? NextSetBit(row, b + 1, width - 1) : -1;
        }
    }
    bitmap.bits.swap(out);
}

}  // namespace sheetmend
