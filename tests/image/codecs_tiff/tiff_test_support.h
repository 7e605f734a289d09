// Shared helpers of the TIFF tests: encoding to and decoding from memory,
// running libtiff's command-line tools, and a minimal TIFF writer that builds
// files byte by byte, so the decoder meets layouts (min-is-white grey, 16-bit
// samples, CIE L*a*b*, separate planes, orientations) that are not ours.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"

namespace sheetmend::testing {

inline std::vector<uint8_t> EncodeTiff(RasterImage& image) {
    MemoryStream stream;
    stream.Open();
    EXPECT_TRUE(image.Encode(&stream, kFormatTiff)) << image.GetLastError();
    const uint8_t* data = stream.GetBuffer(false);
    return std::vector<uint8_t>(data, data + stream.Size());
}

inline bool DecodeTiff(const std::vector<uint8_t>& bytes, RasterImage* out, uint32_t code = 6) {
    std::vector<uint8_t> copy = bytes;
    MemoryStream stream(copy.empty() ? nullptr : copy.data(), copy.size());
    return out->Decode(&stream, code);
}

// tiffinfo's description of a file (every directory).
inline std::string TiffInfo(const std::string& path) {
    std::string out;
    RunShell("tiffinfo '" + path + "' 2>&1", &out);
    return out;
}

// An uncompressed little-endian TIFF with one strip per plane, written by
// hand. Tag values are given as the TIFF types SHORT (3), LONG (4) or
// RATIONAL (5); the writer adds the strip tags.
class TinyTiff {
  public:
    TinyTiff(uint32_t width, uint32_t height) : width_(width), height_(height) {
        Long(256, width);
        Long(257, height);
    }
    TinyTiff& Short(uint16_t tag, std::vector<uint16_t> values) {
        std::vector<uint8_t> raw(values.size() * 2);
        std::memcpy(raw.data(), values.data(), raw.size());
        tags_[tag] = Entry{3, static_cast<uint32_t>(values.size()), raw};
        return *this;
    }
    TinyTiff& Short(uint16_t tag, uint16_t value) {
        return Short(tag, std::vector<uint16_t>{value});
    }
    TinyTiff& Long(uint16_t tag, uint32_t value) {
        std::vector<uint8_t> raw(4);
        std::memcpy(raw.data(), &value, 4);
        tags_[tag] = Entry{4, 1, raw};
        return *this;
    }
    TinyTiff& Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
        std::vector<uint8_t> raw(8);
        std::memcpy(raw.data(), &numerator, 4);
        std::memcpy(raw.data() + 4, &denominator, 4);
        tags_[tag] = Entry{5, 1, raw};
        return *this;
    }
    // The pixel data of each plane (one plane unless PlanarConfiguration is 2).
    TinyTiff& Planes(std::vector<std::vector<uint8_t>> planes) {
        planes_ = std::move(planes);
        return *this;
    }
    TinyTiff& Data(std::vector<uint8_t> data) { return Planes({std::move(data)}); }

    std::vector<uint8_t> Build() const {
        std::map<uint16_t, Entry> tags = tags_;
        const uint32_t n = static_cast<uint32_t>(planes_.size());
        std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
        // Space for the directory first, then data blocks after it.
        tags[273] = Entry{4, n, std::vector<uint8_t>(4 * n)};
        tags[279] = Entry{4, n, std::vector<uint8_t>(4 * n)};
        tags[278] = Entry{4, 1, U32(height_)};
        const size_t dirSize = 2 + 12 * tags.size() + 4;
        size_t next = 8 + dirSize;
        std::vector<uint8_t> blocks;
        auto place = [&](const std::vector<uint8_t>& data) {
            const uint32_t at = static_cast<uint32_t>(next + blocks.size());
            blocks.insert(blocks.end(), data.begin(), data.end());
            if (blocks.size() % 2) blocks.push_back(0);
            return at;
        };
        std::vector<uint8_t> offsets, counts;
        for (const auto& plane : planes_) {
            const auto o = U32(place(plane));
            const auto c = U32(static_cast<uint32_t>(plane.size()));
            offsets.insert(offsets.end(), o.begin(), o.end());
            counts.insert(counts.end(), c.begin(), c.end());
        }
        tags[273].raw = offsets;
        tags[279].raw = counts;
        std::vector<uint8_t> dir;
        Put16(dir, static_cast<uint16_t>(tags.size()));
        for (const auto& [tag, e] : tags) {
            Put16(dir, tag);
            Put16(dir, e.type);
            Put32(dir, e.count);
            if (e.raw.size() <= 4) {
                std::vector<uint8_t> v = e.raw;
                v.resize(4, 0);
                dir.insert(dir.end(), v.begin(), v.end());
            } else {
                Put32(dir, place(e.raw));
            }
        }
        Put32(dir, 0);
        out.insert(out.end(), dir.begin(), dir.end());
        out.insert(out.end(), blocks.begin(), blocks.end());
        return out;
    }

  private:
    struct Entry {
        uint16_t type = 3;
        uint32_t count = 0;
        std::vector<uint8_t> raw;
    };
    static std::vector<uint8_t> U32(uint32_t v) {
        std::vector<uint8_t> r(4);
        std::memcpy(r.data(), &v, 4);
        return r;
    }
    static void Put16(std::vector<uint8_t>& out, uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
    static void Put32(std::vector<uint8_t>& out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }

    uint32_t width_, height_;
    std::map<uint16_t, Entry> tags_;
    std::vector<std::vector<uint8_t>> planes_;
};

// A 24-bit picture whose every pixel is known: colour ramps across, a
// diagonal stripe, and an asymmetric block so any turn or mirror shows.
inline RgbQuad KnownColour(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    (void)height;
    uint8_t r = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
    uint8_t g = static_cast<uint8_t>((y * 7 + x * 3) & 0xFF);
    uint8_t b = static_cast<uint8_t>(((x + y) % 11 == 0) ? 250 : (y * 13) & 0x7F);
    if (x < width / 3 && y < height / 4) r = g = b = 0;  // top-left block
    return RgbQuad{b, g, r, 0};
}

// The picture above as an image (y counted from the top) and as a PPM file.
inline RasterImage KnownImage(uint32_t width, uint32_t height) {
    RasterImage img(width, height, 24);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            img.SetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(height - 1 - y),
                              KnownColour(x, y, width, height));
    return img;
}

inline std::vector<uint8_t> KnownPpm(uint32_t width, uint32_t height) {
    std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::vector<uint8_t> out(head.begin(), head.end());
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const RgbQuad c = KnownColour(x, y, width, height);
            out.push_back(c.red);
            out.push_back(c.green);
            out.push_back(c.blue);
        }
    return out;
}

// A page of text-like strokes: ink 1, paper 0, rows top-down in PBM layout.
inline bool KnownInk(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    if (y < height / 8 && x < width / 2) return true;                   // a heading block
    if ((y / 6) % 3 == 0 && (x / 5) % 4 != 3) return (x + y) % 3 != 0;  // text lines
    return x == width - 2 || (x == y % width);                          // a rule and a diagonal
}

inline std::vector<uint8_t> KnownPbm(uint32_t width, uint32_t height) {
    std::string head = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
    std::vector<uint8_t> out(head.begin(), head.end());
    const uint32_t rowBytes = (width + 7) / 8;
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(rowBytes, 0);
        for (uint32_t x = 0; x < width; ++x)
            if (KnownInk(x, y, width, height)) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace sheetmend::testing
