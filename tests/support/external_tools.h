// Helpers for tests that check our files against other programs: a scratch
// folder, running a command, and reading the binary PNM that ImageMagick or
// tiff2rgba-style tools print, to compare pixels with an independent decoder.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/raster_image.h"

namespace sheetmend::testing {

// ImageMagick by full path: a "convert" earlier on PATH may be something else.
inline const char* const kImageMagick = "/usr/bin/convert-im6.q16";

// A private folder removed with everything in it when the object dies.
class ScratchDir {
public:
    ScratchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/sheetmend-test-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path_ = buf.data();
    }
    ~ScratchDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command; returns its exit status and, when asked, its output.
inline int RunShell(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    if (output) *output = std::move(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

// A binary PNM (P5 grey or P6 colour, 8 or 16 bits), rows top-down.
struct Pnm {
    int width = 0, height = 0, maxval = 0, channels = 0;
    std::vector<uint16_t> samples;  // width * height * channels
    // Red, green, blue of pixel (x, y) counted from the top, scaled to 0..255.
    void Rgb(int x, int y, int* r, int* g, int* b) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * channels;
        auto s = [&](size_t k) { return maxval == 255 ? samples[k] : (samples[k] * 255 + maxval / 2) / maxval; };
        *r = s(i);
        *g = channels == 3 ? s(i + 1) : *r;
        *b = channels == 3 ? s(i + 2) : *r;
    }
};

inline bool ParsePnm(const std::string& data, Pnm* pnm) {
    size_t pos = 0;
    auto token = [&]() -> std::string {
        while (pos < data.size()) {
            if (data[pos] == '#') {
                while (pos < data.size() && data[pos] != '\n') ++pos;
            } else if (isspace(static_cast<unsigned char>(data[pos]))) {
                ++pos;
            } else {
                break;
            }
        }
        size_t start = pos;
        while (pos < data.size() && !isspace(static_cast<unsigned char>(data[pos]))) ++pos;
        return data.substr(start, pos - start);
    };
    const std::string magic = token();
    if (magic != "P5" && magic != "P6") return false;
    pnm->channels = magic == "P6" ? 3 : 1;
    pnm->width = std::atoi(token().c_str());
    pnm->height = std::atoi(token().c_str());
    pnm->maxval = std::atoi(token().c_str());
    ++pos;  // the single whitespace after maxval
    const size_t count = static_cast<size_t>(pnm->width) * pnm->height * pnm->channels;
    const size_t bytes = pnm->maxval > 255 ? 2 : 1;
    if (pnm->width <= 0 || pnm->height <= 0 || data.size() < pos + count * bytes) return false;
    pnm->samples.resize(count);
    for (size_t i = 0; i < count; ++i) {
        pnm->samples[i] = bytes == 1 ? static_cast<uint8_t>(data[pos + i])
                                     : static_cast<uint16_t>((static_cast<uint8_t>(data[pos + 2 * i]) << 8) |
                                                             static_cast<uint8_t>(data[pos + 2 * i + 1]));
    }
    return true;
}

// The pixels of a file as ImageMagick decodes them (first frame), as P6.
inline bool DecodeWithImageMagick(const std::string& file, Pnm* pnm) {
    std::string out;
    if (RunShell(std::string(kImageMagick) + " '" + file + "[0]' -depth 8 ppm:- 2>/dev/null", &out) != 0)
        return false;
    return ParsePnm(out, pnm);
}

// Every pixel of `img` has the colour the independent decoder gave, within
// `tolerance` per channel (0 for lossless formats).
inline ::testing::AssertionResult MatchesPnm(const RasterImage& img, const Pnm& pnm, int tolerance = 0) {
    if (static_cast<int>(img.GetWidth()) != pnm.width || static_cast<int>(img.GetHeight()) != pnm.height)
        return ::testing::AssertionFailure() << "size " << img.GetWidth() << "x" << img.GetHeight() << " vs "
                                             << pnm.width << "x" << pnm.height;
    for (int y = 0; y < pnm.height; ++y)
        for (int x = 0; x < pnm.width; ++x) {
            int r, g, b;
            pnm.Rgb(x, y, &r, &g, &b);
            const RgbQuad c = img.GetPixelColor(x, pnm.height - 1 - y, false);
            if (std::abs(c.red - r) > tolerance || std::abs(c.green - g) > tolerance ||
                std::abs(c.blue - b) > tolerance)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << " from top): ours " << int(c.red) << "," << int(c.green)
                       << "," << int(c.blue) << " theirs " << r << "," << g << "," << b;
        }
    return ::testing::AssertionSuccess();
}

}  // namespace sheetmend::testing
