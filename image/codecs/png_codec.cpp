// PNG files through libpng.
//
// Reading maps every colour type onto the image's depths: palette files keep
// their palette (2-bit files widen to 4 bits), grey files become palette
// images with a grey ramp (1 bit: black and white, 2 and 4 bits: the 16-entry
// ramp, 8 and 16 bits: the 256-entry identity ramp), colour files 24 bits;
// 16-bit samples are rounded to the nearest 8-bit value; an alpha channel
// goes to the alpha plane. A single transparent palette entry or grey level becomes
// `backgroundIndex`; transparency that one index cannot express (several
// transparent entries, partial alpha, a transparent colour in an RGB file)
// goes to the alpha plane instead, so nothing of it is lost.
//
// libpng reports errors by longjmp. The jump target is set inside the two
// Run functions below, which keep all their state in members (nothing with a
// destructor lives between setjmp and a jump), and every message libpng
// produces is captured, never printed. libpng's own memory is bounded, and
// the chunks we do not use are skipped unread.
#include "image/codecs/png_codec.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/pixel_access.h"
#include "image/streams.h"

namespace sheetmend {

namespace {

// What libpng may hold at once besides the image (row buffers, zlib state,
// chunk data): width is limited to a million pixels by libpng, so even
// 16-bit RGBA rows stay far below this.
constexpr size_t kLibraryMemory = size_t{128} << 20;

// Shared by reader and writer: error text, stream, memory accounting.
struct PngContext {
    ByteStream* stream = nullptr;
    char message[200] = {};
    size_t used = 0;
};

[[noreturn]] void OnError(png_structp png, png_const_charp text) {
    auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
    if (ctx && ctx->message[0] == '\0')
        std::snprintf(ctx->message, sizeof ctx->message, "%s", text ? text : "unknown error");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

constexpr size_t kHeader = 16;  // keeps the returned blocks 16-byte aligned

png_voidp Allocate(png_structp png, png_alloc_size_t size) {
    auto* ctx = static_cast<PngContext*>(png_get_mem_ptr(png));
    if (!ctx || size > kLibraryMemory - ctx->used) return nullptr;
    auto* block = static_cast<uint8_t*>(std::malloc(size + kHeader));
    if (!block) return nullptr;
    std::memcpy(block, &size, sizeof size);
    ctx->used += size;
    return block + kHeader;
}

void Release(png_structp png, png_voidp p) {
    if (!p) return;
    auto* ctx = static_cast<PngContext*>(png_get_mem_ptr(png));
    uint8_t* block = static_cast<uint8_t*>(p) - kHeader;
    png_alloc_size_t size;
    std::memcpy(&size, block, sizeof size);
    if (ctx) ctx->used -= size;
    std::free(block);
}

void ReadData(png_structp png, png_bytep data, size_t length) {
    auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
    if (ctx->stream->Read(data, 1, length) != length) png_error(png, "file is truncated");
}

void WriteData(png_structp png, png_bytep data, size_t length) {
    auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
    if (ctx->stream->Write(data, 1, length) != length) png_error(png, "write failed");
}

void FlushData(png_structp png) {
    auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
    ctx->stream->Flush();
}

int32_t DpiFromPelsPerMeter(png_uint_32 ppm) {
    return static_cast<int32_t>(static_cast<double>(ppm) * 0.0254 + 0.5);
}

// ---------------------------------------------------------------------------
// reading

class PngReader {
  public:
    PngReader(RasterImage& image, ByteStream* stream) : img_(image) { ctx_.stream = stream; }
    ~PngReader() {
        if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
    }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    bool Run();

  private:
    // How a row that libpng delivers reaches the image.
    enum class Rows {
        kDirect,    // already the image's layout (1, 4, 8-bit indices; 8-bit BGR)
        kTwoBit,    // one byte per 2-bit sample, stored as 4-bit nibbles
        kChannels,  // grey, grey+alpha, BGR or BGRA samples of 8 or 16 bits
    };
    bool Fail(const char* text) {
        char message[256];
        std::snprintf(message, sizeof message, "PNG: %s", text);
        img_.SetLastError(message);
        return false;
    }
    bool Setup();
    void Prefill(uint32_t y);
    void Deliver(uint32_t y);
    void AlphaFromPalette();

    RasterImage& img_;
    PngContext ctx_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;

    png_uint_32 width_ = 0, height_ = 0;
    int bitDepth_ = 0, colorType_ = 0, interlace_ = 0;
    Rows rows_ = Rows::kDirect;
    uint32_t bpp_ = 0;
    uint32_t channels_ = 1;    // kChannels: 1 grey, 2 grey+alpha, 3 BGR, 4 BGRA
    bool wide_ = false;        // kChannels: 16-bit samples
    uint8_t twoBitScale_ = 1;  // 5 for grey: 2-bit level v is ramp entry 5v
    bool paletteAlpha_ = false;
    uint8_t alphaOf_[256];
    std::vector<uint8_t> row_;
};

// 16-bit samples are reduced with exact rounding: round(v / 257).
inline uint8_t Narrow(const uint8_t* sample) {
    const uint32_t v = (static_cast<uint32_t>(sample[0]) << 8) | sample[1];
    return static_cast<uint8_t>((v + 128) / 257);
}

bool PngReader::Setup() {
    png_get_IHDR(png_, info_, &width_, &height_, &bitDepth_, &colorType_, &interlace_, nullptr,
                 nullptr);
    png_bytep transAlpha = nullptr;
    int numTrans = 0;
    png_color_16p transColor = nullptr;
    const bool hasTrns = png_get_tRNS(png_, info_, &transAlpha, &numTrans, &transColor) != 0;

    wide_ = bitDepth_ == 16;
    switch (colorType_) {
        case PNG_COLOR_TYPE_PALETTE:
        case PNG_COLOR_TYPE_GRAY:
            if (colorType_ == PNG_COLOR_TYPE_GRAY && wide_) {
                rows_ = Rows::kChannels;
                channels_ = 1;
                bpp_ = 8;
                if (hasTrns) {
                    // Many 16-bit levels share one 8-bit level: keep the
                    // transparency exact as alpha.
                    png_set_tRNS_to_alpha(png_);
                    channels_ = 2;
                }
                break;
            }
            bpp_ = bitDepth_ == 2 ? 4 : static_cast<uint32_t>(bitDepth_);
            if (bitDepth_ == 2) {
                png_set_packing(png_);
                rows_ = Rows::kTwoBit;
                twoBitScale_ = colorType_ == PNG_COLOR_TYPE_GRAY ? 5 : 1;
            }
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            rows_ = Rows::kChannels;
            channels_ = 2;
            bpp_ = 8;
            break;
        case PNG_COLOR_TYPE_RGB:
            png_set_bgr(png_);
            bpp_ = 24;
            if (hasTrns) {
                png_set_tRNS_to_alpha(png_);
                rows_ = Rows::kChannels;
                channels_ = 4;
            } else if (wide_) {
                rows_ = Rows::kChannels;
                channels_ = 3;
            }
            break;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            png_set_bgr(png_);
            rows_ = Rows::kChannels;
            channels_ = 4;
            bpp_ = 24;
            break;
        default:
            return Fail("unknown colour type");
    }
    png_set_interlace_handling(png_);
    png_read_update_info(png_, info_);

    // The row libpng will hand over must be exactly what we prepared for.
    size_t expected = 0;
    switch (rows_) {
        case Rows::kDirect:
            expected = px::UsedRowBytes(width_, bpp_);
            break;
        case Rows::kTwoBit:
            expected = width_;
            break;
        case Rows::kChannels:
            expected = static_cast<size_t>(width_) * channels_ * (wide_ ? 2 : 1);
            break;
    }
    if (png_get_rowbytes(png_, info_) != expected) return Fail("unexpected row layout");

    if (!img_.Create(width_, height_, bpp_, kFormatPng)) return false;
    if (rows_ != Rows::kDirect) row_.assign(expected, 0);
    const bool alpha = rows_ == Rows::kChannels && (channels_ == 2 || channels_ == 4);
    if (alpha && !img_.AlphaCreate()) return Fail("can't allocate memory");

    if (colorType_ == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        if (png_get_PLTE(png_, info_, &palette, &count) && palette) {
            for (int i = 0; i < count && i < 256; ++i)
                img_.SetPaletteColor(static_cast<uint8_t>(i), palette[i].red, palette[i].green,
                                     palette[i].blue);
        }
        if (hasTrns && transAlpha) {
            std::memset(alphaOf_, 255, sizeof alphaOf_);
            int transparent = -1, zeros = 0;
            bool partial = false;
            for (int i = 0; i < numTrans && i < 256; ++i) {
                alphaOf_[i] = transAlpha[i];
                if (transAlpha[i] == 0) {
                    if (transparent < 0) transparent = i;
                    ++zeros;
                } else if (transAlpha[i] != 255) {
                    partial = true;
                }
            }
            if (transparent >= 0) img_.SetBackgroundIndex(transparent);
            paletteAlpha_ = partial || zeros > 1;
        }
    } else if (colorType_ == PNG_COLOR_TYPE_GRAY || colorType_ == PNG_COLOR_TYPE_GRAY_ALPHA) {
        img_.SetGrayPalette();
        if (hasTrns && transColor && colorType_ == PNG_COLOR_TYPE_GRAY && bitDepth_ <= 8) {
            const int level = transColor->gray & ((1 << bitDepth_) - 1);
            img_.SetBackgroundIndex(bitDepth_ == 2 ? level * 5 : level);
        }
    }

    png_uint_32 xPpm = 0, yPpm = 0;
    int unit = 0;
    if (png_get_pHYs(png_, info_, &xPpm, &yPpm, &unit) && unit == PNG_RESOLUTION_METER) {
        img_.SetXDpi(DpiFromPelsPerMeter(xPpm));
        img_.SetYDpi(DpiFromPelsPerMeter(yPpm));
    }
    return true;
}

// An interlaced file refines each row over several passes: libpng adds the
// new pass's pixels to the row it is given, so the row must hold what the
// earlier passes delivered (8-bit values widen back exactly: v * 257).
void PngReader::Prefill(uint32_t y) {
    const uint8_t* src = img_.RowPtr(y);
    const uint8_t* alpha =
        img_.HasAlpha() ? img_.GetAlphaPlane() + static_cast<size_t>(y) * width_ : nullptr;
    uint8_t* out = row_.data();
    switch (rows_) {
        case Rows::kDirect:
            break;
        case Rows::kTwoBit:
            for (uint32_t x = 0; x < width_; ++x)
                out[x] = static_cast<uint8_t>(px::GetNibble(src, x) / twoBitScale_);
            break;
        case Rows::kChannels: {
            const uint32_t colours = channels_ >= 3 ? 3 : 1;
            const uint32_t step = wide_ ? 2 : 1;
            for (uint32_t x = 0; x < width_; ++x) {
                uint8_t values[4];
                for (uint32_t c = 0; c < colours; ++c) values[c] = src[colours * x + c];
                if (colours < channels_) values[colours] = alpha[x];
                for (uint32_t c = 0; c < channels_; ++c) {
                    out[(x * channels_ + c) * step] = values[c];
                    if (wide_) out[(x * channels_ + c) * step + 1] = values[c];
                }
            }
            break;
        }
    }
}

void PngReader::Deliver(uint32_t y) {
    uint8_t* dst = img_.RowPtr(y);
    uint8_t* alpha =
        img_.HasAlpha() ? img_.GetAlphaPlane() + static_cast<size_t>(y) * width_ : nullptr;
    const uint8_t* in = row_.data();
    switch (rows_) {
        case Rows::kDirect: {
            // Files may leave junk in the unused bits of a row's last byte.
            const uint32_t used = px::UsedRowBytes(width_, bpp_);
            dst[used - 1] &= px::LastByteMask(width_, bpp_);
            break;
        }
        case Rows::kTwoBit:
            for (uint32_t x = 0; x < width_; ++x)
                px::SetNibble(dst, x, static_cast<uint8_t>((in[x] & 3) * twoBitScale_));
            break;
        case Rows::kChannels: {
            const uint32_t colours = channels_ >= 3 ? 3 : 1;
            for (uint32_t x = 0; x < width_; ++x) {
                for (uint32_t c = 0; c < channels_; ++c) {
                    const uint32_t i = x * channels_ + c;
                    const uint8_t v = wide_ ? Narrow(in + 2 * i) : in[i];
                    if (c < colours)
                        dst[colours * x + c] = v;
                    else
                        alpha[x] = v;
                }
            }
            break;
        }
    }
}

void PngReader::AlphaFromPalette() {
    if (!img_.AlphaCreate()) return;
    uint8_t* alpha = img_.GetAlphaPlane();
    for (uint32_t y = 0; y < height_; ++y) {
        const uint8_t* row = img_.RowPtr(y);
        for (uint32_t x = 0; x < width_; ++x) *alpha++ = alphaOf_[px::GetIndex(row, x, bpp_)];
    }
}

bool PngReader::Run() {
    uint8_t signature[8];
    if (ctx_.stream->Read(signature, 1, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0)
        return Fail("not a PNG file");
    png_ = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &ctx_, OnError, OnWarning, &ctx_,
                                    Allocate, Release);
    if (!png_) return Fail("can't create the PNG reader");
    info_ = png_create_info_struct(png_);
    if (!info_) return Fail("can't create the PNG reader");
    if (setjmp(png_jmpbuf(png_))) return Fail(ctx_.message);

    png_set_read_fn(png_, &ctx_, ReadData);
    png_set_sig_bytes(png_, 8);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Fuzzing builds only: let damaged data through the checksums so that
    // it reaches the decoding behind them.
    png_set_crc_action(png_, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#endif
    // Only the pixels, the palette, transparency and resolution matter here.
    png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    static const png_byte kWanted[] = {'p', 'H', 'Y', 's', '\0'};
    png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_AS_DEFAULT, kWanted, 1);
    png_read_info(png_, info_);
    if (!Setup()) return false;

    const int passes = interlace_ == PNG_INTERLACE_NONE ? 1 : 7;
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t r = 0; r < height_; ++r) {
            const uint32_t y = height_ - 1 - r;
            if (rows_ == Rows::kDirect) {
                png_read_row(png_, img_.RowPtr(y), nullptr);
            } else {
                if (interlace_ != PNG_INTERLACE_NONE) Prefill(y);
                png_read_row(png_, row_.data(), nullptr);
            }
            Deliver(y);
        }
    }
    png_read_end(png_, nullptr);
    if (paletteAlpha_) AlphaFromPalette();
    return true;
}

// ---------------------------------------------------------------------------
// writing

class PngWriter {
  public:
    PngWriter(const RasterImage& image, ByteStream* stream) : img_(image) { ctx_.stream = stream; }
    ~PngWriter() {
        if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    bool Run();

  private:
    void Plan();
    const uint8_t* Row(uint32_t y);

    const RasterImage& img_;
    PngContext ctx_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;

    uint32_t width_ = 0, height_ = 0, bpp_ = 0;
    int colorType_ = 0, bitDepth_ = 8;
    bool remap_ = false;    // palette rows go through lut_
    uint8_t lut_[256];      // byte to byte, every pixel of the byte remapped
    int transparent_ = -1;  // palette index written as transparent
    int paletteSize_ = 0;
    png_color palette_[256];
    std::vector<uint8_t> row_;
};

void PngWriter::Plan() {
    width_ = img_.GetWidth();
    height_ = img_.GetHeight();
    bpp_ = img_.GetBpp();
    const bool alpha = img_.HasAlpha();
    // Only the full 8-bit identity ramp is written as grey: a 1- or 4-bit
    // palette whose entries are the levels 0..1 or 0..15 would be read back
    // as black to white.
    const bool grey = bpp_ == 8 && img_.IsGrayScale();
    if (alpha) {
        colorType_ = grey ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_RGB_ALPHA;
        bitDepth_ = 8;
    } else if (bpp_ == 24) {
        colorType_ = PNG_COLOR_TYPE_RGB;
        bitDepth_ = 8;
    } else if (grey) {
        colorType_ = PNG_COLOR_TYPE_GRAY;
        bitDepth_ = 8;
    } else {
        colorType_ = PNG_COLOR_TYPE_PALETTE;
        bitDepth_ = static_cast<int>(bpp_);
    }
    const int32_t bg = img_.GetBackgroundIndex();
    if (bpp_ <= 8 && bg >= 0 && static_cast<uint32_t>(bg) < img_.GetNumColors()) transparent_ = bg;

    if (colorType_ != PNG_COLOR_TYPE_PALETTE) return;

    // The transparent entry moves to index 0, so that one tRNS value
    // describes it; the image itself is left as it is.
    uint8_t map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
    if (transparent_ > 0) {
        map[0] = static_cast<uint8_t>(transparent_);
        map[transparent_] = 0;
        remap_ = true;
        const uint32_t per = 8 / bpp_;
        const uint32_t mask = (1u << bpp_) - 1;
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t out = 0;
            for (uint32_t k = 0; k < per; ++k) {
                const uint32_t shift = bpp_ * k;
                out |= static_cast<uint32_t>(map[(b >> shift) & mask]) << shift;
            }
            lut_[b] = static_cast<uint8_t>(out);
        }
    }
    const uint32_t colours = img_.GetNumColors();
    uint32_t count = img_.GetClrImportant() ? img_.GetClrImportant() : colours;
    if (count > colours) count = colours;
    if (count < colours) {
        // A palette cut to its important entries must still cover every
        // index the pixels use.
        uint32_t highest = 0;
        for (uint32_t y = 0; y < height_; ++y) {
            const uint8_t* row = img_.RowPtr(y);
            for (uint32_t x = 0; x < width_; ++x) {
                const uint32_t v = map[px::GetIndex(row, x, bpp_)];
                if (v > highest) highest = v;
            }
        }
        if (highest + 1 > count) count = highest + 1;
    }
    if (count == 0) count = 1;
    paletteSize_ = static_cast<int>(count);
    for (uint32_t i = 0; i < count; ++i) {
        const RgbQuad c = img_.GetPaletteColor(map[i]);
        palette_[i] = png_color{c.red, c.green, c.blue};
    }
}

const uint8_t* PngWriter::Row(uint32_t y) {
    const uint8_t* src = img_.RowPtr(y);
    const uint8_t* alpha = img_.GetAlphaPlane();
    if (alpha) alpha += static_cast<size_t>(y) * width_;
    uint8_t* out = row_.data();
    switch (colorType_) {
        case PNG_COLOR_TYPE_PALETTE: {
            if (!remap_) return src;
            const uint32_t used = px::UsedRowBytes(width_, bpp_);
            for (uint32_t i = 0; i < used; ++i) out[i] = lut_[src[i]];
            out[used - 1] &= px::LastByteMask(width_, bpp_);
            return out;
        }
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            for (uint32_t x = 0; x < width_; ++x) {
                out[2 * x] = src[x];
                out[2 * x + 1] = alpha[x];
            }
            return out;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            // Written with png_set_bgr: blue, green, red, alpha.
            for (uint32_t x = 0; x < width_; ++x) {
                RgbQuad c;
                if (bpp_ == 24) {
                    c = RgbQuad{src[3 * x], src[3 * x + 1], src[3 * x + 2], 0};
                } else {
                    c = img_.GetPaletteColor(px::GetIndex(src, x, bpp_));
                }
                out[4 * x] = c.blue;
                out[4 * x + 1] = c.green;
                out[4 * x + 2] = c.red;
                out[4 * x + 3] = alpha[x];
            }
            return out;
        default:
            return src;  // grey and BGR rows as stored
    }
}

bool PngWriter::Run() {
    Plan();
    row_.assign(4 * static_cast<size_t>(width_) + 8, 0);
    png_ = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &ctx_, OnError, OnWarning, &ctx_,
                                     Allocate, Release);
    if (!png_) return false;
    info_ = png_create_info_struct(png_);
    if (!info_) return false;
    if (setjmp(png_jmpbuf(png_))) return false;

    png_set_write_fn(png_, &ctx_, WriteData, FlushData);
    const bool adam7 = img_.GetCodecOption(kFormatPng) == 1;
    png_set_IHDR(png_, info_, width_, height_, bitDepth_, colorType_,
                 adam7 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);

    const BitmapInfoHeader& head = img_.GetHeader();
    png_set_pHYs(png_, info_, static_cast<png_uint_32>(head.biXPelsPerMeter),
                 static_cast<png_uint_32>(head.biYPelsPerMeter), PNG_RESOLUTION_METER);

    png_color_16 background{};
    RgbQuad bgColour{255, 255, 255, 0};
    if (transparent_ >= 0) bgColour = img_.GetPaletteColor(static_cast<uint8_t>(transparent_));
    if (bpp_ == 24 && img_.GetBackgroundIndex() >= 0) bgColour = img_.GetBackgroundColor();
    background.red = bgColour.red;
    background.green = bgColour.green;
    background.blue = bgColour.blue;

    switch (colorType_) {
        case PNG_COLOR_TYPE_PALETTE: {
            png_set_PLTE(png_, info_, palette_, paletteSize_);
            if (transparent_ >= 0) {
                png_byte alpha[1] = {0};
                png_set_tRNS(png_, info_, alpha, 1, nullptr);
                background.index = 0;
            } else {
                // The entry nearest to white stands for the white background.
                int best = 0, bestDistance = 1 << 30;
                for (int i = 0; i < paletteSize_; ++i) {
                    const int dr = 255 - palette_[i].red, dg = 255 - palette_[i].green,
                              db = 255 - palette_[i].blue;
                    const int d = dr * dr + dg * dg + db * db;
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = i;
                    }
                }
                background.index = static_cast<png_byte>(best);
            }
            break;
        }
        case PNG_COLOR_TYPE_GRAY:
            background.gray = static_cast<png_uint_16>(transparent_ >= 0 ? transparent_ : 255);
            if (transparent_ >= 0) {
                png_color_16 level{};
                level.gray = static_cast<png_uint_16>(transparent_);
                png_set_tRNS(png_, info_, nullptr, 0, &level);
            }
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            background.gray = static_cast<png_uint_16>(transparent_ >= 0 ? transparent_ : 255);
            break;
        case PNG_COLOR_TYPE_RGB:
            if (img_.GetBackgroundIndex() >= 0) {
                png_color_16 colour = background;
                png_set_tRNS(png_, info_, nullptr, 0, &colour);
            }
            break;
        default:
            break;
    }
    png_set_bKGD(png_, info_, &background);

    png_write_info(png_, info_);
    if (bpp_ == 24 || colorType_ == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(png_);
    const int passes = adam7 ? png_set_interlace_handling(png_) : 1;
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t r = 0; r < height_; ++r) png_write_row(png_, Row(height_ - 1 - r));
    }
    png_write_end(png_, info_);
    return true;
}

}  // namespace

bool PngImage::Decode(ByteStream* stream) {
    if (!BeginDecode(stream)) return false;
    PngReader reader(*this, stream);
    return reader.Run();
}

bool PngImage::Encode(ByteStream* stream) {
    if (!BeginEncode(stream)) return false;
    PngWriter writer(*this, stream);
    if (!writer.Run()) {
        SetLastError("Error saving PNG file");
        return false;
    }
    return true;
}

}  // namespace sheetmend
