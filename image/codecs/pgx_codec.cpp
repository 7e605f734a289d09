// PGX: a text header "PG ML|LM [+|-] depth width height" and one newline,
// then width x height samples of (depth + 7) / 8 bytes, big-endian for ML and
// little-endian for LM, rows top to bottom. Samples are scaled to 8-bit grey;
// signed samples are offset by half their range first.
#include "image/codecs/pgx_codec.h"

#include <cstdio>
#include <vector>

#include "image/codecs/jasper_codec.h"
#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/streams.h"

namespace sheetmend::jasper {

namespace {

bool Fail(RasterImage& image, const char* text) {
    image.SetLastError(text);
    return false;
}

bool IsBlank(int32_t c) {
    return c == ' ' || c == '\t';
}

// Reads the header into its fields; the stream ends up on the first sample.
bool ReadHeader(ByteStream* s, bool* bigEndian, bool* isSigned, uint32_t* depth, uint32_t* width,
                uint32_t* height) {
    if (s->GetC() != 'P' || s->GetC() != 'G') return false;
    int32_t c = s->GetC();
    if (!IsBlank(c)) return false;
    while (IsBlank(c)) c = s->GetC();
    const int32_t c2 = s->GetC();
    if (c == 'M' && c2 == 'L')
        *bigEndian = true;
    else if (c == 'L' && c2 == 'M')
        *bigEndian = false;
    else
        return false;
    c = s->GetC();
    while (IsBlank(c)) c = s->GetC();
    *isSigned = false;
    if (c == '+' || c == '-') {
        *isSigned = c == '-';
        c = s->GetC();
        while (IsBlank(c)) c = s->GetC();
    }
    uint32_t* fields[3] = {depth, width, height};
    for (int f = 0; f < 3; ++f) {
        if (f > 0) {
            if (!IsBlank(c)) return false;
            while (IsBlank(c)) c = s->GetC();
        }
        if (c < '0' || c > '9') return false;
        uint64_t v = 0;
        while (c >= '0' && c <= '9') {
            v = v * 10 + static_cast<uint32_t>(c - '0');
            if (v > 0x7FFFFFFF) return false;
            c = s->GetC();
        }
        *fields[f] = static_cast<uint32_t>(v);
    }
    while (IsBlank(c)) c = s->GetC();
    if (c == '\r') c = s->GetC();
    return c == '\n';
}

}  // namespace

bool LooksLikePgx(const uint8_t* head, size_t size) {
    return size >= 3 && head[0] == 'P' && head[1] == 'G' && IsBlank(head[2]);
}

bool DecodePgx(RasterImage& image, ByteStream* stream) {
    const int64_t total = stream->Size();
    bool bigEndian = true, isSigned = false;
    uint32_t depth = 0, width = 0, height = 0;
    if (!ReadHeader(stream, &bigEndian, &isSigned, &depth, &width, &height))
        return Fail(image, "PGX: bad header");
    if (depth < 1 || depth > 16) return Fail(image, "PGX: unsupported sample depth");
    if (width == 0 || height == 0) return Fail(image, "PGX: zero width or height");
    const uint32_t sampleBytes = (depth + 7) / 8;
    const int64_t here = stream->Tell();
    const uint64_t left = total >= here ? static_cast<uint64_t>(total - here) : 0;
    if (static_cast<uint64_t>(width) * height * sampleBytes > left)
        return Fail(image, "PGX: file shorter than its declared pixels");
    if (!image.Create(width, height, 8, kFormatPgx)) return false;
    image.SetGrayPalette();

    const uint32_t maxval = (1u << depth) - 1;
    const uint32_t half = 1u << (depth - 1);
    std::vector<uint8_t> line(static_cast<size_t>(width) * sampleBytes);
    for (uint32_t r = 0; r < height; ++r) {
        if (stream->Read(line.data(), 1, line.size()) != line.size())
            return Fail(image, "PGX: pixel data truncated");
        uint8_t* row = image.RowPtr(height - 1 - r);
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = line.data() + static_cast<size_t>(x) * sampleBytes;
            uint32_t v = sampleBytes == 1 ? p[0]
                         : bigEndian      ? static_cast<uint32_t>((p[0] << 8) | p[1])
                                          : static_cast<uint32_t>((p[1] << 8) | p[0]);
            v &= maxval;
            if (isSigned) v = (v ^ half);  // two's complement to offset binary
            row[x] = static_cast<uint8_t>((v * 255u + maxval / 2) / maxval);
        }
    }
    return true;
}

bool EncodePgx(RasterImage& image, ByteStream* stream) {
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    char header[64];
    const int n = std::snprintf(header, sizeof header, "PG ML + 8 %u %u\n", width, height);
    if (stream->Write(header, 1, static_cast<size_t>(n)) != static_cast<size_t>(n))
        return Fail(image, "PGX: write error");
    const RgbQuad* pal = image.GetPalette();
    std::vector<uint8_t> line(width);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* row = image.RowPtr(height - 1 - r);
        for (uint32_t x = 0; x < width; ++x)
            line[x] = pal[px::GetIndex(row, x, image.GetBpp())].red;
        if (stream->Write(line.data(), 1, width) != width) return Fail(image, "PGX: write error");
    }
    return true;
}

}  // namespace sheetmend::jasper
