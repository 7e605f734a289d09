// RasterImage: the block, its lifetime, bookkeeping, palette, single-pixel
// access and line drawing. The memory contract is in raster_image.h.
#include "image/raster_image.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "image/pixel_access.h"

namespace sheetmend {

namespace {

uint32_t PaletteEntriesFor(uint32_t bpp) {
    switch (bpp) {
        case 1: return 2;
        case 4: return 16;
        case 8: return 256;
        default: return 0;
    }
}

int32_t PelsPerMeter(int32_t dpi) {
    double v = std::floor(static_cast<double>(dpi) * 39.37007874015748 + 0.5);
    if (v > 2147483647.0) return 2147483647;
    return static_cast<int32_t>(v);
}

uint8_t* DuplicatePlane(const uint8_t* plane, size_t size) {
    if (!plane || size == 0) return nullptr;
    auto* copy = static_cast<uint8_t*>(std::malloc(size));
    if (copy) std::memcpy(copy, plane, size);
    return copy;
}

}  // namespace

// ---------------------------------------------------------------------------
// construction and lifetime

RasterImage::RasterImage(uint32_t type) {
    info_.type = type;
    SetXDpi(96);
    SetYDpi(96);
}

RasterImage::RasterImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type)
    : RasterImage(type) {
    Create(width, height, bpp, type);
}

RasterImage::RasterImage(const RasterImage& source, bool copyPixels, bool copySelection,
                         bool copyAlpha)
    : RasterImage(source.info_.type) {
    Copy(source, copyPixels, copySelection, copyAlpha);
}

RasterImage& RasterImage::operator=(const RasterImage& source) {
    if (this != &source) Copy(source, true, true, true);
    return *this;
}

RasterImage::~RasterImage() {
    DestroyFrames();
    Destroy();
}

uint8_t* RasterImage::Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type) {
    if (!Destroy()) return nullptr;
    if (width == 0 || height == 0) {
        SetLastError("RasterImage::Create : width and height must be greater than zero");
        return nullptr;
    }
    if (bpp <= 1)
        bpp = 1;
    else if (bpp <= 4)
        bpp = 4;
    else if (bpp <= 8)
        bpp = 8;
    else
        bpp = 24;

    // The limit is checked the way the library always has, in 32-bit
    // arithmetic, plus a 64-bit check so no wrapped product slips through.
    const uint32_t n = width * height * bpp;
    const uint64_t n64 = static_cast<uint64_t>(width) * height * bpp;
    if (n / 8 > kRasterMaxMemory || n / bpp != width * height || n64 / 8 > kRasterMaxMemory ||
        static_cast<uint64_t>(width) * height > 0xFFFFFFFFull) {
        SetLastError("RASTER_MAX_MEMORY exceeded");
        return nullptr;
    }

    head_.biSize = 40;
    head_.biWidth = static_cast<int32_t>(width);
    head_.biHeight = static_cast<int32_t>(height);
    head_.biPlanes = 1;
    head_.biBitCount = static_cast<uint16_t>(bpp);
    head_.biCompression = 0;
    head_.biClrUsed = PaletteEntriesFor(bpp);
    info_.effWidth = px::EffWidth(width, bpp);
    head_.biSizeImage = info_.effWidth * height;
    info_.type = type;
    ClearNearestCache();

    // Zeroed: a fresh image is black (index 0) with zero padding, so no caller
    // can ever observe uninitialised memory.
    dib_ = static_cast<uint8_t*>(std::calloc(GetDibSize(), 1));
    if (!dib_) {
        SetLastError("RasterImage::Create can't allocate memory");
        return nullptr;
    }
    StoreHeader();
    bits_ = dib_ + 40 + 4 * head_.biClrUsed;
    return bits_;
}

bool RasterImage::Destroy() {
    if (ghost_) return false;
    if (layers_) {
        for (int32_t i = 0; i < layerCount_; ++i) delete layers_[i];
        delete[] layers_;
        layers_ = nullptr;
        layerCount_ = 0;
    }
    std::free(selection_);
    selection_ = nullptr;
    std::free(alpha_);
    alpha_ = nullptr;
    std::free(dib_);
    dib_ = nullptr;
    bits_ = nullptr;
    sourceJpeg_.reset();
    return true;
}

bool RasterImage::DestroyFrames() {
    if (ghost_) return false;
    if (frames_) {
        for (int32_t i = 0; i < frameCount_; ++i) delete frames_[i];
        delete[] frames_;
        frames_ = nullptr;
        frameCount_ = 0;
    }
    info_.numFrames = 0;
    return true;
}

void RasterImage::ReleaseGhost() {
    if (!ghost_) return;
    sourceJpeg_.reset();
    dib_ = nullptr;
    bits_ = nullptr;
    selection_ = nullptr;
    alpha_ = nullptr;
    layers_ = nullptr;
    layerCount_ = 0;
    frames_ = nullptr;
    frameCount_ = 0;
    ghost_ = nullptr;
}

void RasterImage::TakeBookkeeping(const RasterImage& source) {
    if (this == &source) return;
    info_ = source.info_;
    // Keep the header's resolution in step with the dpi just taken over.
    SetXDpi(info_.xDpi);
    SetYDpi(info_.yDpi);
}

void RasterImage::Copy(const RasterImage& source, bool copyPixels, bool copySelection,
                       bool copyAlpha) {
    if (this == &source) return;
    if (source.ghost_) {
        Ghost(&source);
        return;
    }
    // A ghost that is given its own copy stops borrowing first; its borrowed
    // buffers belong to somebody else and must not be freed here.
    ReleaseGhost();
    info_ = source.info_;
    head_ = source.head_;
    if (!Create(source.GetWidth(), source.GetHeight(), source.GetBpp(), source.info_.type)) return;
    if (copyPixels && source.dib_) {
        std::memcpy(dib_, source.dib_, GetDibSize());
    } else if (source.dib_) {
        SetPalette(source.GetPalette(), source.GetNumColors() > 256 ? 256 : source.GetNumColors());
    }
    const size_t plane = static_cast<size_t>(GetWidth()) * GetHeight();
    if (copySelection && source.selection_) selection_ = DuplicatePlane(source.selection_, plane);
    if (copyAlpha && source.alpha_) alpha_ = DuplicatePlane(source.alpha_, plane);
    if (copyPixels && source.dib_) sourceJpeg_ = source.sourceJpeg_;
}

bool RasterImage::Transfer(RasterImage& from, bool transferFrames) {
    if (&from == this) return true;
    // Borrowed buffers cannot be handed on as owned ones.
    if (from.ghost_) return false;
    if (!Destroy()) return false;

    head_ = from.head_;
    info_ = from.info_;
    dib_ = from.dib_;
    bits_ = from.bits_;
    selection_ = from.selection_;
    alpha_ = from.alpha_;
    layers_ = from.layers_;
    layerCount_ = from.layerCount_;
    sourceJpeg_ = std::move(from.sourceJpeg_);

    from.head_ = BitmapInfoHeader{};
    std::memset(static_cast<void*>(&from.info_), 0, sizeof(from.info_));
    from.dib_ = nullptr;
    from.bits_ = nullptr;
    from.selection_ = nullptr;
    from.alpha_ = nullptr;
    from.layers_ = nullptr;
    from.layerCount_ = 0;

    if (transferFrames) {
        // DestroyFrames clears the page count that was just taken over.
        const int32_t numFrames = info_.numFrames;
        DestroyFrames();
        info_.numFrames = numFrames;
        frames_ = from.frames_;
        frameCount_ = from.frameCount_;
        from.frames_ = nullptr;
        from.frameCount_ = 0;
    }
    return true;
}

void RasterImage::Ghost(const RasterImage* source) {
    if (!source || source == this) return;
    if (ghost_) {
        ReleaseGhost();
    } else {
        DestroyFrames();
        Destroy();
    }
    head_ = source->head_;
    info_ = source->info_;
    dib_ = source->dib_;
    bits_ = source->bits_;
    selection_ = source->selection_;
    alpha_ = source->alpha_;
    layers_ = source->layers_;
    layerCount_ = source->layerCount_;
    frames_ = source->frames_;
    frameCount_ = source->frameCount_;
    sourceJpeg_ = source->sourceJpeg_;
    ghost_ = source;
}

// ---------------------------------------------------------------------------
// bookkeeping

namespace {

// One round of a multiply-rotate hash over 64-bit words: fast enough to run
// over a colour page in a few milliseconds, and no pixel change is lost in it.
inline uint64_t MixWord(uint64_t h, uint64_t w) {
    h ^= w * 0x9E3779B97F4A7C15ull;
    h = (h << 27) | (h >> 37);
    return h * 0xC2B2AE3D27D4EB4Full + 0x165667B19E3779F9ull;
}

uint64_t MixBytes(uint64_t h, const uint8_t* p, size_t n) {
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        h = MixWord(h, w);
        p += 8;
        n -= 8;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    return MixWord(h, tail ^ (static_cast<uint64_t>(n) << 56));
}

}  // namespace

uint64_t RasterImage::PixelFingerprint() const {
    uint64_t h =
        MixWord(0x51ED270B27A5C3ull, (static_cast<uint64_t>(GetWidth()) << 32) | GetHeight());
    h = MixWord(h, (static_cast<uint64_t>(GetBpp()) << 32) | GetNumColors());
    if (!dib_) return h;
    if (const RgbQuad* pal = GetPalette())
        h = MixBytes(h, reinterpret_cast<const uint8_t*>(pal), GetPaletteSize());
    const uint32_t used = px::UsedRowBytes(GetWidth(), GetBpp());
    const uint8_t lastMask = px::LastByteMask(GetWidth(), GetBpp());
    for (uint32_t y = 0; y < GetHeight(); ++y) {
        const uint8_t* row = RowPtr(y);
        h = MixBytes(h, row, used - 1);
        h = MixWord(h, row[used - 1] & lastMask);
    }
    return h;
}

uint32_t RasterImage::GetDibSize() const {
    return 40 + 4 * head_.biClrUsed + head_.biSizeImage;
}

uint8_t RasterImage::GetJpegQuality() const {
    float q = info_.jpegQuality + 0.5f;
    if (q <= 0.0f) return 0;
    if (q >= 255.0f) return 255;
    return static_cast<uint8_t>(q);
}

bool RasterImage::SetType(uint32_t code) {
    if ((code >= 1 && code <= 15) || (code >= 17 && code <= 19)) {
        info_.type = code;
        return true;
    }
    info_.type = 0;
    return false;
}

void RasterImage::SetXDpi(int32_t dpi) {
    if (dpi <= 0) dpi = 96;
    info_.xDpi = dpi;
    head_.biXPelsPerMeter = PelsPerMeter(dpi);
    if (dib_) reinterpret_cast<BitmapInfoHeader*>(dib_)->biXPelsPerMeter = head_.biXPelsPerMeter;
}

void RasterImage::SetYDpi(int32_t dpi) {
    if (dpi <= 0) dpi = 96;
    info_.yDpi = dpi;
    head_.biYPelsPerMeter = PelsPerMeter(dpi);
    if (dib_) reinterpret_cast<BitmapInfoHeader*>(dib_)->biYPelsPerMeter = head_.biYPelsPerMeter;
}

uint32_t RasterImage::GetCodecOption(uint32_t code) const {
    uint32_t index = FormatIndex(code);
    if (index == 0) index = FormatIndex(info_.type);
    return info_.codecOptions[index];
}

bool RasterImage::SetCodecOption(uint32_t value, uint32_t code) {
    uint32_t index = FormatIndex(code);
    if (index == 0) index = FormatIndex(info_.type);
    info_.codecOptions[index] = value;
    return true;
}

void RasterImage::SetLastError(const char* text) {
    if (!text) text = "";
    // memmove: the text may be this image's own message.
    const size_t n = strnlen(text, sizeof(info_.lastError) - 1);
    std::memmove(info_.lastError, text, n);
    info_.lastError[n] = '\0';
}

void RasterImage::StoreHeader() {
    if (dib_) std::memcpy(dib_, &head_, sizeof(head_));
}

uint8_t* RasterImage::GetBits(uint32_t row) {
    if (!dib_) return nullptr;
    if (row == 0) return bits_;
    if (row < GetHeight()) return bits_ + static_cast<size_t>(row) * info_.effWidth;
    return nullptr;
}

const uint8_t* RasterImage::GetBits(uint32_t row) const {
    return const_cast<RasterImage*>(this)->GetBits(row);
}

void RasterImage::Clear(uint8_t value) {
    if (!dib_) return;
    const uint32_t bpp = GetBpp();
    if (bpp == 1 && value) value = 255;
    if (bpp == 4) value = static_cast<uint8_t>((value & 15) * 17);
    const uint32_t used = px::UsedRowBytes(GetWidth(), bpp);
    const uint8_t lastMask = px::LastByteMask(GetWidth(), bpp);
    for (uint32_t y = 0; y < GetHeight(); ++y) {
        uint8_t* row = RowPtr(y);
        std::memset(row, value, used);
        row[used - 1] &= lastMask;
        std::memset(row + used, 0, info_.effWidth - used);
    }
}

// ---------------------------------------------------------------------------
// palette

RgbQuad* RasterImage::GetPalette() {
    if (!dib_ || head_.biClrUsed == 0) return nullptr;
    return reinterpret_cast<RgbQuad*>(dib_ + 40);
}

const RgbQuad* RasterImage::GetPalette() const {
    if (!dib_ || head_.biClrUsed == 0) return nullptr;
    return reinterpret_cast<const RgbQuad*>(dib_ + 40);
}

RgbQuad RasterImage::GetPaletteColor(uint8_t index) const {
    const RgbQuad* pal = GetPalette();
    if (!pal || index >= head_.biClrUsed) return RgbQuad{};
    return pal[index];
}

bool RasterImage::GetPaletteColor(uint8_t index, uint8_t* red, uint8_t* green,
                                  uint8_t* blue) const {
    const RgbQuad* pal = GetPalette();
    if (!pal || index >= head_.biClrUsed) return false;
    if (red) *red = pal[index].red;
    if (green) *green = pal[index].green;
    if (blue) *blue = pal[index].blue;
    return true;
}

void RasterImage::SetPaletteColor(uint8_t index, RgbQuad colour) {
    RgbQuad* pal = GetPalette();
    if (pal && index < head_.biClrUsed) pal[index] = colour;
    ClearNearestCache();
}

void RasterImage::SetPaletteColor(uint8_t index, uint8_t red, uint8_t green, uint8_t blue,
                                  uint8_t reserved) {
    SetPaletteColor(index, RgbQuad{blue, green, red, reserved});
}

void RasterImage::SetPalette(const RgbQuad* entries, uint32_t count) {
    RgbQuad* pal = GetPalette();
    if (pal && entries) {
        const uint32_t n = count < head_.biClrUsed ? count : head_.biClrUsed;
        std::memmove(pal, entries, n * sizeof(RgbQuad));
    }
    ClearNearestCache();
}

void RasterImage::SetPalette(uint32_t count, const uint8_t* red, const uint8_t* green,
                             const uint8_t* blue) {
    RgbQuad* pal = GetPalette();
    if (pal && red) {
        if (!green) green = red;
        if (!blue) blue = green;
        const uint32_t n = count < head_.biClrUsed ? count : head_.biClrUsed;
        for (uint32_t i = 0; i < n; ++i) pal[i] = RgbQuad{blue[i], green[i], red[i], 0};
    }
    ClearNearestCache();
}

void RasterImage::SetPaletteRgb(const uint8_t* triplets, uint32_t count) {
    RgbQuad* pal = GetPalette();
    if (pal && triplets) {
        const uint32_t n = count < head_.biClrUsed ? count : head_.biClrUsed;
        for (uint32_t i = 0; i < n; ++i)
            pal[i] = RgbQuad{triplets[3 * i + 2], triplets[3 * i + 1], triplets[3 * i], 0};
    }
    ClearNearestCache();
}

void RasterImage::SetGrayPalette() {
    RgbQuad* pal = GetPalette();
    if (pal && head_.biClrUsed > 1) {
        const uint32_t step = 255 / (head_.biClrUsed - 1);
        for (uint32_t i = 0; i < head_.biClrUsed; ++i) {
            const auto g = static_cast<uint8_t>(i * step);
            pal[i] = RgbQuad{g, g, g, 0};
        }
    }
    ClearNearestCache();
}

bool RasterImage::IsGrayScale() const {
    const RgbQuad* pal = GetPalette();
    if (!pal) return false;
    for (uint32_t i = 0; i < head_.biClrUsed; ++i) {
        if (pal[i].blue != i || pal[i].green != i || pal[i].red != i) return false;
    }
    return true;
}

uint8_t RasterImage::GetNearestIndex(RgbQuad colour) {
    const RgbQuad* pal = GetPalette();
    if (!pal) return 0;
    if (info_.lastValid && info_.lastColor == colour) return info_.lastIndex;
    info_.lastColor = colour;
    info_.lastValid = true;

    uint32_t k = head_.biClrImportant ? head_.biClrImportant : head_.biClrUsed;
    if (k > head_.biClrUsed) k = head_.biClrUsed;
    int32_t best = 200000;
    uint32_t winner = 0;
    for (uint32_t i = 0; i < k; ++i) {
        const int32_t db = pal[i].blue - colour.blue;
        const int32_t dg = pal[i].green - colour.green;
        const int32_t dr = pal[i].red - colour.red;
        const int32_t d = db * db + dg * dg + dr * dr;
        if (d < best) {
            best = d;
            winner = i;
            if (d == 0) break;
        }
    }
    info_.lastIndex = static_cast<uint8_t>(winner);
    return info_.lastIndex;
}

void RasterImage::SetClrImportant(uint32_t n) {
    if (n == 0 || n > 256) {
        head_.biClrImportant = 0;
    } else {
        switch (GetBpp()) {
            case 1: head_.biClrImportant = n < 2 ? n : 2; break;
            case 4: head_.biClrImportant = n < 16 ? n : 16; break;
            case 8: head_.biClrImportant = n; break;
            default: return;
        }
    }
    if (dib_) reinterpret_cast<BitmapInfoHeader*>(dib_)->biClrImportant = head_.biClrImportant;
}

// ---------------------------------------------------------------------------
// pixels

uint8_t RasterImage::GetPixelIndex(int32_t x, int32_t y) const {
    if (!dib_ || head_.biClrUsed == 0) return 0;
    if (!IsInside(x, y)) {
        if (info_.backgroundIndex >= 0) return static_cast<uint8_t>(info_.backgroundIndex);
        return px::GetIndex(bits_, 0, GetBpp());
    }
    return px::GetIndex(RowPtr(static_cast<uint32_t>(y)), static_cast<uint32_t>(x), GetBpp());
}

void RasterImage::SetPixelIndex(int32_t x, int32_t y, uint8_t index) {
    if (!dib_ || head_.biClrUsed == 0 || !IsInside(x, y)) return;
    px::SetIndex(RowPtr(static_cast<uint32_t>(y)), static_cast<uint32_t>(x), GetBpp(), index);
}

RgbQuad RasterImage::GetPixelColor(int32_t x, int32_t y, bool withAlpha) const {
    if (!dib_) return info_.backgroundColor;
    if (!IsInside(x, y)) {
        if (info_.backgroundIndex >= 0) {
            if (GetBpp() < 24) return GetPaletteColor(static_cast<uint8_t>(info_.backgroundIndex));
            return info_.backgroundColor;
        }
        return GetPixelColor(0, 0, withAlpha);
    }
    RgbQuad c;
    const uint8_t* row = RowPtr(static_cast<uint32_t>(y));
    if (head_.biClrUsed) {
        c = GetPaletteColor(px::GetIndex(row, static_cast<uint32_t>(x), GetBpp()));
    } else {
        const uint8_t* p = row + 3 * static_cast<size_t>(x);
        c = RgbQuad{p[0], p[1], p[2], info_.backgroundColor.reserved};
    }
    if (withAlpha && alpha_) c.reserved = AlphaGet(x, y);
    return c;
}

void RasterImage::SetPixelColor(int32_t x, int32_t y, RgbQuad colour, bool setAlpha) {
    if (!IsInside(x, y)) return;
    uint8_t* row = RowPtr(static_cast<uint32_t>(y));
    if (head_.biClrUsed) {
        px::SetIndex(row, static_cast<uint32_t>(x), GetBpp(), GetNearestIndex(colour));
    } else {
        uint8_t* p = row + 3 * static_cast<size_t>(x);
        p[0] = colour.blue;
        p[1] = colour.green;
        p[2] = colour.red;
    }
    if (setAlpha) AlphaSet(x, y, colour.reserved);
}

void RasterImage::SetPixelColor(int32_t x, int32_t y, ColorRef colour) {
    SetPixelColor(x, y, ColorRefToQuad(colour), false);
}

// ---------------------------------------------------------------------------
// alpha and selection planes

bool RasterImage::AlphaCreate() {
    if (alpha_) return true;
    if (!dib_) return false;
    const size_t n = static_cast<size_t>(GetWidth()) * GetHeight();
    alpha_ = static_cast<uint8_t*>(std::malloc(n));
    if (!alpha_) return false;
    std::memset(alpha_, 255, n);
    return true;
}

void RasterImage::AlphaDelete() {
    if (ghost_) return;
    std::free(alpha_);
    alpha_ = nullptr;
}

uint8_t RasterImage::AlphaGet(int32_t x, int32_t y) const {
    if (!alpha_ || !IsInside(x, y)) return 0;
    return alpha_[static_cast<size_t>(y) * GetWidth() + static_cast<size_t>(x)];
}

void RasterImage::AlphaSet(int32_t x, int32_t y, uint8_t value) {
    if (!alpha_ || !IsInside(x, y)) return;
    alpha_[static_cast<size_t>(y) * GetWidth() + static_cast<size_t>(x)] = value;
}

bool RasterImage::SelectionCreate() {
    if (selection_) return true;
    if (!dib_) return false;
    selection_ = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(GetWidth()) * GetHeight(), 1));
    return selection_ != nullptr;
}

void RasterImage::SelectionDelete() {
    if (ghost_) return;
    std::free(selection_);
    selection_ = nullptr;
}

// ---------------------------------------------------------------------------
// frames

void RasterImage::AppendFrame(RasterImage* frame) {
    if (!frame || ghost_) return;
    auto** grown = new RasterImage*[static_cast<size_t>(frameCount_) + 1];
    for (int32_t i = 0; i < frameCount_; ++i) grown[i] = frames_[i];
    grown[frameCount_] = frame;
    delete[] frames_;
    frames_ = grown;
    ++frameCount_;
}

RasterImage* RasterImage::GetFrameImage(int32_t index) const {
    if (!frames_ || index < 0 || index >= frameCount_) return nullptr;
    return frames_[index];
}

// ---------------------------------------------------------------------------
// lines

void RasterImage::DrawLine(int32_t x0, int32_t x1, int32_t y0, int32_t y1, RgbQuad colour,
                           bool setAlpha) {
    if (!dib_) return;
    const int64_t dx = std::llabs(static_cast<int64_t>(x1) - x0);
    const int64_t dy = std::llabs(static_cast<int64_t>(y1) - y0);
    const int32_t sx = x1 >= x0 ? 1 : -1;
    const int32_t sy = y1 >= y0 ? 1 : -1;
    const bool xMajor = dx >= dy;
    const int64_t major = xMajor ? dx : dy;
    const int64_t minor = xMajor ? dy : dx;
    int64_t err = major / 2;
    int64_t x = x0;
    int64_t y = y0;
    for (int64_t i = 0; i <= major; ++i) {
        if (x >= 0 && y >= 0 && x < head_.biWidth && y < head_.biHeight)
            SetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), colour, setAlpha);
        err += minor;
        if (err >= major) {
            err -= major;
            if (xMajor)
                y += sy;
            else
                x += sx;
        }
        if (xMajor)
            x += sx;
        else
            y += sy;
    }
}

void RasterImage::DrawLine(int32_t x0, int32_t x1, int32_t y0, int32_t y1, ColorRef colour) {
    DrawLine(x0, x1, y0, y1, ColorRefToQuad(colour), false);
}

}  // namespace sheetmend
