// RasterImage: the one in-memory raster image of Sheetmend.
//
// Pixel memory contract
// ---------------------
// An image owns a single heap block (`dib`) laid out as a Windows
// device-independent bitmap:
//   1. a 40-byte BITMAPINFOHEADER (little-endian, biHeight > 0),
//   2. the palette: biClrUsed entries of {blue, green, red, reserved}
//      (2 for 1 bit, 16 for 4 bits, 256 for 8 bits, none for 24 bits),
//   3. the pixel rows, bottom-up: row 0 is the bottom line of the picture and
//      row y starts y * effWidth bytes after `bits`.
// effWidth = ((width * bpp + 31) / 32) * 4, so every row is padded to a
// multiple of 4 bytes. 1-bit pixels pack 8 to a byte with the leftmost pixel in
// the most significant bit; 4-bit pixels 2 to a byte, leftmost in the high
// nibble; 8-bit pixels are palette indices; 24-bit pixels are blue, green, red.
// The padding (the bytes after the last pixel of a row and the unused low bits
// of a partly used last byte) holds no pixel: blocks start zeroed, operations
// that write whole rows keep it zero, and no operation reads it as a pixel.
//
// Image coordinates are (x, y) with x from the left and y from the bottom.
//
// Ownership: the image owns `dib`, the alpha and selection planes (width *
// height bytes each, bottom-up, unpadded) and its layer and frame images. A
// ghost (see Ghost) borrows all of them from another image and frees nothing.
//
// Two tiers of pixel access:
//  - checked accessors (GetPixelIndex, SetPixelColor, ...): bounds and
//    background rules on every call, a palette search for colour writes; a few
//    nanoseconds to a microsecond each. For clarity, tests and rare paths.
//  - RowPtr() plus the inline helpers in pixel_access.h: no checks, for kernels
//    that have validated their arguments once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "image/format_codes.h"

namespace sheetmend {

class ByteStream;

struct RgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
    friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};
static_assert(sizeof(RgbQuad) == 4);

// A Windows colour reference: 0x00BBGGRR.
using ColorRef = uint32_t;
constexpr ColorRef MakeColorRef(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<ColorRef>(r) | (static_cast<ColorRef>(g) << 8) |
           (static_cast<ColorRef>(b) << 16);
}
constexpr RgbQuad ColorRefToQuad(ColorRef c) {
    return RgbQuad{static_cast<uint8_t>((c >> 16) & 0xFF), static_cast<uint8_t>((c >> 8) & 0xFF),
                   static_cast<uint8_t>(c & 0xFF), 0};
}

#pragma pack(push, 1)
struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);

struct ImageRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// The whole DIB block as an owned byte buffer; stands in for a Windows global
// memory handle. Empty means "no handle".
using DibHandle = std::vector<uint8_t>;

// Largest pixel area Create accepts, in bytes.
inline constexpr uint32_t kRasterMaxMemory = 0x27D78400u;  // 668435456

// The bookkeeping an image carries besides its pixels. "Taking the
// bookkeeping" of another image copies this record.
struct ImageInfo {
    uint32_t effWidth = 0;
    uint32_t type = 0;
    char lastError[256] = {};
    int32_t progress = 0;
    int32_t escape = 0;
    int32_t backgroundIndex = -1;
    RgbQuad backgroundColor{};
    float jpegQuality = 90.0f;
    uint8_t jpegScale = 0;
    int32_t frame = 0;
    int32_t numFrames = 0;
    uint32_t frameDelay = 0;
    int32_t xDpi = 96;
    int32_t yDpi = 96;
    ImageRect selectionBox{};
    uint8_t alphaMax = 255;
    bool alphaPaletteEnabled = false;
    bool enabled = true;
    int32_t xOffset = 0;
    int32_t yOffset = 0;
    uint32_t codecOptions[kFormatSlotCount] = {};
    RgbQuad lastColor{};
    uint8_t lastIndex = 0;
    bool lastValid = false;
    int32_t numLayers = 0;
    uint32_t flags = 0;
    uint8_t disposalMethod = 0;
    bool getAllFrames = false;
    bool littleEndianHost = true;
};

// The coded bytes of the JPEG file an image was decoded from, and the
// fingerprint (RasterImage::PixelFingerprint) of the pixels decoded from them.
// A writer that can hold JPEG data embeds the bytes as they are while the
// image's fingerprint still matches, i.e. while no operation changed a pixel.
struct SourceJpeg {
    std::vector<uint8_t> data;
    uint32_t components = 0;  // 1 grey, 3 colour
    uint64_t fingerprint = 0;
};

class RasterImage {
public:
    // ---- creation and lifetime (raster_image.cpp) ----
    explicit RasterImage(uint32_t type = kFormatUnknown);
    // Constructs an empty image and Creates it; check IsValid().
    RasterImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type = kFormatUnknown);
    RasterImage(const RasterImage& source, bool copyPixels = true, bool copySelection = true,
                bool copyAlpha = true);
    RasterImage& operator=(const RasterImage& source);
    virtual ~RasterImage();

    // Allocates a fresh block (after destroying the current content). Depths
    // round up to 1, 4, 8 or 24. Returns the pixel rows, or nullptr with
    // lastError set.
    uint8_t* Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type = kFormatUnknown);
    bool Destroy();
    bool DestroyFrames();
    void Copy(const RasterImage& source, bool copyPixels = true, bool copySelection = true,
              bool copyAlpha = true);
    // Moves everything out of `from` (which is left empty) into this image.
    bool Transfer(RasterImage& from, bool transferFrames = true);
    // Shares the source's buffers without owning them.
    void Ghost(const RasterImage* source);
    bool IsValid() const { return dib_ != nullptr; }
    bool IsGhost() const { return ghost_ != nullptr; }
    // Copies the source's bookkeeping (resolution, codec options, type,
    // background, ...) into this image, which must hold no pixels yet.
    void TakeBookkeeping(const RasterImage& source);

    // ---- plain reads ----
    uint32_t GetWidth() const { return static_cast<uint32_t>(head_.biWidth); }
    uint32_t GetHeight() const { return static_cast<uint32_t>(head_.biHeight); }
    uint32_t GetBpp() const { return head_.biBitCount; }
    uint32_t GetEffWidth() const { return info_.effWidth; }
    uint32_t GetNumColors() const { return head_.biClrUsed; }
    uint32_t GetClrImportant() const { return head_.biClrImportant; }
    uint32_t GetType() const { return info_.type; }
    int32_t GetNumFrames() const { return info_.numFrames; }
    void SetNumFrames(int32_t n) { info_.numFrames = n; }
    int32_t GetXDpi() const { return info_.xDpi; }
    int32_t GetYDpi() const { return info_.yDpi; }
    uint8_t GetJpegQuality() const;
    const char* GetLastError() const { return info_.lastError; }
    const BitmapInfoHeader& GetHeader() const { return head_; }
    const ImageInfo& GetInfo() const { return info_; }
    // Size in bytes of the whole DIB block (header, palette and pixels).
    uint32_t GetDibSize() const;
    const uint8_t* GetDib() const { return dib_; }
    uint8_t* GetDib() { return dib_; }

    bool SetType(uint32_t code);
    void SetXDpi(int32_t dpi);
    void SetYDpi(int32_t dpi);
    uint32_t GetCodecOption(uint32_t code = kFormatUnknown) const;
    bool SetCodecOption(uint32_t value, uint32_t code = kFormatUnknown);
    void SetJpegQuality(float quality) { info_.jpegQuality = quality; }
    void SetLastError(const char* text);
    int32_t GetBackgroundIndex() const { return info_.backgroundIndex; }
    void SetBackgroundIndex(int32_t index) { info_.backgroundIndex = index; }
    RgbQuad GetBackgroundColor() const { return info_.backgroundColor; }
    void SetBackgroundColor(RgbQuad colour) { info_.backgroundColor = colour; }
    int32_t GetEscape() const { return info_.escape; }
    void SetEscape(int32_t value) { info_.escape = value; }
    int32_t GetProgress() const { return info_.progress; }
    void SetProgress(int32_t value) { info_.progress = value; }
    int32_t GetFrame() const { return info_.frame; }
    void SetFrame(int32_t frame) { info_.frame = frame; }
    int32_t GetXOffset() const { return info_.xOffset; }
    int32_t GetYOffset() const { return info_.yOffset; }
    void SetOffset(int32_t x, int32_t y) {
        info_.xOffset = x;
        info_.yOffset = y;
    }

    // Start of pixel row `row` (row 0 for the start of the pixel data);
    // nullptr for row >= height or without a block.
    uint8_t* GetBits(uint32_t row = 0);
    const uint8_t* GetBits(uint32_t row = 0) const;
    // Unchecked row pointer for kernels: y must be < height of a valid image.
    uint8_t* RowPtr(uint32_t y) { return bits_ + static_cast<size_t>(y) * info_.effWidth; }
    const uint8_t* RowPtr(uint32_t y) const {
        return bits_ + static_cast<size_t>(y) * info_.effWidth;
    }
    // Fills every pixel byte with one value (1 bit: non-zero gives 255; 4 bits:
    // (value & 15) * 17), leaving the row padding zero.
    void Clear(uint8_t value = 0);

    // ---- palette (raster_image.cpp) ----
    RgbQuad* GetPalette();
    const RgbQuad* GetPalette() const;
    uint32_t GetPaletteSize() const { return 4 * head_.biClrUsed; }
    RgbQuad GetPaletteColor(uint8_t index) const;
    bool GetPaletteColor(uint8_t index, uint8_t* red, uint8_t* green, uint8_t* blue) const;
    void SetPaletteColor(uint8_t index, RgbQuad colour);
    void SetPaletteColor(uint8_t index, uint8_t red, uint8_t green, uint8_t blue,
                         uint8_t reserved = 0);
    void SetPalette(const RgbQuad* entries, uint32_t count);
    // Separate channel arrays; a missing green takes red, a missing blue green.
    void SetPalette(uint32_t count, const uint8_t* red, const uint8_t* green = nullptr,
                    const uint8_t* blue = nullptr);
    // count triplets of red, green, blue.
    void SetPaletteRgb(const uint8_t* triplets, uint32_t count);
    void SetGrayPalette();
    bool IsGrayScale() const;
    uint8_t GetNearestIndex(RgbQuad colour);
    void SetClrImportant(uint32_t n);

    // ---- pixels (raster_image.cpp) ----
    uint8_t GetPixelIndex(int32_t x, int32_t y) const;
    void SetPixelIndex(int32_t x, int32_t y, uint8_t index);
    RgbQuad GetPixelColor(int32_t x, int32_t y, bool withAlpha = true) const;
    void SetPixelColor(int32_t x, int32_t y, RgbQuad colour, bool setAlpha = false);
    void SetPixelColor(int32_t x, int32_t y, ColorRef colour);
    bool IsInside(int32_t x, int32_t y) const {
        return dib_ && x >= 0 && y >= 0 && x < head_.biWidth && y < head_.biHeight;
    }

    // ---- alpha and selection planes (raster_image.cpp) ----
    bool HasAlpha() const { return alpha_ != nullptr; }
    // Allocates an opaque (255) alpha plane if there is none.
    bool AlphaCreate();
    void AlphaDelete();
    uint8_t* GetAlphaPlane() { return alpha_; }
    const uint8_t* GetAlphaPlane() const { return alpha_; }
    // 0 outside the image or without a plane.
    uint8_t AlphaGet(int32_t x, int32_t y) const;
    void AlphaSet(int32_t x, int32_t y, uint8_t value);
    bool HasSelection() const { return selection_ != nullptr; }
    bool SelectionCreate();  // a zeroed plane
    void SelectionDelete();
    uint8_t* GetSelectionPlane() { return selection_; }
    const uint8_t* GetSelectionPlane() const { return selection_; }

    // ---- frames (raster_image.cpp) ----
    // Takes ownership of `frame` as the next owned frame image.
    void AppendFrame(RasterImage* frame);
    int32_t GetFrameCount() const { return frameCount_; }
    RasterImage* GetFrameImage(int32_t index) const;

    // ---- drawing (raster_image.cpp, text.cpp) ----
    void DrawLine(int32_t x0, int32_t x1, int32_t y0, int32_t y1, RgbQuad colour,
                  bool setAlpha = false);
    void DrawLine(int32_t x0, int32_t x1, int32_t y0, int32_t y1, ColorRef colour);
    // Draws text with its bottom-left corner at (x, y) in top-down page
    // coordinates. Returns 1 on success (or when there is nothing to draw on),
    // 0 when no font could be obtained.
    int32_t DrawString(int32_t x, int32_t y, const char* text, RgbQuad colour, const char* fontName,
                       int32_t height = 0, int32_t weight = 400, bool italic = false,
                       bool underline = false, bool setAlpha = false);

    // ---- geometry (geometry.cpp) ----
    bool Resample(int32_t newWidth, int32_t newHeight, int32_t mode = 1,
                  RasterImage* destination = nullptr);
    bool Rotate(float angle, RasterImage* destination = nullptr);
    bool RotateLeft(RasterImage* destination = nullptr);
    bool RotateRight(RasterImage* destination = nullptr);
    bool Mirror(bool mirrorSelection = false, bool mirrorAlpha = true);
    bool Flip(bool flipSelection = false, bool flipAlpha = true);
    bool Crop(int32_t left, int32_t top, int32_t right, int32_t bottom,
              RasterImage* destination = nullptr);

    // ---- tone and bit depth (tone/*.cpp) ----
    bool GrayScale();
    bool Threshold(uint8_t level);
    int32_t OptimalThreshold(int32_t method = 0, const ImageRect* box = nullptr,
                             const RasterImage* contrastMask = nullptr);
    bool Dither(int32_t method = 0);
    bool DecreaseBpp(uint32_t bpp, bool errorDiffusion, const RgbQuad* palette = nullptr,
                     uint32_t importantColors = 0);
    bool IncreaseBpp(uint32_t bpp);
    void SetStdPalette();
    // Black and white by a local threshold over a square window of about
    // `window` pixels (0: AdaptiveWindow). Keeps the resolution and the TIFF
    // codec option; see tone/adaptive_threshold.cpp.
    bool AdaptiveThreshold(uint32_t window = 0);
    // The window for the page's vertical resolution: a few text lines.
    uint32_t AdaptiveWindow() const;
    // Divides out the estimated paper background of a grey or colour page
    // (palette colour pages become 24-bit); see tone/flatten_background.cpp.
    bool FlattenBackground();

    // ---- files (formats.cpp) ----
    bool Load(const char* fileName, uint32_t code = kFormatUnknown);
    bool Save(const char* fileName, uint32_t code);
    bool Decode(ByteStream* stream, uint32_t code);
    bool Decode(FILE* file, uint32_t code);
    bool Encode(ByteStream* stream, uint32_t code);
    bool Encode(FILE* file, uint32_t code);

    // ---- the JPEG data the pixels came from (raster_image.cpp) ----
    // Kept by copies, transfers and ghosts; dropped when the block goes
    // (Create, Destroy). Pixel operations need not drop it: a writer compares
    // fingerprints before it trusts the data.
    void SetSourceJpeg(std::shared_ptr<const SourceJpeg> source) {
        sourceJpeg_ = std::move(source);
    }
    const SourceJpeg* GetSourceJpeg() const { return sourceJpeg_.get(); }
    // A 64-bit hash of the size, depth, palette and every pixel byte (not the
    // row padding); one pass over the rows.
    uint64_t PixelFingerprint() const;

    // ---- DIB exchange (dib_exchange.cpp) ----
    DibHandle CopyToHandle() const;
    bool CreateFromHandle(const DibHandle& handle);

protected:
    // Writes head_ into the block's header, keeping the two in step.
    void StoreHeader();
    // Forgets borrowed buffers of a ghost without freeing them.
    void ReleaseGhost();
    void ClearNearestCache() { info_.lastValid = false; }
    // The start of a codec's Decode: refuses a missing stream ("null file
    // handler") and resets what describes a file (background, resolution,
    // page count, offset) while the caller's settings stay.
    bool BeginDecode(const ByteStream* stream);
    // The start of a codec's Encode: refuses a missing stream and an empty
    // image ("null image!!!").
    bool BeginEncode(const ByteStream* stream);

    uint8_t* dib_ = nullptr;
    BitmapInfoHeader head_{};
    ImageInfo info_{};
    uint8_t* bits_ = nullptr;
    const RasterImage* ghost_ = nullptr;
    RasterImage* parent_ = nullptr;  // not used by this system
    uint8_t* selection_ = nullptr;
    uint8_t* alpha_ = nullptr;
    RasterImage** layers_ = nullptr;
    int32_t layerCount_ = 0;  // owned entries of layers_
    RasterImage** frames_ = nullptr;
    int32_t frameCount_ = 0;  // owned entries of frames_
    std::shared_ptr<const SourceJpeg> sourceJpeg_;
};

}  // namespace sheetmend
