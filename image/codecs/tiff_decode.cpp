// TIFF decoding: one directory (page) of a file into a RasterImage.
//
// The depth follows the file: bilevel pages stay 1-bit, 4-bit files stay
// 4-bit, other grey and palette files become 8-bit palette images (16-bit
// grey is reduced with a common gain so faint scans keep their contrast),
// palette files of more than 8 bits become 24-bit through their colour map,
// and every colour model libtiff's RGBA reader understands becomes 24-bit
// through it. CIE L*a*b* pages are converted to sRGB here, and so are RGB
// pages of signed or floating-point samples, which the RGBA reader would take
// for unsigned integers. Signed samples are offset so that the most negative
// value is black, floating-point ones clamped to 0..1. Rows arrive top line
// first and are stored bottom-up; the Orientation tag is applied last.
//
// Every size that leads to an allocation is checked first: the image through
// Create's memory limit, libtiff's own buffers through the single-allocation
// limit given when the handle was opened, and the strip, tile and raster
// buffers here against the same limit.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/codecs/tiff_codec.h"
#include "image/pixel_access.h"

namespace sheetmend {

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "libtiff hands multi-byte samples over in host order; the readers below assume "
              "little-endian hosts");

constexpr int kMaxPlanes = 8;

// Linear camera RGB (DNG's LinearRaw); libtiff has no name for it.
constexpr uint16_t kPhotometricLinearRaw = 34892;

// Buffers of a size computed from the file, without exceptions.
struct Buffer {
    std::unique_ptr<uint8_t[]> data;
    bool Allocate(uint64_t size) {
        if (size == 0 || size > kRasterMaxMemory) return false;
        data.reset(new (std::nothrow) uint8_t[size]);
        return data != nullptr;
    }
    uint8_t* get() const { return data.get(); }
};

int32_t TruncateToInt(double v) {
    if (!(v > 0.0)) return v < 0.0 && v > -2147483648.0 ? static_cast<int32_t>(v) : 0;
    if (v >= 2147483647.0) return 2147483647;
    return static_cast<int32_t>(v);
}

int32_t ResolutionToDpi(float value, uint16_t unit) {
    double dpi = value;
    if (unit == RESUNIT_CENTIMETER) dpi = dpi * 2.54 + 0.5;
    return TruncateToInt(dpi);
}

// Reads an n-bit value (n <= 32) at a bit offset of an MSB-first bit stream.
inline uint32_t ReadBits(const uint8_t* row, uint64_t bit, uint32_t n) {
    const uint8_t* p = row + (bit >> 3);
    const uint32_t skip = static_cast<uint32_t>(bit & 7);
    const uint32_t bytes = (skip + n + 7) / 8;
    uint64_t v = 0;
    for (uint32_t i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    v >>= bytes * 8 - skip - n;
    return static_cast<uint32_t>(v & ((n == 32) ? 0xFFFFFFFFull : ((1ull << n) - 1)));
}

// Copies n bits from the start of src to dst at a bit offset, MSB first.
void CopyBits(uint8_t* dst, uint64_t dstBit, const uint8_t* src, uint64_t n) {
    if ((dstBit & 7) == 0 && (n & 7) == 0) {
        std::memcpy(dst + (dstBit >> 3), src, n >> 3);
        return;
    }
    for (uint64_t i = 0; i < n; ++i) {
        const uint8_t b = (src[i >> 3] >> (7 - (i & 7))) & 1;
        const uint64_t d = dstBit + i;
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (d & 7));
        if (b)
            dst[d >> 3] |= mask;
        else
            dst[d >> 3] &= static_cast<uint8_t>(~mask);
    }
}

// IEEE half precision (1 sign, 5 exponent, 10 fraction bits).
double HalfToDouble(uint32_t v) {
    const int exponent = static_cast<int>((v >> 10) & 0x1F);
    const double fraction = v & 0x3FF;
    double magnitude;
    if (exponent == 0)
        magnitude = std::ldexp(fraction, -24);
    else if (exponent == 31)
        magnitude = fraction == 0 ? HUGE_VAL : NAN;
    else
        magnitude = std::ldexp(fraction + 1024.0, exponent - 25);
    return (v & 0x8000) ? -magnitude : magnitude;
}

// The 24-bit floating point of TIFF writers (1 sign, 7 exponent with a bias
// of 63, 16 fraction bits).
double Float24ToDouble(uint32_t v) {
    const int exponent = static_cast<int>((v >> 16) & 0x7F);
    const double fraction = v & 0xFFFF;
    double magnitude;
    if (exponent == 0)
        magnitude = std::ldexp(fraction, -78);
    else if (exponent == 127)
        magnitude = fraction == 0 ? HUGE_VAL : NAN;
    else
        magnitude = std::ldexp(fraction + 65536.0, exponent - 79);
    return (v & 0x800000) ? -magnitude : magnitude;
}

// A floating-point sample (its bits as read) on 0..255: clamped to 0..1,
// scaled and rounded; NaN is black.
uint8_t FloatTo8(uint64_t bits, uint32_t bps) {
    double v;
    switch (bps) {
        case 16:
            v = HalfToDouble(static_cast<uint32_t>(bits));
            break;
        case 24:
            v = Float24ToDouble(static_cast<uint32_t>(bits));
            break;
        case 32: {
            float f;
            const uint32_t b = static_cast<uint32_t>(bits);
            std::memcpy(&f, &b, 4);
            v = f;
            break;
        }
        default:
            std::memcpy(&v, &bits, 8);
            break;
    }
    if (!(v > 0.0)) return 0;
    if (v >= 1.0) return 255;
    return static_cast<uint8_t>(std::floor(v * 255.0 + 0.5));
}

// Where the samples of a row are: one interleaved plane, or one plane per
// sample (PlanarConfiguration 2).
struct RowSamples {
    const uint8_t* plane[kMaxPlanes] = {};
    bool separate = false;
    uint32_t spp = 1;
    uint32_t bps = 1;
    // Signed samples: their sign bit. Adding 2^(n-1) to an n-bit two's
    // complement value is flipping that bit, which maps the most negative
    // value to 0 and the most positive to the largest unsigned one.
    uint64_t signFlip = 0;
    bool isFloat = false;

    // Sample s of pixel x. 16-, 24-, 32- and 64-bit samples come from libtiff
    // in host order; other sizes are an MSB-first bit stream.
    uint64_t Get(uint32_t x, uint32_t s) const {
        const uint8_t* row = separate ? plane[s] : plane[0];
        const uint64_t index = separate ? x : static_cast<uint64_t>(x) * spp + s;
        switch (bps) {
            case 8:
                return row[index];
            case 16: {
                uint16_t v;
                std::memcpy(&v, row + 2 * index, 2);
                return v;
            }
            case 24: {
                const uint8_t* p = row + 3 * index;
                return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
            }
            case 32: {
                uint32_t v;
                std::memcpy(&v, row + 4 * index, 4);
                return v;
            }
            case 64: {
                uint64_t v;
                std::memcpy(&v, row + 8 * index, 8);
                return v;
            }
            default:
                return ReadBits(row, index * bps, bps);
        }
    }
    // Sample s scaled to 8 bits: wider samples keep their top byte, narrower
    // ones are stretched over 0..255.
    uint8_t Get8(uint32_t x, uint32_t s) const {
        const uint32_t v = static_cast<uint32_t>(Get(x, s));
        if (bps >= 8) return static_cast<uint8_t>(v >> (bps - 8));
        return static_cast<uint8_t>(v * 255u / ((1u << bps) - 1));
    }
    // Sample s as an unsigned integer (signed samples offset).
    uint64_t Offset(uint32_t x, uint32_t s) const { return Get(x, s) ^ signFlip; }
    // Sample s on 0..255 whatever its kind: floating point clamped and
    // scaled, integers as Get8 after the signed offset.
    uint8_t Level(uint32_t x, uint32_t s) const {
        if (isFloat) return FloatTo8(Get(x, s), bps);
        const uint64_t v = Offset(x, s);
        if (bps >= 8) return static_cast<uint8_t>(v >> (bps - 8));
        return static_cast<uint8_t>(v * 255u / ((1u << bps) - 1));
    }
    // Grey sample s as an index into the page's grey ramp: samples of up to
    // 8 bits are indices already, wider ones give their level.
    uint8_t GreyIndex(uint32_t x, uint32_t s) const {
        if (bps < 8) return static_cast<uint8_t>(Offset(x, s));
        return Level(x, s);
    }
};

// Hands out the rows of a page in order, top line first, from strips or
// tiles. Contiguous strips are read a scanline at a time (libtiff keeps only
// the compressed strip); separate planes and tiles are read a band of rows at
// a time and reassembled.
class RowReader {
  public:
    enum Result { kRow, kStop, kTileError, kCancelled };

    RowReader(TIFF* tif, RasterImage& image, uint32_t width, uint32_t height, uint32_t spp,
              uint32_t bps, uint32_t planesNeeded)
        : tif_(tif), image_(image), width_(width), height_(height) {
        uint16_t planar = PLANARCONFIG_CONTIG;
        TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
        samples_.separate = planar == PLANARCONFIG_SEPARATE && spp > 1;
        samples_.spp = spp;
        samples_.bps = bps;
        planes_ = samples_.separate ? std::min<uint32_t>(planesNeeded, spp) : 1;
        tiled_ = TIFFIsTiled(tif) != 0;
    }

    // Sizes the buffers; false when the file's layout is unusable.
    bool Prepare() {
        scanline_ = static_cast<uint64_t>(TIFFScanlineSize64(tif_));
        if (scanline_ == 0 || scanline_ > kRasterMaxMemory) return false;
        if (tiled_) {
            uint32_t tw = 0, tl = 0;
            TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tw);
            TIFFGetField(tif_, TIFFTAG_TILELENGTH, &tl);
            if (tw == 0 || tl == 0) return false;
            tileWidth_ = tw;
            bandRows_ = std::min(tl, height_);
            tileSize_ = static_cast<uint64_t>(TIFFTileSize64(tif_));
            tileRowSize_ = static_cast<uint64_t>(TIFFTileRowSize64(tif_));
            if (tileSize_ == 0 || tileRowSize_ == 0 || tileRowSize_ * bandRows_ > tileSize_)
                return false;
            if (!tile_.Allocate(tileSize_)) return false;
        } else {
            uint32_t rps = height_;
            TIFFGetField(tif_, TIFFTAG_ROWSPERSTRIP, &rps);
            if (rps == 0 || rps > height_) rps = height_;
            bandRows_ = rps;
            if (!samples_.separate) {
                if (!line_.Allocate(scanline_)) return false;
                return true;
            }
        }
        const uint64_t band = scanline_ * bandRows_;
        for (uint32_t p = 0; p < planes_; ++p)
            if (!band_[p].Allocate(band)) return false;
        return true;
    }

    bool ScanlineMode() const { return !tiled_ && !samples_.separate; }

    // Reads row r (rows are asked for in order). In scanline mode the row may
    // be decoded straight into `direct`, which must hold a whole scanline.
    Result Next(uint32_t r, uint8_t* direct = nullptr) {
        if (r % bandRows_ == 0 && r > 0 && image_.GetEscape() != 0) return kCancelled;
        if (ScanlineMode()) {
            uint8_t* into = direct ? direct : line_.get();
            if (TIFFReadScanline(tif_, into, r, 0) < 0) return kStop;
            samples_.plane[0] = into;
            return kRow;
        }
        if (r % bandRows_ == 0) {
            const Result loaded = tiled_ ? LoadTileBand(r) : LoadStripBand(r);
            if (loaded != kRow) return loaded;
        }
        if (r >= bandStart_ + bandValidRows_) return kStop;
        const uint64_t offset = static_cast<uint64_t>(r - bandStart_) * scanline_;
        for (uint32_t p = 0; p < planes_; ++p) samples_.plane[p] = band_[p].get() + offset;
        return kRow;
    }

    const RowSamples& samples() const { return samples_; }
    void SetKind(uint64_t signFlip, bool isFloat) {
        samples_.signFlip = signFlip;
        samples_.isFloat = isFloat;
    }
    uint64_t scanline() const { return scanline_; }

  private:
    Result LoadStripBand(uint32_t r) {
        bandStart_ = r;
        bandValidRows_ = 0;
        const uint32_t rows = std::min(bandRows_, height_ - r);
        uint32_t valid = rows;
        for (uint32_t p = 0; p < planes_; ++p) {
            const uint32_t strip = TIFFComputeStrip(tif_, r, static_cast<uint16_t>(p));
            const tmsize_t got = TIFFReadEncodedStrip(tif_, strip, band_[p].get(),
                                                      static_cast<tmsize_t>(rows * scanline_));
            if (got < 0) return kStop;
            valid = std::min<uint32_t>(valid, static_cast<uint32_t>(got / scanline_));
        }
        bandValidRows_ = valid;
        return valid > 0 ? kRow : kStop;
    }

    Result LoadTileBand(uint32_t r) {
        bandStart_ = r;
        bandValidRows_ = 0;
        const uint32_t rows = std::min(bandRows_, height_ - r);
        const uint64_t pixelBits =
            samples_.separate ? samples_.bps : static_cast<uint64_t>(samples_.bps) * samples_.spp;
        for (uint32_t p = 0; p < planes_; ++p) {
            for (uint32_t x = 0; x < width_; x += tileWidth_) {
                const uint32_t tile = TIFFComputeTile(tif_, x, r, 0, static_cast<uint16_t>(p));
                const tmsize_t got =
                    TIFFReadEncodedTile(tif_, tile, tile_.get(), static_cast<tmsize_t>(tileSize_));
                if (got < 0) return kTileError;
                if (static_cast<uint64_t>(got) < tileSize_)
                    std::memset(tile_.get() + got, 0, tileSize_ - static_cast<uint64_t>(got));
                const uint32_t columns = std::min(tileWidth_, width_ - x);
                for (uint32_t i = 0; i < rows; ++i)
                    CopyBits(band_[p].get() + i * scanline_, x * pixelBits,
                             tile_.get() + i * tileRowSize_, columns * pixelBits);
            }
        }
        bandValidRows_ = rows;
        return kRow;
    }

    TIFF* tif_;
    RasterImage& image_;
    uint32_t width_, height_;
    RowSamples samples_;
    uint32_t planes_ = 1;
    bool tiled_ = false;
    uint64_t scanline_ = 0;
    uint32_t bandRows_ = 1;
    uint32_t bandStart_ = 0;
    uint32_t bandValidRows_ = 0;
    uint32_t tileWidth_ = 0;
    uint64_t tileSize_ = 0;
    uint64_t tileRowSize_ = 0;
    Buffer line_;
    Buffer band_[kMaxPlanes];
    Buffer tile_;
};

// CIE L*a*b* (D65 white) to 8-bit sRGB.
void LabToBgr(double L, double a, double b, uint8_t* bgr) {
    const double fy = (L * 100.0 / 255.0 + 16.0) / 116.0;
    const double fx = fy + a / 500.0;
    const double fz = fy - b / 200.0;
    const double X = 0.95047 * fx * fx * fx;
    const double Y = fy * fy * fy;
    const double Z = 1.0883 * fz * fz * fz;
    const double rgb[3] = {3.240479 * X - 1.53715 * Y - 0.498535 * Z,
                           -0.969256 * X + 1.875992 * Y + 0.041556 * Z,
                           0.055648 * X - 0.204043 * Y + 1.057311 * Z};
    uint8_t out[3];
    for (int i = 0; i < 3; ++i) {
        double c = rgb[i];
        c = c > 0.00304 ? 1.055 * std::pow(c, 0.41667) - 0.055 : 12.92 * c;
        c *= 255.0;
        out[i] = c <= 0.0 ? 0 : (c >= 255.0 ? 255 : static_cast<uint8_t>(c));
    }
    bgr[0] = out[2];
    bgr[1] = out[1];
    bgr[2] = out[0];
}

// Leading zero bits of a non-zero byte; 8 for zero.
inline uint32_t LeadingZeros8(uint32_t v) {
    uint32_t n = 0;
    if (v == 0) return 8;
    while (!(v & 0x80u)) {
        v <<= 1;
        ++n;
    }
    return n;
}

// Divides the colours of a row of 24-bit pixels by their alpha again:
// colour x 255 / alpha, rounded and at most 255; colour 0 where alpha is 0.
void Unpremultiply(uint8_t* bgr, const uint8_t* alpha, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x) {
        const uint32_t a = alpha[x];
        if (a == 255) continue;
        uint8_t* p = bgr + 3 * x;
        for (int i = 0; i < 3; ++i) {
            const uint32_t c = a == 0 ? 0 : (p[i] * 255u + a / 2) / a;
            p[i] = static_cast<uint8_t>(c > 255 ? 255 : c);
        }
    }
}

// The sample index of the first extra sample that ExtraSamples marks as
// alpha (associated or unassociated), or -1.
int MarkedAlphaSample(TIFF* tif, uint16_t spp) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) || !kinds || count > spp)
        return -1;
    for (uint16_t i = 0; i < count; ++i)
        if (kinds[i] == EXTRASAMPLE_ASSOCALPHA || kinds[i] == EXTRASAMPLE_UNASSALPHA)
            return spp - count + i;
    return -1;
}

}  // namespace

struct TiffImage::SampleLayout {
    enum class Model { kGrey, kPalette, kLab, kRgb };
    Model model = Model::kGrey;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t bps = 1;
    uint16_t spp = 1;
    // SampleFormat as it applies to the page: grey and RGB pages of more than
    // one bit honour it, palette indices and L*a*b* samples do not.
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    // The sample that becomes the alpha plane, or -1.
    int alphaSample = -1;
};

bool TiffImage::DecodePage(TIFF* tif) {
    const tdir_t directories = TIFFNumberOfDirectories(tif);
    info_.numFrames = directories > INT32_MAX ? INT32_MAX : static_cast<int32_t>(directories);
    const int32_t frame = info_.frame;
    if (frame < 0 || frame >= info_.numFrames ||
        (frame != 0 && !TIFFSetDirectory(tif, static_cast<tdir_t>(frame))))
        return Fail("Error: page not present in TIFF file");

    uint32_t width = 0, height = 0, rowsPerStrip = 0xFFFFFFFFu;
    uint16_t spp = 1, bps = 1, photometric = 0, orientation = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation);

    if (info_.escape == -1) {
        head_.biWidth = static_cast<int32_t>(width);
        head_.biHeight = static_cast<int32_t>(height);
        info_.type = kFormatTiff;
        SetLastError("output dimensions returned");
        return true;
    }

    uint16_t unit = RESUNIT_INCH;
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    float value = 0.0f;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &value)) SetXDpi(ResolutionToDpi(value, unit));
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &value)) SetYDpi(ResolutionToDpi(value, unit));
    if (TIFFGetField(tif, TIFFTAG_XPOSITION, &value)) info_.xOffset = TruncateToInt(value);
    if (TIFFGetField(tif, TIFFTAG_YPOSITION, &value)) info_.yOffset = TruncateToInt(value);
    if (rowsPerStrip > height) rowsPerStrip = height;

    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    const bool numeric = sampleFormat == SAMPLEFORMAT_INT || sampleFormat == SAMPLEFORMAT_IEEEFP;
    // RGB pages of signed or floating-point samples are read here: the RGBA
    // reader would take their samples for unsigned integers. So are linear
    // camera RGB pages, which it does not take at all.
    const bool ownRgb = spp >= 3 && ((photometric == PHOTOMETRIC_RGB && numeric) ||
                                     photometric == kPhotometricLinearRaw);
    const bool viaRgba =
        !ownRgb && (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_SEPARATED ||
                    photometric == PHOTOMETRIC_YCBCR || photometric == PHOTOMETRIC_LOGL ||
                    photometric == PHOTOMETRIC_LOGLUV);
    // Only the L*a*b* models convert three samples into a colour; a grey or
    // palette page with extra samples shows its first sample.
    const bool lab = !viaRgba && !ownRgb && spp >= 3 &&
                     (photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB ||
                      photometric == PHOTOMETRIC_ITULAB);

    SampleLayout layout;
    layout.photometric = photometric;
    layout.bps = bps;
    layout.spp = spp;
    layout.model = ownRgb                               ? SampleLayout::Model::kRgb
                   : lab                                ? SampleLayout::Model::kLab
                   : photometric == PHOTOMETRIC_PALETTE ? SampleLayout::Model::kPalette
                                                        : SampleLayout::Model::kGrey;
    const bool honoursFormat =
        !viaRgba && bps > 1 && (layout.model == SampleLayout::Model::kGrey || ownRgb);
    if (honoursFormat && numeric) layout.sampleFormat = sampleFormat;
    if (layout.sampleFormat == SAMPLEFORMAT_IEEEFP && bps != 16 && bps != 24 && bps != 32 &&
        bps != 64)
        return Fail("Unsupported TIFF floating-point sample size");

    uint32_t depth;
    if (viaRgba || lab || ownRgb) {
        depth = 24;
    } else if (bps == 1 &&
               (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK ||
                photometric == PHOTOMETRIC_PALETTE)) {
        depth = 1;
    } else if (bps == 4) {
        depth = 4;
    } else if (photometric == PHOTOMETRIC_PALETTE && bps > 8) {
        depth = 24;
    } else {
        depth = 8;
    }
    // 64-bit samples are taken on grey and RGB pages, whose samples are
    // reduced to 8 bits anyway.
    if (!viaRgba && (bps == 0 || (bps > 32 && !(bps == 64 && honoursFormat))))
        return Fail("Unsupported TIFF bits per sample");

    // The alpha plane: the fourth sample of RGB-like and L*a*b* pages (in
    // CMYK it is black ink), the second of 8-bit two-sample pages, and on
    // grey and palette pages with more samples the one ExtraSamples marks.
    if (viaRgba) {
        layout.alphaSample =
            (spp == 4 && photometric != PHOTOMETRIC_SEPARATED) || (spp == 2 && bps == 8) ? 3 : -1;
    } else if (spp == 2) {
        layout.alphaSample = bps == 8 ? 1 : -1;
    } else if (lab || ownRgb) {
        layout.alphaSample = spp == 4 ? 3 : -1;
    } else if (spp >= 3) {
        layout.alphaSample = MarkedAlphaSample(tif, spp);
        if (layout.alphaSample < 1 || layout.alphaSample >= kMaxPlanes) layout.alphaSample = -1;
    }

    if (info_.escape != 0) return Fail("Cancelled");
    if (!Create(width, height, depth, kFormatTiff)) return Fail("TiffImage can't create image");
    if (layout.alphaSample >= 0 && !AlphaCreate()) return Fail("TiffImage can't create image");

    uint16_t compression = COMPRESSION_NONE;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    SetCodecOption(compression, kFormatTiff);

    const bool tiled = TIFFIsTiled(tif) != 0;
    const bool ok = viaRgba ? ReadRgba(tif, tiled) : ReadSamples(tif, tiled, layout);
    if (!ok) return false;
    return ApplyOrientation(orientation);
}

bool TiffImage::ReadRgba(TIFF* tif, bool tiled) {
    char message[1024] = "";
    TIFFRGBAImage reader;
    if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&reader, tif, 0, message))
        return Fail("Corrupted TIFF file!");
    // The reader hands over rows as stored, top line first; the orientation
    // is applied afterwards as for every other kind of page.
    reader.orientation = ORIENTATION_TOPLEFT;
    reader.req_orientation = ORIENTATION_TOPLEFT;

    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();
    // Whole strips or rows of tiles at a time, so none is decoded twice.
    uint32_t unit = height;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    } else {
        TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    }
    if (unit == 0 || unit > height) unit = height;
    uint32_t chunk = unit;
    if (chunk < 64) chunk = std::min<uint32_t>(height, unit * ((64 + unit - 1) / unit));

    const uint64_t rasterBytes = static_cast<uint64_t>(width) * chunk * 4;
    std::unique_ptr<uint32_t[]> raster;
    if (rasterBytes <= kRasterMaxMemory)
        raster.reset(new (std::nothrow) uint32_t[static_cast<size_t>(width) * chunk]);
    if (!raster) {
        TIFFRGBAImageEnd(&reader);
        return Fail("No space for raster buffer");
    }
    uint8_t* alpha = GetAlphaPlane();
    // The reader multiplies the colours of unassociated alpha by the alpha;
    // the image keeps alpha as a plane of its own, so that is undone.
    const bool unassociated = alpha && reader.alpha == EXTRASAMPLE_UNASSALPHA;
    for (uint32_t r0 = 0; r0 < height; r0 += chunk) {
        if (r0 > 0 && info_.escape != 0) {
            TIFFRGBAImageEnd(&reader);
            return Fail("Cancelled");
        }
        const uint32_t rows = std::min(chunk, height - r0);
        reader.row_offset = static_cast<int>(r0);
        reader.col_offset = 0;
        if (!TIFFRGBAImageGet(&reader, raster.get(), width, rows)) {
            TIFFRGBAImageEnd(&reader);
            return Fail("Corrupted TIFF file!");
        }
        for (uint32_t i = 0; i < rows; ++i) {
            const uint32_t y = height - 1 - (r0 + i);
            const uint32_t* src = raster.get() + static_cast<size_t>(i) * width;
            uint8_t* dst = RowPtr(y);
            for (uint32_t x = 0; x < width; ++x) {
                dst[3 * x] = static_cast<uint8_t>(TIFFGetB(src[x]));
                dst[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(src[x]));
                dst[3 * x + 2] = static_cast<uint8_t>(TIFFGetR(src[x]));
            }
            if (alpha) {
                uint8_t* a = alpha + static_cast<size_t>(y) * width;
                for (uint32_t x = 0; x < width; ++x) a[x] = static_cast<uint8_t>(TIFFGetA(src[x]));
                if (unassociated) Unpremultiply(dst, a, width);
            }
        }
    }
    TIFFRGBAImageEnd(&reader);
    return true;
}

bool TiffImage::ReadSamples(TIFF* tif, bool tiled, const SampleLayout& layout) {
    const uint16_t photometric = layout.photometric;
    const uint16_t bps = layout.bps;
    const uint16_t spp = layout.spp;
    const bool lab = layout.model == SampleLayout::Model::kLab;
    const bool rgb = layout.model == SampleLayout::Model::kRgb;
    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();
    const uint32_t depth = GetBpp();
    const bool palette24 = !lab && !rgb && depth == 24;  // palette file of more than 8 bits

    // The palette: grey ramps for grey files (inverted for min-is-white), the
    // colour map for palette files.
    if (photometric == PHOTOMETRIC_PALETTE && bps > 24) return Fail("Too big palette to handle");
    const uint32_t levels = bps >= 32 ? 0 : (1u << bps);  // 0 stands for 2^32
    std::unique_ptr<RgbQuad[]> lookup;                    // palette files of more than 8 bits
    if (!lab && !rgb) {
        RgbQuad entries[256] = {};
        const uint32_t used = (bps >= 8) ? 256 : levels;
        if (photometric == PHOTOMETRIC_PALETTE) {
            uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
            const uint32_t mapSize = levels;
            if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) && red && green && blue) {
                // Maps are meant to hold 16-bit values, but some writers put
                // 8-bit values there.
                bool wide = false;
                const uint32_t probe = std::min<uint32_t>(mapSize, 256);
                for (uint32_t k = 0; k < probe && !wide; ++k)
                    wide = red[k] > 255 || green[k] > 255 || blue[k] > 255;
                auto scale = [wide](uint16_t v) {
                    return static_cast<uint8_t>(wide ? v * 255u / 65535u : v);
                };
                if (palette24) {
                    lookup.reset(new (std::nothrow) RgbQuad[mapSize]);
                    if (!lookup) return Fail("Unable to allocate TIFF palette");
                    for (uint32_t k = 0; k < mapSize; ++k)
                        lookup[k] = RgbQuad{scale(blue[k]), scale(green[k]), scale(red[k]), 0};
                } else {
                    for (uint32_t k = 0; k < used && k < mapSize; ++k)
                        entries[k] = RgbQuad{scale(blue[k]), scale(green[k]), scale(red[k]), 0};
                }
            } else if (palette24) {
                lookup.reset(new (std::nothrow) RgbQuad[mapSize]());
                if (!lookup) return Fail("Unable to allocate TIFF palette");
            }
        } else {
            // Samples wider than 8 bits are reduced to 8 bits below, so their
            // ramp is the 8-bit one.
            const uint32_t rampBits = bps > 8 ? 8 : bps;
            const uint32_t step = 255u / ((1u << rampBits) - 1);
            for (uint32_t k = 0; k < used; ++k) {
                uint8_t v = static_cast<uint8_t>(k * step);
                if (photometric == PHOTOMETRIC_MINISWHITE) v = static_cast<uint8_t>(~v);
                entries[k] = RgbQuad{v, v, v, 0};
            }
        }
        if (!palette24) SetPalette(entries, 256);
    }

    const uint32_t planesNeeded =
        std::max<uint32_t>(lab ? 4 : (rgb ? 3 : 2), static_cast<uint32_t>(layout.alphaSample + 1));
    RowReader reader(tif, *this, width, height, spp, bps, planesNeeded);
    if (!reader.Prepare()) {
        return Fail(tiled ? "Corrupted tiled TIFF file!" : "Corrupted TIFF file!");
    }
    const bool isSigned = layout.sampleFormat == SAMPLEFORMAT_INT;
    const bool isFloat = layout.sampleFormat == SAMPLEFORMAT_IEEEFP;
    reader.SetKind(isSigned ? (bps >= 64 ? 1ull << 63 : 1ull << (bps - 1)) : 0, isFloat);
    // The signed offset of whole bytes of 8- or 4-bit samples copied as they are.
    const uint8_t byteFlip = !isSigned ? 0 : (bps == 8 ? 0x80 : (bps == 4 ? 0x88 : 0));

    // Which conversion the rows need.
    const uint32_t used = px::UsedRowBytes(width, depth);
    const uint8_t lastMask = px::LastByteMask(width, depth);
    const bool sameLayout = spp == 1 && bps == depth && depth <= 8;
    const bool direct = sameLayout && reader.ScanlineMode() && reader.scanline() == used;
    const bool gain16 =
        depth == 8 && bps == 16 && !isFloat && !rgb &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
    uint8_t* alpha = GetAlphaPlane();
    std::vector<uint8_t> rowShift;
    if (gain16) rowShift.assign(height, 0xFF);  // 0xFF: row not read

    for (uint32_t r = 0; r < height; ++r) {
        const uint32_t y = height - 1 - r;
        uint8_t* dst = RowPtr(y);
        const RowReader::Result got = reader.Next(r, direct ? dst : nullptr);
        if (got == RowReader::kCancelled) return Fail("Cancelled");
        if (got == RowReader::kTileError) return Fail("Corrupted tiled TIFF file!");
        if (got == RowReader::kStop) break;  // a damaged strip ends the page silently
        const RowSamples& s = reader.samples();
        uint8_t* a = alpha ? alpha + static_cast<size_t>(y) * width : nullptr;
        // The L*a*b* and interleaved grey-and-alpha conversions fill the
        // alpha row themselves; every other one leaves it to the end.
        bool alphaDone = a == nullptr;

        if (sameLayout) {
            if (!direct) std::memcpy(dst, s.plane[0], used);
            if (byteFlip)
                for (uint32_t i = 0; i < used; ++i) dst[i] ^= byteFlip;
            dst[used - 1] &= lastMask;
        } else if (rgb) {
            for (uint32_t x = 0; x < width; ++x) {
                dst[3 * x] = s.Level(x, 2);
                dst[3 * x + 1] = s.Level(x, 1);
                dst[3 * x + 2] = s.Level(x, 0);
            }
        } else if (lab) {
            const bool icc = photometric == PHOTOMETRIC_ICCLAB;
            for (uint32_t x = 0; x < width; ++x) {
                const double L = s.Get8(x, 0);
                uint8_t a8 = s.Get8(x, 1), b8 = s.Get8(x, 2);
                const double av = icc ? a8 - 128.0 : static_cast<int8_t>(a8);
                const double bv = icc ? b8 - 128.0 : static_cast<int8_t>(b8);
                LabToBgr(L, av, bv, dst + 3 * x);
                if (a && spp >= 4) a[x] = s.Get8(x, 3);
            }
            alphaDone = true;
        } else if (palette24) {
            for (uint32_t x = 0; x < width; ++x) {
                const RgbQuad c = lookup[s.Get(x, 0)];
                dst[3 * x] = c.blue;
                dst[3 * x + 1] = c.green;
                dst[3 * x + 2] = c.red;
            }
        } else if (gain16) {
            // Each row is stretched so its largest high byte uses bit 7;
            // afterwards all rows are brought to the smallest of these
            // shifts, one gain for the whole page.
            uint32_t top = 0;
            for (uint32_t x = 0; x < width; ++x)
                top = std::max(top, static_cast<uint32_t>(s.Offset(x, 0) >> 8));
            const uint32_t shift = LeadingZeros8(top);
            for (uint32_t x = 0; x < width; ++x)
                dst[x] = static_cast<uint8_t>(((s.Offset(x, 0) << shift) >> 8) & 0xFF);
            rowShift[y] = static_cast<uint8_t>(shift);
        } else if (depth == 8) {
            if (bps == 8 && spp == 2 && !s.separate && !isSigned) {
                const uint8_t* p = s.plane[0];
                for (uint32_t x = 0; x < width; ++x) dst[x] = p[2 * x];
                if (a)
                    for (uint32_t x = 0; x < width; ++x) a[x] = p[2 * x + 1];
                alphaDone = true;
            } else {
                for (uint32_t x = 0; x < width; ++x) dst[x] = s.GreyIndex(x, 0);
            }
        } else {
            // 1 or 4 bits taken from a page with more samples per pixel.
            const uint8_t mask = depth == 1 ? 1 : 15;
            std::memset(dst, 0, used);
            for (uint32_t x = 0; x < width; ++x)
                px::SetIndex(dst, x, depth, static_cast<uint8_t>(s.Offset(x, 0) & mask));
        }
        if (!alphaDone)
            for (uint32_t x = 0; x < width; ++x) a[x] = s.Level(x, layout.alphaSample);
    }

    if (gain16) {
        uint32_t least = 8;
        for (uint8_t shift : rowShift)
            if (shift != 0xFF) least = std::min<uint32_t>(least, shift);
        for (uint32_t y = 0; y < height; ++y) {
            if (rowShift[y] == 0xFF || rowShift[y] == least) continue;
            const uint32_t extra = rowShift[y] - least;
            uint8_t* row = RowPtr(y);
            for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(row[x] >> extra);
        }
    }
    return true;
}

bool TiffImage::ApplyOrientation(uint16_t orientation) {
    bool ok = true;
    switch (orientation) {
        case ORIENTATION_TOPRIGHT:
            ok = Mirror(false, true);
            break;
        case ORIENTATION_BOTRIGHT:
            ok = Flip(false, true) && Mirror(false, true);
            break;
        case ORIENTATION_BOTLEFT:
            ok = Flip(false, true);
            break;
        case ORIENTATION_LEFTTOP:
            ok = RotateRight() && Mirror(false, true);
            break;
        case ORIENTATION_RIGHTTOP:
            ok = RotateRight();
            break;
        case ORIENTATION_RIGHTBOT:
            ok = RotateLeft() && Mirror(false, true);
            break;
        case ORIENTATION_LEFTBOT:
            ok = RotateLeft();
            break;
        default:
            break;
    }
    if (!ok) return Fail("TiffImage can't create image");
    return true;
}

}  // namespace sheetmend
