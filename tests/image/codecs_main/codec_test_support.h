// Helpers shared by the BMP, PNG, JPEG, GIF and ICO codec tests: encoding to
// and decoding from memory, files made by ImageMagick, alpha comparison, and
// a minimal PNG writer (stored deflate blocks) for hand-made PNG files whose
// every byte the test chooses.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {

// ImageMagick runs single-threaded: on a busy machine its worker threads
// only wait for each other, and the tiny test pictures gain nothing.
inline const bool kImageMagickSingleThreaded = setenv("MAGICK_THREAD_LIMIT", "1", 0) == 0;

inline bool DecodeFromBytes(const Bytes& data, uint32_t code, RasterImage& image) {
    Bytes copy = data;
    MemoryStream in(copy.empty() ? nullptr : copy.data(), copy.size());
    return image.Decode(&in, code);
}

// Decodes `data`, failing the test with the decoder's message if it refuses.
inline RasterImage MustDecode(const Bytes& data, uint32_t code) {
    RasterImage image;
    EXPECT_TRUE(DecodeFromBytes(data, code, image)) << image.GetLastError();
    return image;
}

// Runs ImageMagick with `arguments` (a shell fragment) to make `name` in the
// scratch folder; returns its path, or "" when ImageMagick failed. Arguments
// ending in a format prefix such as "BMP3:" are joined to the path.
inline std::string MakeWithImageMagick(const ScratchDir& dir, const std::string& arguments,
                                       const std::string& name) {
    const std::string path = dir.File(name);
    const bool prefix = !arguments.empty() && arguments.back() == ':';
    std::string target = arguments;
    if (prefix) {
        const size_t space = target.find_last_of(' ');
        target.insert(space == std::string::npos ? 0 : space + 1, "'");
    } else {
        target += " '";
    }
    const std::string command = std::string(kImageMagick) + " " + target + path + "' 2>&1";
    std::string output;
    if (RunShell(command, &output) != 0) {
        ADD_FAILURE() << command << ": " << output;
        return "";
    }
    return path;
}

// The pixels of `image` written as a binary PPM, for ImageMagick to read.
inline bool WritePpm(const RasterImage& image, const std::string& path) {
    std::string data = "P6\n" + std::to_string(image.GetWidth()) + " " +
                       std::to_string(image.GetHeight()) + "\n255\n";
    for (int32_t y = static_cast<int32_t>(image.GetHeight()) - 1; y >= 0; --y)
        for (int32_t x = 0; x < static_cast<int32_t>(image.GetWidth()); ++x) {
            const RgbQuad c = image.GetPixelColor(x, y, false);
            data += static_cast<char>(c.red);
            data += static_cast<char>(c.green);
            data += static_cast<char>(c.blue);
        }
    return WriteFileBytes(path, Bytes(data.begin(), data.end()));
}

// The pixels of a file as ImageMagick decodes them at 16 bits per sample, so
// that 16-bit files are compared before any reduction (Pnm::Rgb rounds).
inline bool DecodeWithImageMagick16(const std::string& file, Pnm* pnm) {
    std::string out;
    if (RunShell(std::string(kImageMagick) + " '" + file + "[0]' -depth 16 ppm:- 2>/dev/null",
                 &out) != 0)
        return false;
    return ParsePnm(out, pnm);
}

// Alpha of every pixel as ImageMagick sees it, rows top-down, read at 16
// bits and rounded to 0..255.
inline bool AlphaWithImageMagick(const std::string& file, std::vector<uint8_t>* alpha) {
    std::string out;
    if (RunShell(std::string(kImageMagick) + " '" + file +
                     "[0]' -alpha extract -depth 16 pgm:- 2>/dev/null",
                 &out) != 0)
        return false;
    Pnm pnm;
    if (!ParsePnm(out, &pnm)) return false;
    alpha->clear();
    for (uint16_t v : pnm.samples)
        alpha->push_back(static_cast<uint8_t>((v * 255u + pnm.maxval / 2) / pnm.maxval));
    return true;
}

inline ::testing::AssertionResult SameAlpha(const RasterImage& a, const RasterImage& b) {
    if (a.HasAlpha() != b.HasAlpha())
        return ::testing::AssertionFailure()
               << "alpha plane " << a.HasAlpha() << " vs " << b.HasAlpha();
    if (!a.HasAlpha()) return ::testing::AssertionSuccess();
    for (int32_t y = 0; y < static_cast<int32_t>(a.GetHeight()); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(a.GetWidth()); ++x)
            if (a.AlphaGet(x, y) != b.AlphaGet(x, y))
                return ::testing::AssertionFailure()
                       << "alpha at (" << x << "," << y << "): " << int(a.AlphaGet(x, y)) << " vs "
                       << int(b.AlphaGet(x, y));
    return ::testing::AssertionSuccess();
}

// Same colours everywhere (palette images compared through their palettes).
inline ::testing::AssertionResult SameColours(const RasterImage& a, const RasterImage& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return ::testing::AssertionFailure() << "size " << a.GetWidth() << "x" << a.GetHeight()
                                             << " vs " << b.GetWidth() << "x" << b.GetHeight();
    for (int32_t y = 0; y < static_cast<int32_t>(a.GetHeight()); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(a.GetWidth()); ++x) {
            const RgbQuad ca = a.GetPixelColor(x, y, false), cb = b.GetPixelColor(x, y, false);
            if (ca.red != cb.red || ca.green != cb.green || ca.blue != cb.blue)
                return ::testing::AssertionFailure()
                       << "colour at (" << x << "," << y << "): " << int(ca.red) << ","
                       << int(ca.green) << "," << int(ca.blue) << " vs " << int(cb.red) << ","
                       << int(cb.green) << "," << int(cb.blue);
        }
    return ::testing::AssertionSuccess();
}

// Sets a random alpha plane (values drawn from `levels`).
inline void AddRandomAlpha(RasterImage& image, uint32_t seed, std::vector<uint8_t> levels = {}) {
    std::mt19937 rng(seed);
    ASSERT_TRUE(image.AlphaCreate());
    for (int32_t y = 0; y < static_cast<int32_t>(image.GetHeight()); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(image.GetWidth()); ++x)
            image.AlphaSet(
                x, y, levels.empty() ? static_cast<uint8_t>(rng()) : levels[rng() % levels.size()]);
}

// A stream that takes the first `room` bytes and then refuses every write.
class FullStream : public ByteStream {
  public:
    explicit FullStream(size_t room) : room_(room) {}
    bool Close() override { return true; }
    size_t Read(void*, size_t, size_t) override { return 0; }
    size_t Write(const void*, size_t size, size_t count) override {
        const size_t bytes = size * count;
        if (bytes > room_) return 0;
        room_ -= bytes;
        written_ += bytes;
        return count;
    }
    bool Seek(int64_t, int) override { return false; }
    int64_t Tell() override { return static_cast<int64_t>(written_); }
    int64_t Size() override { return static_cast<int64_t>(written_); }
    bool Flush() override { return true; }
    bool Eof() override { return true; }
    int32_t Error() override { return 0; }
    int32_t GetC() override { return -1; }
    char* GetS(char*, int32_t) override { return nullptr; }
    int32_t Scanf(const char*, void*) override { return 0; }

  private:
    size_t room_;
    size_t written_ = 0;
};

// ---------------------------------------------------------------------------
// Little-endian and big-endian byte building.

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v);
    Put16(b, v >> 16);
}
inline void PutBe32(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 24));
    b.push_back(static_cast<uint8_t>(v >> 16));
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// ---------------------------------------------------------------------------
// A PNG file built byte by byte: the image data is a zlib stream of stored
// (uncompressed) blocks, so every row byte, filter byte and padding bit is
// exactly what the test gives.

inline uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

class PngBuilder {
  public:
    PngBuilder() { bytes_ = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}; }
    PngBuilder& Chunk(const char* type, const Bytes& data) {
        PutBe32(bytes_, static_cast<uint32_t>(data.size()));
        Bytes body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        bytes_.insert(bytes_.end(), body.begin(), body.end());
        PutBe32(bytes_, Crc32(body.data(), body.size()));
        return *this;
    }
    PngBuilder& Header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType,
                       uint8_t interlace = 0) {
        Bytes d;
        PutBe32(d, width);
        PutBe32(d, height);
        d.insert(d.end(), {depth, colourType, 0, 0, interlace});
        return Chunk("IHDR", d);
    }
    // `raw` holds every row with its filter byte in front.
    PngBuilder& Data(const Bytes& raw) {
        Bytes z = {0x78, 0x01};
        size_t pos = 0;
        do {
            const size_t n = std::min<size_t>(raw.size() - pos, 65535);
            z.push_back(pos + n == raw.size() ? 1 : 0);
            Put16(z, static_cast<uint32_t>(n));
            Put16(z, static_cast<uint32_t>(~n & 0xFFFF));
            z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(pos),
                     raw.begin() + static_cast<ptrdiff_t>(pos + n));
            pos += n;
        } while (pos < raw.size());
        uint32_t a = 1, b = 0;
        for (uint8_t v : raw) {
            a = (a + v) % 65521;
            b = (b + a) % 65521;
        }
        PutBe32(z, (b << 16) | a);
        return Chunk("IDAT", z);
    }
    Bytes End() {
        Chunk("IEND", {});
        return bytes_;
    }

  private:
    Bytes bytes_;
};

}  // namespace sheetmend::testing
