// Decoding one PDF image XObject into an image at its natural depth.
//
// Generic filters (Flate, LZW, RunLength, ASCII, with PNG/TIFF predictors) are
// undone by libqpdf, which streams the decoded bytes row by row into the page
// so no second copy of the pixels exists. The specialised codings each go to
// the library made for them: CCITT fax to libtiff (the stream wrapped in a
// small TIFF held in memory, decoded straight into the page's rows), DCT to
// our JPEG codec (which keeps the original bytes, so an unchanged page can be
// embedded again as it came), JBIG2 to jbig2dec, JPX to OpenJPEG through our
// JPEG 2000 codec. Colours are mapped with the same arithmetic poppler uses,
// so a page equals what pdfimages extracts from the same file.
#define POINTERHOLDER_TRANSITION 4  // qpdf: std::shared_ptr throughout
#include <tiffio.h>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "image/codecs/jpeg2000_codec.h"
#include "image/codecs/jpeg_codec.h"
#include "image/codecs/pdf_reader_internal.h"
#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/streams.h"

// jbig2.h uses the fixed-width types without including their header, and
// defines `inline` away for old C compilers: it comes last, and the macro goes.
#include <jbig2.h>
#ifdef inline
#undef inline
#endif

namespace sheetmend::pdfin {

bool FitsMemoryLimit(uint64_t width, uint64_t height, uint32_t bpp) {
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
    const uint64_t rowBytes = (width * bpp + 31) / 32 * 4;
    return rowBytes * height <= kRasterMaxMemory;
}

namespace {

// ---------------------------------------------------------------------------
// colour

enum class Family { kGray, kRgb, kCmyk, kIndexed, kStencil };

struct ColourModel {
    Family family = Family::kGray;
    uint32_t components = 1;  // samples per pixel
    std::vector<RgbQuad> palette;
};

// poppler's fixed-point colour components (16.16) and their rounding to bytes.
int32_t DoubleToComponent(double x) {
    return static_cast<int32_t>(x * 65536.0);
}
uint8_t ComponentToByte(int32_t x) {
    return static_cast<uint8_t>(((static_cast<int64_t>(x) << 8) - x + 0x8000) >> 16);
}
double Clip01(double x) {
    return x < 0 ? 0 : (x > 1 ? 1 : x);
}
uint8_t UnitToByte(double x) {
    return ComponentToByte(DoubleToComponent(Clip01(x)));
}

// DeviceCMYK to RGB as poppler shows it: the colour is blended from the sixteen
// corners of the CMYK cube, each corner being the RGB that printing inks give.
void CmykToRgb(const double v[4], uint8_t rgb[3]) {
    static const double kCorners[16][3] = {{1, 1, 1},
                                           {0.1373, 0.1216, 0.1255},
                                           {1, 0.9490, 0},
                                           {0.1098, 0.1020, 0},
                                           {0.9255, 0, 0.5490},
                                           {0.1412, 0, 0},
                                           {0.9294, 0.1098, 0.1412},
                                           {0.1333, 0, 0},
                                           {0, 0.6784, 0.9373},
                                           {0, 0.0588, 0.1412},
                                           {0, 0.6510, 0.3137},
                                           {0, 0.0745, 0},
                                           {0.1804, 0.1922, 0.5725},
                                           {0, 0, 0.0078},
                                           {0.2118, 0.2119, 0.2235},
                                           {0, 0, 0}};
    double sum[3] = {0, 0, 0};
    for (int corner = 0; corner < 16; ++corner) {
        // Corner bits: C M Y K from the most significant.
        double w = 1;
        for (int i = 0; i < 4; ++i) w *= (corner >> (3 - i)) & 1 ? v[i] : 1 - v[i];
        for (int ch = 0; ch < 3; ++ch) sum[ch] += kCorners[corner][ch] * w;
    }
    for (int ch = 0; ch < 3; ++ch) rgb[ch] = UnitToByte(sum[ch]);
}

bool IsName(QPDFObjectHandle o, std::initializer_list<const char*> names) {
    if (!o.isName()) return false;
    const std::string n = o.getName();
    for (const char* s : names)
        if (n == s) return true;
    return false;
}

// The family of a colour space without /Indexed; false when unsupported.
bool BaseFamily(QPDFObjectHandle cs, ColourModel& m) {
    if (cs.isArray() && cs.getArrayNItems() == 1) cs = cs.getArrayItem(0);
    if (IsName(cs, {"/DeviceGray", "/G", "/CalGray"})) {
        m.family = Family::kGray;
        m.components = 1;
        return true;
    }
    if (IsName(cs, {"/DeviceRGB", "/RGB", "/CalRGB"})) {
        m.family = Family::kRgb;
        m.components = 3;
        return true;
    }
    if (IsName(cs, {"/DeviceCMYK", "/CMYK"})) {
        m.family = Family::kCmyk;
        m.components = 4;
        return true;
    }
    if (!cs.isArray() || cs.getArrayNItems() < 2) return false;
    QPDFObjectHandle kind = cs.getArrayItem(0);
    if (IsName(kind, {"/CalGray"})) return BaseFamily(kind, m);
    if (IsName(kind, {"/CalRGB"})) return BaseFamily(kind, m);
    if (IsName(kind, {"/ICCBased"})) {
        QPDFObjectHandle profile = cs.getArrayItem(1);
        if (!profile.isStream()) return false;
        QPDFObjectHandle n = profile.getDict().getKey("/N");
        if (!n.isInteger()) return false;
        switch (n.getIntValue()) {
            case 1:
                return BaseFamily(QPDFObjectHandle::newName("/DeviceGray"), m);
            case 3:
                return BaseFamily(QPDFObjectHandle::newName("/DeviceRGB"), m);
            case 4:
                return BaseFamily(QPDFObjectHandle::newName("/DeviceCMYK"), m);
            default:
                return false;
        }
    }
    return false;
}

// The RGB of one base colour given as bytes (grey, RGB or CMYK).
RgbQuad BaseColour(Family family, const uint8_t* v) {
    uint8_t rgb[3];
    switch (family) {
        case Family::kGray:
            rgb[0] = rgb[1] = rgb[2] = UnitToByte(v[0] / 255.0);
            break;
        case Family::kRgb:
            for (int i = 0; i < 3; ++i) rgb[i] = UnitToByte(v[i] / 255.0);
            break;
        default: {
            double unit[4];
            for (int i = 0; i < 4; ++i) unit[i] = DoubleToComponent(v[i] / 255.0) / 65536.0;
            CmykToRgb(unit, rgb);
            break;
        }
    }
    return RgbQuad{rgb[2], rgb[1], rgb[0], 0};
}

// Reads the colour space; Unsupported for those this reader leaves to poppler.
Outcome ResolveColour(QPDFObjectHandle cs, ColourModel& m, std::string& error) {
    if (BaseFamily(cs, m)) return Outcome::kDone;
    if (!cs.isArray() || cs.getArrayNItems() != 4 ||
        !IsName(cs.getArrayItem(0), {"/Indexed", "/I"}))
        return Outcome::kUnsupported;
    ColourModel base;
    if (!BaseFamily(cs.getArrayItem(1), base)) return Outcome::kUnsupported;
    QPDFObjectHandle hival = cs.getArrayItem(2);
    QPDFObjectHandle lookup = cs.getArrayItem(3);
    if (!hival.isInteger() || hival.getIntValue() < 0 || hival.getIntValue() > 255) {
        error = "palette size out of range";
        return Outcome::kFailed;
    }
    std::string table;
    if (lookup.isString()) {
        table = lookup.getStringValue();
    } else if (lookup.isStream()) {
        std::shared_ptr<Buffer> data = lookup.getStreamData(qpdf_dl_specialized);
        table.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    } else {
        error = "palette is neither a string nor a stream";
        return Outcome::kFailed;
    }
    const size_t entries = static_cast<size_t>(hival.getIntValue()) + 1;
    if (table.size() < entries * base.components) {
        error = "palette holds fewer colours than it declares";
        return Outcome::kFailed;
    }
    m.family = Family::kIndexed;
    m.components = 1;
    m.palette.resize(entries);
    for (size_t i = 0; i < entries; ++i)
        m.palette[i] = BaseColour(
            base.family, reinterpret_cast<const uint8_t*>(table.data()) + i * base.components);
    return Outcome::kDone;
}

// ---------------------------------------------------------------------------
// sample rows into image rows

// Turns rows of packed samples (as the stream holds them) into the image's
// rows, applying the Decode array and the colour space.
class SampleConverter {
  public:
    SampleConverter(const ColourModel& model, uint32_t bpc, std::vector<double> decode,
                    RasterImage& out)
        : model_(model), bpc_(bpc), decode_(std::move(decode)), out_(out) {}

    // Creates the image; false with `error` when it cannot be held.
    bool Start(uint32_t width, uint32_t height, std::string& error) {
        width_ = width;
        height_ = height;
        const uint32_t maxv = (1u << bpc_) - 1;
        const bool bilevel =
            bpc_ == 1 && (model_.family == Family::kGray || model_.family == Family::kStencil);
        const uint32_t bpp = bilevel ? 1
                             : (model_.family == Family::kGray || model_.family == Family::kIndexed)
                                 ? 8
                                 : 24;
        if (!FitsMemoryLimit(width, height, bpp)) {
            error = "image of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels is too large for the memory limit";
            return false;
        }
        if (!out_.Create(width, height, bpp)) {
            error = out_.GetLastError();
            return false;
        }
        if (bilevel) {
            out_.SetPaletteColor(0, 0, 0, 0);
            out_.SetPaletteColor(1, 255, 255, 255);
            // Black is index 0: a sample that decodes to 1 (white, or an
            // unpainted mask pixel) keeps its bit, one that decodes to 0 flips.
            invert_ = decode_.size() >= 2 && decode_[0] > decode_[1] ? 0xFF : 0x00;
            return true;
        }
        // One byte per possible sample value and component.
        const uint32_t comps = model_.components;
        table_.assign(static_cast<size_t>(maxv + 1) * comps, 0);
        if (model_.family == Family::kCmyk) unit_.assign(table_.size(), 0.0);
        for (uint32_t c = 0; c < comps; ++c) {
            const double lo = decode_.size() >= 2 * c + 2 ? decode_[2 * c] : 0.0;
            const double hi =
                decode_.size() >= 2 * c + 2
                    ? decode_[2 * c + 1]
                    : (model_.family == Family::kIndexed ? static_cast<double>(maxv) : 1.0);
            for (uint32_t v = 0; v <= maxv; ++v) {
                // poppler keeps the high byte of a 16-bit sample.
                const double x =
                    bpc_ == 16 ? lo + (v >> 8) * (hi - lo) / 255 : lo + v * (hi - lo) / maxv;
                uint8_t b;
                if (model_.family == Family::kIndexed) {
                    const double idx = std::floor(x + 0.5);
                    const double top = static_cast<double>(model_.palette.size() - 1);
                    b = static_cast<uint8_t>(idx < 0 ? 0 : (idx > top ? top : idx));
                } else {
                    b = UnitToByte(x);
                }
                table_[static_cast<size_t>(v) * comps + c] = b;
                // poppler hands its CMYK blend 16.16 fixed-point components.
                if (model_.family == Family::kCmyk)
                    unit_[static_cast<size_t>(v) * comps + c] =
                        DoubleToComponent(Clip01(x)) / 65536.0;
            }
        }
        if (model_.family == Family::kGray) {
            out_.SetGrayPalette();
        } else if (model_.family == Family::kIndexed) {
            std::vector<RgbQuad> pal(256, RgbQuad{});
            std::copy(model_.palette.begin(), model_.palette.end(), pal.begin());
            out_.SetPalette(pal.data(), 256);
        }
        return true;
    }

    RasterImage& Out() { return out_; }
    uint8_t Invert() const { return invert_; }
    bool Bilevel() const { return out_.GetBpp() == 1; }
    size_t RowBytes() const {
        return (static_cast<size_t>(width_) * model_.components * bpc_ + 7) / 8;
    }

    // Row `y` counted from the top.
    void Row(uint32_t y, const uint8_t* in) {
        uint8_t* dst = out_.RowPtr(height_ - 1 - y);
        if (out_.GetBpp() == 1) {
            const uint32_t used = px::UsedRowBytes(width_, 1);
            for (uint32_t i = 0; i < used; ++i) dst[i] = in[i] ^ invert_;
            dst[used - 1] &= px::LastByteMask(width_, 1);
            return;
        }
        const uint32_t comps = model_.components;
        if (model_.family == Family::kGray || model_.family == Family::kIndexed) {
            if (bpc_ == 8) {
                for (uint32_t x = 0; x < width_; ++x) dst[x] = table_[in[x]];
            } else {
                for (uint32_t x = 0; x < width_; ++x) dst[x] = table_[Sample(in, x)];
            }
            return;
        }
        uint8_t v[4];
        uint32_t s[4];
        for (uint32_t x = 0; x < width_; ++x) {
            for (uint32_t c = 0; c < comps; ++c) {
                s[c] = Sample(in, x * comps + c);
                v[c] = table_[static_cast<size_t>(s[c]) * comps + c];
            }
            uint8_t* p = dst + 3 * static_cast<size_t>(x);
            if (model_.family == Family::kRgb) {
                p[0] = v[2];
                p[1] = v[1];
                p[2] = v[0];
            } else {
                uint8_t rgb[3];
                if (x > 0 && std::memcmp(s, lastCmyk_, sizeof s) == 0) {
                    std::memcpy(rgb, lastRgb_, 3);
                } else {
                    double unit[4];
                    for (uint32_t c = 0; c < 4; ++c)
                        unit[c] = unit_[static_cast<size_t>(s[c]) * comps + c];
                    CmykToRgb(unit, rgb);
                    std::memcpy(lastCmyk_, s, sizeof s);
                    std::memcpy(lastRgb_, rgb, 3);
                }
                p[0] = rgb[2];
                p[1] = rgb[1];
                p[2] = rgb[0];
            }
        }
    }

  private:
    uint32_t Sample(const uint8_t* in, uint32_t i) const {
        switch (bpc_) {
            case 8:
                return in[i];
            case 16:
                return (static_cast<uint32_t>(in[2 * i]) << 8) | in[2 * i + 1];
            default: {
                const size_t bit = static_cast<size_t>(i) * bpc_;
                const uint32_t shift = 8 - bpc_ - static_cast<uint32_t>(bit & 7);
                return (in[bit >> 3] >> shift) & ((1u << bpc_) - 1);
            }
        }
    }

    const ColourModel& model_;
    uint32_t bpc_;
    std::vector<double> decode_;
    RasterImage& out_;
    uint32_t width_ = 0, height_ = 0;
    uint8_t invert_ = 0;
    std::vector<uint8_t> table_;
    std::vector<double> unit_;  // CMYK: each sample as the blend takes it
    uint32_t lastCmyk_[4] = {};
    uint8_t lastRgb_[3] = {};
};

// A qpdf pipeline end that cuts the decoded bytes into rows and hands each
// complete row on; bytes past the last row are ignored.
class RowPipeline : public Pipeline {
  public:
    RowPipeline(size_t rowBytes, uint32_t rows, std::function<void(uint32_t, const uint8_t*)> sink)
        : Pipeline("image rows", nullptr), row_(rowBytes), rows_(rows), sink_(std::move(sink)) {}
    void write(unsigned char const* data, size_t len) override {
        while (len > 0 && done_ < rows_) {
            const size_t take = std::min(len, row_.size() - fill_);
            std::memcpy(row_.data() + fill_, data, take);
            fill_ += take;
            data += take;
            len -= take;
            if (fill_ == row_.size()) {
                sink_(done_++, row_.data());
                fill_ = 0;
            }
        }
    }
    void finish() override {}
    uint32_t RowsDone() const { return done_; }

  private:
    std::vector<uint8_t> row_;
    size_t fill_ = 0;
    uint32_t rows_;
    uint32_t done_ = 0;
    std::function<void(uint32_t, const uint8_t*)> sink_;
};

// ---------------------------------------------------------------------------
// the stream's filters

struct Filters {
    std::vector<std::string> names;  // full names, in order
    std::vector<QPDFObjectHandle> parms;
    // The last filter when it is one of the specialised image codings, else "".
    std::string special;
};

std::string FullFilterName(const std::string& n) {
    static const char* const kShort[][2] = {
        {"/AHx", "/ASCIIHexDecode"}, {"/A85", "/ASCII85Decode"},  {"/LZW", "/LZWDecode"},
        {"/Fl", "/FlateDecode"},     {"/RL", "/RunLengthDecode"}, {"/CCF", "/CCITTFaxDecode"},
        {"/DCT", "/DCTDecode"}};
    for (const auto& s : kShort)
        if (n == s[0]) return s[1];
    return n;
}

Outcome ReadFilters(QPDFObjectHandle dict, Filters& f, std::string& error) {
    QPDFObjectHandle filter = dict.getKey("/Filter");
    QPDFObjectHandle parms = dict.getKey("/DecodeParms");
    std::vector<QPDFObjectHandle> list;
    if (filter.isName()) {
        list.push_back(filter);
    } else if (filter.isArray()) {
        list = filter.getArrayAsVector();
    } else if (!filter.isNull()) {
        error = "the stream's /Filter is not a name";
        return Outcome::kFailed;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        if (!list[i].isName()) {
            error = "the stream's /Filter is not a name";
            return Outcome::kFailed;
        }
        f.names.push_back(FullFilterName(list[i].getName()));
        QPDFObjectHandle p = parms.isArray() ? (i < static_cast<size_t>(parms.getArrayNItems())
                                                    ? parms.getArrayItem(static_cast<int>(i))
                                                    : QPDFObjectHandle::newNull())
                                             : parms;
        f.parms.push_back(p.isDictionary() ? p : QPDFObjectHandle::newNull());
    }
    for (size_t i = 0; i < f.names.size(); ++i) {
        const std::string& n = f.names[i];
        const bool special =
            n == "/CCITTFaxDecode" || n == "/DCTDecode" || n == "/JBIG2Decode" || n == "/JPXDecode";
        const bool generic = n == "/ASCIIHexDecode" || n == "/ASCII85Decode" || n == "/LZWDecode" ||
                             n == "/FlateDecode" || n == "/RunLengthDecode";
        if (special && i + 1 == f.names.size()) {
            f.special = n;
        } else if (!generic) {
            return Outcome::kUnsupported;
        }
    }
    return Outcome::kDone;
}

// The stream's bytes with every filter before the specialised one undone: the
// data the specialised decoder takes.
bool CodedBytes(QPDFObjectHandle stream, const Filters& f, std::string& out, std::string& error) {
    std::shared_ptr<Buffer> raw = stream.getRawStreamData();
    out.assign(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
    raw.reset();
    if (f.names.size() <= 1) return true;
    // A scratch stream holding the raw bytes under the leading filters alone.
    QPDF* owner = stream.getOwningQPDF();
    if (!owner) {
        error = "stream without a document";
        return false;
    }
    QPDFObjectHandle names = QPDFObjectHandle::newArray();
    QPDFObjectHandle parms = QPDFObjectHandle::newArray();
    for (size_t i = 0; i + 1 < f.names.size(); ++i) {
        names.appendItem(QPDFObjectHandle::newName(f.names[i]));
        parms.appendItem(f.parms[i]);
    }
    QPDFObjectHandle scratch = QPDFObjectHandle::newStream(owner);
    scratch.replaceStreamData(out, names, parms);
    std::shared_ptr<Buffer> decoded;
    try {
        decoded = scratch.getStreamData(qpdf_dl_specialized);
    } catch (std::exception& e) {
        error = std::string("cannot undo the stream's filters: ") + e.what();
        return false;
    }
    out.assign(reinterpret_cast<const char*>(decoded->getBuffer()), decoded->getSize());
    scratch.replaceStreamData("", QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    return true;
}

int64_t IntParm(QPDFObjectHandle parms, const char* key, int64_t fallback) {
    if (!parms.isDictionary()) return fallback;
    QPDFObjectHandle v = parms.getKey(key);
    return v.isInteger() ? v.getIntValue() : fallback;
}

bool BoolParm(QPDFObjectHandle parms, const char* key, bool fallback) {
    if (!parms.isDictionary()) return fallback;
    QPDFObjectHandle v = parms.getKey(key);
    return v.isBool() ? v.getBoolValue() : fallback;
}

// ---------------------------------------------------------------------------
// CCITT fax through libtiff

struct MemoryTiff {
    std::vector<uint8_t> bytes;
    uint64_t pos = 0;
    std::string error;
};

tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<MemoryTiff*>(h);
    if (n <= 0 || m->pos >= m->bytes.size()) return 0;
    const uint64_t take = std::min<uint64_t>(static_cast<uint64_t>(n), m->bytes.size() - m->pos);
    std::memcpy(buf, m->bytes.data() + m->pos, take);
    m->pos += take;
    return static_cast<tmsize_t>(take);
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) {
    return 0;
}
toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<MemoryTiff*>(h);
    const uint64_t base = whence == SEEK_CUR ? m->pos : (whence == SEEK_END ? m->bytes.size() : 0);
    m->pos = base + off;
    return m->pos;
}
int TiffClose(thandle_t) {
    return 0;
}
toff_t TiffSize(thandle_t h) {
    return static_cast<MemoryTiff*>(h)->bytes.size();
}
int TiffMap(thandle_t, void**, toff_t*) {
    return 0;
}
void TiffUnmap(thandle_t, void*, toff_t) {}
int TiffError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    char text[256];
    std::vsnprintf(text, sizeof text, fmt, ap);
    auto* m = static_cast<MemoryTiff*>(user);
    if (m->error.empty()) m->error = text;
    return 1;
}
int TiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A little-endian TIFF of one strip around the fax data.
void WrapFaxInTiff(const std::string& data, uint32_t width, uint32_t height, int64_t k,
                   bool byteAlign, std::vector<uint8_t>& out) {
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    const uint16_t compression = k < 0 ? 4 : 3;
    std::vector<Entry> entries = {{256, 4, width},       {257, 4, height}, {258, 3, 1},
                                  {259, 3, compression}, {262, 3, 0},      {273, 4, 0},
                                  {277, 3, 1},           {278, 4, height}, {279, 4, 0}};
    if (k >= 0) entries.push_back({292, 4, (k > 0 ? 1u : 0u) | (byteAlign ? 4u : 0u)});
    const uint32_t ifdSize = 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    const uint32_t dataOffset = 8 + ifdSize;
    entries[5].value = dataOffset;
    entries[8].value = static_cast<uint32_t>(data.size());
    out.clear();
    out.reserve(dataOffset + data.size());
    out.insert(out.end(), {'I', 'I', 42, 0});
    Put32(out, 8);
    Put16(out, static_cast<uint32_t>(entries.size()));
    for (const Entry& e : entries) {
        Put16(out, e.tag);
        Put16(out, e.type);
        Put32(out, 1);
        if (e.type == 3) {
            Put16(out, e.value);
            Put16(out, 0);
        } else {
            Put32(out, e.value);
        }
    }
    Put32(out, 0);
    out.insert(out.end(), data.begin(), data.end());
}

Outcome DecodeFax(const std::string& data, QPDFObjectHandle parms, uint32_t width, uint32_t height,
                  SampleConverter& conv, std::string& error) {
    const int64_t k = IntParm(parms, "/K", 0);
    const int64_t columns = IntParm(parms, "/Columns", 1728);
    if (columns != width) {
        error = "CCITT /Columns (" + std::to_string(columns) + ") differ from the image width (" +
                std::to_string(width) + ")";
        return Outcome::kFailed;
    }
    const bool blackIs1 = BoolParm(parms, "/BlackIs1", false);
    const bool byteAlign = BoolParm(parms, "/EncodedByteAlign", false);
    MemoryTiff mem;
    WrapFaxInTiff(data, width, height, k, byteAlign, mem.bytes);

    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        error = "CCITT: out of memory";
        return Outcome::kFailed;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kRasterMaxMemory));
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, &mem);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffWarning, nullptr);
    TIFF* tif = TIFFClientOpenExt("CCITT", "rm", &mem, TiffRead, TiffWrite, TiffSeek, TiffClose,
                                  TiffSize, TiffMap, TiffUnmap, options);
    TIFFOpenOptionsFree(options);
    if (!tif) {
        error =
            "CCITT: " + (mem.error.empty() ? std::string("cannot start the decoder") : mem.error);
        return Outcome::kFailed;
    }
    if (byteAlign) TIFFSetField(tif, TIFFTAG_FAXMODE, FAXMODE_BYTEALIGN);
    // libtiff sets a 1 bit for black; in the stream's samples black is 0
    // unless /BlackIs1, and the converter maps samples through /Decode.
    RasterImage& out = conv.Out();
    const uint8_t flip = blackIs1 ? 0x00 : 0xFF;
    const uint32_t used = px::UsedRowBytes(width, 1);
    const uint8_t lastMask = px::LastByteMask(width, 1);
    const uint8_t invert = static_cast<uint8_t>(flip ^ conv.Invert());
    Outcome result = Outcome::kDone;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = out.RowPtr(height - 1 - y);
        if (TIFFReadScanline(tif, row, y, 0) < 0) {
            error = "CCITT data damaged at row " + std::to_string(y + 1) + " of " +
                    std::to_string(height) + (mem.error.empty() ? "" : ": " + mem.error);
            result = Outcome::kFailed;
            break;
        }
        if (invert)
            for (uint32_t i = 0; i < used; ++i) row[i] ^= invert;
        row[used - 1] &= lastMask;
    }
    TIFFClose(tif);
    return result;
}

// ---------------------------------------------------------------------------
// JBIG2 through jbig2dec

// jbig2dec's allocations, held within the memory limit of an image: a page
// segment may declare any size.
struct Jbig2Budget {
    Jbig2Allocator base;
    size_t used = 0;
    std::string error;
};
constexpr size_t kJbig2Header = 16;

void* Jbig2Alloc(Jbig2Allocator* a, size_t n) {
    auto* b = reinterpret_cast<Jbig2Budget*>(a);
    if (n > kRasterMaxMemory || b->used + n > kRasterMaxMemory) return nullptr;
    auto* p = static_cast<uint8_t*>(std::malloc(n + kJbig2Header));
    if (!p) return nullptr;
    std::memcpy(p, &n, sizeof n);
    b->used += n;
    return p + kJbig2Header;
}
void Jbig2Free(Jbig2Allocator* a, void* q) {
    if (!q) return;
    auto* b = reinterpret_cast<Jbig2Budget*>(a);
    uint8_t* p = static_cast<uint8_t*>(q) - kJbig2Header;
    size_t n;
    std::memcpy(&n, p, sizeof n);
    b->used -= n;
    std::free(p);
}
void* Jbig2Realloc(Jbig2Allocator* a, void* q, size_t n) {
    if (!q) return Jbig2Alloc(a, n);
    uint8_t* p = static_cast<uint8_t*>(q) - kJbig2Header;
    size_t old;
    std::memcpy(&old, p, sizeof old);
    void* fresh = Jbig2Alloc(a, n);
    if (!fresh) return nullptr;
    std::memcpy(fresh, q, std::min(old, n));
    Jbig2Free(a, q);
    return fresh;
}
void Jbig2Message(void* data, const char* msg, Jbig2Severity severity, uint32_t) {
    auto* b = static_cast<Jbig2Budget*>(data);
    if (severity == JBIG2_SEVERITY_FATAL && b->error.empty() && msg) b->error = msg;
}

Outcome DecodeJbig2(const std::string& data, const std::string& globals, uint32_t width,
                    uint32_t height, SampleConverter& conv, std::string& error) {
    Jbig2Budget budget;
    budget.base = {Jbig2Alloc, Jbig2Free, Jbig2Realloc};
    Jbig2Allocator* alloc = &budget.base;
    auto bytes = [](const std::string& s) {
        return reinterpret_cast<const unsigned char*>(s.data());
    };
    Jbig2GlobalCtx* shared = nullptr;
    if (!globals.empty()) {
        Jbig2Ctx* g = jbig2_ctx_new(alloc, JBIG2_OPTIONS_EMBEDDED, nullptr, Jbig2Message, &budget);
        if (g) {
            jbig2_data_in(g, bytes(globals), globals.size());
            shared = jbig2_make_global_ctx(g);
        }
    }
    Outcome result = Outcome::kFailed;
    Jbig2Ctx* ctx = jbig2_ctx_new(alloc, JBIG2_OPTIONS_EMBEDDED, shared, Jbig2Message, &budget);
    Jbig2Image* page = nullptr;
    if (ctx && jbig2_data_in(ctx, bytes(data), data.size()) >= 0) {
        jbig2_complete_page(ctx);
        page = jbig2_page_out(ctx);
    }
    if (!page) {
        error = "JBIG2: " + (budget.error.empty() ? std::string("no page decoded") : budget.error);
    } else if (page->width != width || page->height < height) {
        error = "JBIG2 page of " + std::to_string(page->width) + " x " +
                std::to_string(page->height) + " does not match the image size";
    } else {
        // jbig2dec sets a 1 bit for black; in the stream's samples black is 0.
        RasterImage& out = conv.Out();
        const uint32_t used = px::UsedRowBytes(width, 1);
        const uint8_t invert = static_cast<uint8_t>(0xFF ^ conv.Invert());
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* src = page->data + static_cast<size_t>(y) * page->stride;
            uint8_t* row = out.RowPtr(height - 1 - y);
            for (uint32_t i = 0; i < used; ++i) row[i] = src[i] ^ invert;
            row[used - 1] &= px::LastByteMask(width, 1);
        }
        result = Outcome::kDone;
    }
    if (page) jbig2_release_page(ctx, page);
    if (ctx) jbig2_ctx_free(ctx);
    if (shared) jbig2_global_ctx_free(shared);
    return result;
}

// ---------------------------------------------------------------------------
// DCT and JPX through our codecs

Outcome DecodeDct(std::string& data, const ColourModel& model, const std::vector<double>& decode,
                  uint32_t width, uint32_t height, RasterImage& out, std::string& error) {
    JpegImage jpeg;
    MemoryStream stream(reinterpret_cast<uint8_t*>(data.data()), data.size());
    if (!jpeg.Decode(&stream)) {
        error = std::string("JPEG data damaged: ") + jpeg.GetLastError();
        return Outcome::kFailed;
    }
    const uint32_t comps = model.family == Family::kGray ? 1 : 3;
    if (jpeg.GetWidth() != width || jpeg.GetHeight() != height) {
        error = "JPEG of " + std::to_string(jpeg.GetWidth()) + " x " +
                std::to_string(jpeg.GetHeight()) + " where the image says " +
                std::to_string(width) + " x " + std::to_string(height);
        return Outcome::kFailed;
    }
    if (jpeg.GetBpp() != 8 * comps) return Outcome::kUnsupported;
    // A /Decode array other than [0 1 ...] remaps each component; the kept
    // JPEG bytes then no longer show these pixels.
    uint8_t table[3][256];
    bool identity = true;
    for (uint32_t c = 0; c < comps; ++c) {
        const double lo = decode.size() >= 2 * c + 2 ? decode[2 * c] : 0.0;
        const double hi = decode.size() >= 2 * c + 2 ? decode[2 * c + 1] : 1.0;
        for (uint32_t v = 0; v < 256; ++v) {
            table[c][v] = UnitToByte(lo + v * (hi - lo) / 255);
            identity = identity && table[c][v] == v;
        }
    }
    out.Transfer(jpeg);
    if (!identity) {
        out.SetSourceJpeg(nullptr);
        const uint32_t used = px::UsedRowBytes(width, 8 * comps);
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t* row = out.RowPtr(y);
            // Rows hold blue, green, red; the Decode array runs red, green, blue.
            for (uint32_t i = 0; i < used; ++i) row[i] = table[comps == 1 ? 0 : 2 - i % 3][row[i]];
        }
    }
    return Outcome::kDone;
}

Outcome DecodeJpx(std::string& data, uint32_t width, uint32_t height, RasterImage& out,
                  std::string& error) {
    RasterImage decoded;
    MemoryStream stream(reinterpret_cast<uint8_t*>(data.data()), data.size());
    const bool codeStream =
        !jasper::LooksLikeJp2(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    if (!jasper::DecodeJpeg2000(decoded, &stream, codeStream)) {
        error = decoded.GetLastError();
        return Outcome::kFailed;
    }
    if (decoded.GetWidth() != width || decoded.GetHeight() != height) {
        error = "JPEG 2000 image does not match the image size";
        return Outcome::kFailed;
    }
    out.Transfer(decoded);
    return Outcome::kDone;
}

// Samples undone by libqpdf (up to `level`) straight into the image's rows.
Outcome DecodeSamples(QPDFObjectHandle stream, qpdf_stream_decode_level_e level,
                      SampleConverter& conv, uint32_t height, std::string& error) {
    RowPipeline rows(conv.RowBytes(), height,
                     [&conv](uint32_t y, const uint8_t* row) { conv.Row(y, row); });
    bool attempted = false;
    bool ok = stream.pipeStreamData(&rows, &attempted, 0, level, true, false);
    if (rows.RowsDone() == height) return Outcome::kDone;  // what follows the last row is moot
    if (!attempted) return Outcome::kUnsupported;
    error = "image data ends after " + std::to_string(rows.RowsDone()) + " of " +
            std::to_string(height) + " rows" + (ok ? "" : " (the stream is damaged)");
    return Outcome::kFailed;
}

// Fills the alpha plane of `out` from the decoded soft mask.
Outcome ApplySoftMask(const RasterImage& mask, RasterImage& out) {
    if (mask.GetWidth() != out.GetWidth() || mask.GetHeight() != out.GetHeight() ||
        (mask.GetBpp() != 1 && mask.GetBpp() != 8))
        return Outcome::kUnsupported;
    if (out.GetBpp() != 24 && !out.IncreaseBpp(24)) return Outcome::kUnsupported;
    out.SetSourceJpeg(nullptr);
    if (!out.AlphaCreate()) return Outcome::kUnsupported;
    uint8_t level[256];
    for (uint32_t i = 0; i < 256; ++i) level[i] = mask.GetPaletteColor(static_cast<uint8_t>(i)).red;
    const uint32_t w = out.GetWidth();
    uint8_t* alpha = out.GetAlphaPlane();
    for (uint32_t y = 0; y < out.GetHeight(); ++y) {
        const uint8_t* row = mask.RowPtr(y);
        uint8_t* a = alpha + static_cast<size_t>(y) * w;
        for (uint32_t x = 0; x < w; ++x)
            a[x] = level[mask.GetBpp() == 8 ? row[x] : px::GetBit(row, x)];
    }
    return Outcome::kDone;
}

Outcome Decode(QPDFObjectHandle image, RasterImage& out, std::string& error, bool withMask) {
    if (!image.isStream()) {
        error = "the image is not a stream";
        return Outcome::kFailed;
    }
    QPDFObjectHandle dict = image.getDict();
    QPDFObjectHandle w = dict.getKey("/Width"), h = dict.getKey("/Height");
    if (!w.isInteger() || !h.isInteger() || w.getIntValue() <= 0 || h.getIntValue() <= 0 ||
        w.getIntValue() > 0x7FFFFFFF || h.getIntValue() > 0x7FFFFFFF) {
        error = "the image has no valid /Width and /Height";
        return Outcome::kFailed;
    }
    const auto width = static_cast<uint32_t>(w.getIntValue());
    const auto height = static_cast<uint32_t>(h.getIntValue());
    Filters filters;
    if (Outcome o = ReadFilters(dict, filters, error); o != Outcome::kDone) return o;
    QPDFObjectHandle parms =
        filters.parms.empty() ? QPDFObjectHandle::newNull() : filters.parms.back();
    if (filters.special == "/JPXDecode") {
        if (!FitsMemoryLimit(width, height, 24)) {
            error = "image of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels is too large for the memory limit";
            return Outcome::kFailed;
        }
        std::string data;
        if (!CodedBytes(image, filters, data, error)) return Outcome::kFailed;
        if (Outcome o = DecodeJpx(data, width, height, out, error); o != Outcome::kDone) return o;
    } else {
        ColourModel model;
        QPDFObjectHandle mask = dict.getKey("/ImageMask");
        uint32_t bpc = 1;
        if (mask.isBool() && mask.getBoolValue()) {
            model.family = Family::kStencil;
        } else {
            if (Outcome o = ResolveColour(dict.getKey("/ColorSpace"), model, error);
                o != Outcome::kDone)
                return o;
            QPDFObjectHandle b = dict.getKey("/BitsPerComponent");
            bpc = b.isInteger() ? static_cast<uint32_t>(b.getIntValue()) : 0;
        }
        if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16) {
            error = "unsupported bits per component";
            return Outcome::kFailed;
        }
        if (model.family == Family::kIndexed && bpc == 16) return Outcome::kUnsupported;
        std::vector<double> decode;
        QPDFObjectHandle d = dict.getKey("/Decode");
        if (d.isArray())
            for (QPDFObjectHandle v : d.getArrayAsVector())
                decode.push_back(v.isNumber() ? v.getNumericValue() : 0.0);
        if (!decode.empty() && decode.size() != 2 * model.components) decode.clear();

        SampleConverter conv(model, bpc, decode, out);
        const std::string& special = filters.special;
        const bool grayOrRgb = model.family == Family::kGray || model.family == Family::kRgb;
        Outcome o;
        if (special == "/DCTDecode" && grayOrRgb && bpc == 8) {
            if (!FitsMemoryLimit(width, height, model.family == Family::kGray ? 8 : 24)) {
                error = "image of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels is too large for the memory limit";
                return Outcome::kFailed;
            }
            std::string data;
            if (!CodedBytes(image, filters, data, error)) return Outcome::kFailed;
            o = DecodeDct(data, model, decode, width, height, out, error);
        } else if (special.empty() || (special == "/DCTDecode" && model.family == Family::kCmyk)) {
            if (!conv.Start(width, height, error)) return Outcome::kFailed;
            o = DecodeSamples(image, special.empty() ? qpdf_dl_specialized : qpdf_dl_all, conv,
                              height, error);
        } else if (special == "/CCITTFaxDecode" || special == "/JBIG2Decode") {
            if (bpc != 1 || (model.family != Family::kGray && model.family != Family::kStencil))
                return Outcome::kUnsupported;
            std::string data;
            if (!CodedBytes(image, filters, data, error)) return Outcome::kFailed;
            if (!conv.Start(width, height, error)) return Outcome::kFailed;
            if (special == "/CCITTFaxDecode") {
                o = DecodeFax(data, parms, width, height, conv, error);
            } else {
                std::string globals;
                QPDFObjectHandle g =
                    parms.isDictionary() ? parms.getKey("/JBIG2Globals") : QPDFObjectHandle();
                if (g.isStream()) {
                    std::shared_ptr<Buffer> b = g.getStreamData(qpdf_dl_specialized);
                    globals.assign(reinterpret_cast<const char*>(b->getBuffer()), b->getSize());
                }
                o = DecodeJbig2(data, globals, width, height, conv, error);
            }
        } else {
            return Outcome::kUnsupported;
        }
        if (o != Outcome::kDone) {
            if (o == Outcome::kFailed) out.Destroy();
            return o;
        }
    }
    QPDFObjectHandle smask = dict.getKey("/SMask");
    if (withMask && smask.isStream()) {
        RasterImage alpha;
        Outcome o = Decode(smask, alpha, error, false);
        if (o == Outcome::kFailed) error = "soft mask: " + error;
        if (o == Outcome::kDone) o = ApplySoftMask(alpha, out);
        return o;
    }
    return Outcome::kDone;
}

}  // namespace

Outcome DecodeImage(QPDFObjectHandle image, RasterImage& out, std::string& error) {
    try {
        return Decode(image, out, error, true);
    } catch (std::exception& e) {
        error = e.what();
        out.Destroy();
        return Outcome::kFailed;
    }
}

}  // namespace sheetmend::pdfin
