// Deterministic damage for decoder robustness tests: a valid file is
// truncated, has bytes overwritten with extreme values, and has runs of bytes
// scrambled; each damaged copy is decoded, which must either succeed or fail
// with a message, never crash or read outside the data (the sanitizer build
// checks the latter). SHEETMEND_MUTATIONS in the environment raises the
// number of random mutations for longer runs by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "image/raster_image.h"
#include "image/streams.h"

namespace sheetmend::testing {

using Bytes = std::vector<uint8_t>;

// Decodes `data` as format `code` from memory; returns whether it decoded.
// A failed decode must leave a message.
inline bool DecodeBytes(const Bytes& data, uint32_t code, RasterImage* out = nullptr) {
    Bytes copy = data;  // the decoder may read up to, never past, its end
    MemoryStream stream(copy.empty() ? nullptr : copy.data(), copy.size());
    RasterImage local;
    RasterImage& image = out ? *out : local;
    const bool ok = image.Decode(&stream, code);
    if (!ok) {
        EXPECT_NE(image.GetLastError()[0], '\0') << "a refused file must say why";
    } else {
        EXPECT_TRUE(image.IsValid());
    }
    return ok;
}

// Encodes `image` as format `code` into memory; empty on failure.
inline Bytes EncodeToBytes(RasterImage& image, uint32_t code) {
    MemoryStream out;
    out.Open();
    if (!image.Encode(&out, code)) return {};
    const uint8_t* data = out.GetBuffer(false);
    return Bytes(data, data + out.Size());
}

// The same where the test needs the encoder to succeed.
inline Bytes EncodeExpectingSuccess(RasterImage& image, uint32_t code) {
    Bytes bytes = EncodeToBytes(image, code);
    EXPECT_FALSE(bytes.empty()) << image.GetLastError();
    return bytes;
}

inline void ForEachMutation(const Bytes& valid, uint32_t seed, const std::function<void(const Bytes&)>& fn) {
    std::mt19937 rng(seed);
    // Every truncation near the start, then a spread over the rest.
    for (size_t n = 0; n < valid.size() && n < 64; ++n) fn(Bytes(valid.begin(), valid.begin() + n));
    for (size_t n = 64; n < valid.size(); n += 1 + valid.size() / 97)
        fn(Bytes(valid.begin(), valid.begin() + static_cast<ptrdiff_t>(n)));
    // Each header byte set to extreme values.
    const uint8_t extremes[] = {0x00, 0xFF, 0x7F, 0x80, 0x01};
    for (size_t i = 0; i < valid.size() && i < 128; ++i)
        for (uint8_t v : extremes) {
            Bytes m = valid;
            m[i] = v;
            fn(m);
        }
    // Random bytes scrambled across the file.
    int rounds = 300;
    if (const char* env = std::getenv("SHEETMEND_MUTATIONS")) rounds = std::atoi(env);
    for (int r = 0; r < rounds && !valid.empty(); ++r) {
        Bytes m = valid;
        const int changes = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < changes; ++k) {
            const size_t at = rng() % m.size();
            switch (rng() % 4) {
                case 0: m[at] = static_cast<uint8_t>(rng()); break;
                case 1: m[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
                case 2: m[at] = (rng() & 1) ? 0xFF : 0x00; break;
                default:
                    // Four bytes of a large little- or big-endian number.
                    for (size_t j = 0; j < 4 && at + j < m.size(); ++j) m[at + j] = j == 3 ? 0x7F : 0xFF;
                    break;
            }
        }
        if (rng() % 4 == 0) m.resize(rng() % m.size() + 1);
        fn(m);
    }
}

// Runs every mutation of `valid` through the decoder for `code` and through
// detection (code 0).
inline void ExpectDamageIsRefusedCleanly(const Bytes& valid, uint32_t code, uint32_t seed = 1) {
    ForEachMutation(valid, seed, [code](const Bytes& m) {
        DecodeBytes(m, code);
    });
    ForEachMutation(valid, seed + 1, [](const Bytes& m) { DecodeBytes(m, 0); });
}

}  // namespace sheetmend::testing
