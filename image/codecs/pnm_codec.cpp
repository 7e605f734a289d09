// Netpbm formats: P1 (ASCII bitmap), P2 (ASCII grey), P3 (ASCII colour), P4
// (binary bitmap), P5 (binary grey), P6 (binary colour), with samples of one
// byte or, above a maximum of 255, two bytes big-endian.
//
// Bitmaps load as 1-bit images with palette {black, white} (a set file bit is
// black, so the bits are inverted), grey maps as 8-bit identity-grey images,
// pixmaps as 24-bit images; samples are scaled from 0..maxval to 0..255 with
// rounding.
#include "image/codecs/pnm_codec.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/codecs/jasper_codec.h"
#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/streams.h"

namespace sheetmend::jasper {

namespace {

bool IsSpace(int32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Skips white space and comments; returns the first other character or -1.
int32_t SkipSpace(ByteStream* s) {
    int32_t c = s->GetC();
    for (;;) {
        if (c == '#') {
            while (c >= 0 && c != '\n' && c != '\r') c = s->GetC();
        } else if (IsSpace(c)) {
            c = s->GetC();
        } else {
            return c;
        }
    }
}

// Reads an unsigned decimal number of at most `limit`; the character after
// it is consumed (it must be white space or the end of the data).
bool ReadNumber(ByteStream* s, uint32_t limit, uint32_t* value) {
    int32_t c = SkipSpace(s);
    if (c < '0' || c > '9') return false;
    uint64_t v = 0;
    while (c >= '0' && c <= '9') {
        v = v * 10 + static_cast<uint32_t>(c - '0');
        if (v > limit) return false;
        c = s->GetC();
    }
    if (c >= 0 && !IsSpace(c) && c != '#') return false;
    if (c == '#') {
        while (c >= 0 && c != '\n' && c != '\r') c = s->GetC();
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

inline uint8_t Scale(uint32_t v, uint32_t maxval) {
    if (v > maxval) v = maxval;
    if (maxval == 255) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>((v * 255u + maxval / 2) / maxval);
}

bool Fail(RasterImage& image, const char* text) {
    image.SetLastError(text);
    return false;
}

}  // namespace

bool LooksLikePnm(const uint8_t* head, size_t size) {
    return size >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
           (IsSpace(head[2]) || head[2] == '#');
}

bool DecodePnm(RasterImage& image, ByteStream* stream) {
    const int64_t start = stream->Tell();
    const int64_t total = stream->Size();
    uint8_t magic[2];
    if (stream->Read(magic, 1, 2) != 2 || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6')
        return Fail(image, "Not a PNM file");
    const int kind = magic[1] - '0';
    const bool ascii = kind <= 3;
    const bool bitmap = kind == 1 || kind == 4;
    const uint32_t channels = (kind == 3 || kind == 6) ? 3 : 1;
    uint32_t width = 0, height = 0, maxval = 1;
    // Each number must end with one white-space character; for the binary
    // formats that single character after maxval is where the raster starts.
    if (!ReadNumber(stream, 0x7FFFFFFF, &width) || !ReadNumber(stream, 0x7FFFFFFF, &height) ||
        (!bitmap && !ReadNumber(stream, 65535, &maxval)))
        return Fail(image, "PNM: bad header");
    if (width == 0 || height == 0 || maxval == 0) return Fail(image, "PNM: bad header");

    // The raster must fit in what is left of the file.
    const int64_t here = stream->Tell();
    const uint64_t left = here >= start && total >= here ? static_cast<uint64_t>(total - here) : 0;
    const uint64_t samples = static_cast<uint64_t>(width) * height * channels;
    const uint32_t sampleBytes = maxval > 255 ? 2 : 1;
    uint64_t need;
    if (kind == 4)
        need = static_cast<uint64_t>((width + 7) / 8) * height;
    else if (kind == 1)
        need = samples;  // digits may follow each other without spaces
    else if (ascii)
        need = samples * 2 - 1;
    else
        need = samples * sampleBytes;
    if (need > left) return Fail(image, "PNM: file shorter than its declared pixels");

    const uint32_t bpp = bitmap ? 1 : channels == 3 ? 24 : 8;
    if (!image.Create(width, height, bpp, kFormatPnm)) return false;
    if (bitmap) {
        image.SetPaletteColor(0, 0, 0, 0);
        image.SetPaletteColor(1, 255, 255, 255);
    } else if (bpp == 8) {
        image.SetGrayPalette();
    }

    const uint32_t rowBytes = kind == 4 ? (width + 7) / 8 : width * channels * sampleBytes;
    std::vector<uint8_t> line(ascii ? 0 : rowBytes);
    const uint8_t lastMask = px::LastByteMask(width, 1);
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t* row = image.RowPtr(height - 1 - r);
        if (kind == 1) {
            for (uint32_t x = 0; x < width; ++x) {
                const int32_t c = SkipSpace(stream);
                if (c != '0' && c != '1') return Fail(image, "PNM: bad or missing bitmap digit");
                if (c == '0') px::SetBit(row, x, 1);
            }
        } else if (ascii) {
            for (uint32_t i = 0; i < width * channels; ++i) {
                uint32_t v;
                if (!ReadNumber(stream, 0xFFFFFFFF, &v))
                    return Fail(image, "PNM: bad or missing sample");
                const uint8_t s = Scale(v, maxval);
                if (channels == 1)
                    row[i] = s;
                else
                    row[i / 3 * 3 + 2 - i % 3] = s;  // red, green, blue to blue, green, red
            }
        } else {
            if (stream->Read(line.data(), 1, rowBytes) != rowBytes)
                return Fail(image, "PNM: pixel data truncated");
            if (kind == 4) {
                for (uint32_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(~line[i]);
                row[rowBytes - 1] &= lastMask;
            } else {
                for (uint32_t i = 0; i < width * channels; ++i) {
                    const uint32_t v =
                        sampleBytes == 1
                            ? line[i]
                            : static_cast<uint32_t>((line[2 * i] << 8) | line[2 * i + 1]);
                    const uint8_t s = Scale(v, maxval);
                    if (channels == 1)
                        row[i] = s;
                    else
                        row[i / 3 * 3 + 2 - i % 3] = s;
                }
            }
        }
    }
    return true;
}

bool EncodePnm(RasterImage& image, ByteStream* stream) {
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    const bool rgb = image.GetBpp() == 24;
    const bool bitmap = !rgb && IsBlackAndWhite(image) && !IsGreyImage(image);
    char header[64];
    const int n = std::snprintf(header, sizeof header, "%s\n%u %u\n%s",
                                rgb      ? "P6"
                                : bitmap ? "P4"
                                         : "P5",
                                width, height, bitmap ? "" : "255\n");
    if (stream->Write(header, 1, static_cast<size_t>(n)) != static_cast<size_t>(n))
        return Fail(image, "PNM: write error");

    // In a bitmap a set bit is black: the bits are the indices when entry 1
    // is black, their complement otherwise.
    const bool invert = bitmap && image.GetPaletteColor(1).red == 255;
    const uint32_t rowBytes = rgb ? width * 3 : bitmap ? (width + 7) / 8 : width;
    const uint8_t lastMask = px::LastByteMask(width, 1);
    const RgbQuad* pal = image.GetPalette();
    std::vector<uint8_t> line(rowBytes);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* row = image.RowPtr(height - 1 - r);
        if (rgb) {
            for (uint32_t x = 0; x < width; ++x) {
                line[3 * x] = row[3 * x + 2];
                line[3 * x + 1] = row[3 * x + 1];
                line[3 * x + 2] = row[3 * x];
            }
        } else if (bitmap) {
            for (uint32_t i = 0; i < rowBytes; ++i)
                line[i] = invert ? static_cast<uint8_t>(~row[i]) : row[i];
            line[rowBytes - 1] &= lastMask;
        } else {
            for (uint32_t x = 0; x < width; ++x)
                line[x] = pal[px::GetIndex(row, x, image.GetBpp())].red;
        }
        if (stream->Write(line.data(), 1, rowBytes) != rowBytes)
            return Fail(image, "PNM: write error");
    }
    return true;
}

}  // namespace sheetmend::jasper
