// JPEG 2000 through OpenJPEG. The library reads from and writes to our
// ByteStream through its stream callbacks; its messages are captured into
// lastError instead of being printed. Before any sample is decoded the
// declared size of every component is checked against the memory limit of an
// image, because the library allocates each component whole.
#include "image/codecs/jpeg2000_codec.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/streams.h"

namespace sheetmend::jasper {

namespace {

const uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                   0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};

bool Fail(RasterImage& image, const char* text) {
    image.SetLastError(text);
    return false;
}

// The window of the caller's stream the library sees: from where the stream
// stood on entry to its end.
struct StreamWindow {
    ByteStream* stream;
    int64_t start;
    int64_t size;  // bytes available when reading
};

OPJ_SIZE_T ReadCallback(void* buffer, OPJ_SIZE_T bytes, void* user) {
    auto* w = static_cast<StreamWindow*>(user);
    const size_t n = w->stream->Read(buffer, 1, bytes);
    return n == 0 ? static_cast<OPJ_SIZE_T>(-1) : n;
}

OPJ_SIZE_T WriteCallback(void* buffer, OPJ_SIZE_T bytes, void* user) {
    auto* w = static_cast<StreamWindow*>(user);
    const size_t n = w->stream->Write(buffer, 1, bytes);
    return n == bytes ? n : static_cast<OPJ_SIZE_T>(-1);
}

// Skips and seeks stay inside the window; a reader is never moved past the
// end of the data.
OPJ_OFF_T SkipCallback(OPJ_OFF_T bytes, void* user) {
    auto* w = static_cast<StreamWindow*>(user);
    const int64_t here = w->stream->Tell();
    int64_t target = here + bytes;
    if (target < w->start) return -1;
    if (w->size >= 0 && target > w->start + w->size) {
        w->stream->Seek(w->start + w->size, SEEK_SET);
        return -1;
    }
    return w->stream->Seek(target, SEEK_SET) ? bytes : -1;
}

OPJ_BOOL SeekCallback(OPJ_OFF_T offset, void* user) {
    auto* w = static_cast<StreamWindow*>(user);
    if (offset < 0 || (w->size >= 0 && offset > w->size)) return OPJ_FALSE;
    return w->stream->Seek(w->start + offset, SEEK_SET) ? OPJ_TRUE : OPJ_FALSE;
}

void QuietHandler(const char*, void*) {}

// Keeps the library's first error, without its trailing newline.
void ErrorHandler(const char* msg, void* user) {
    auto* text = static_cast<std::string*>(user);
    if (!text->empty() || !msg) return;
    *text = "JPEG 2000: ";
    *text += msg;
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
}

// Owners for the library's objects.
struct CodecOwner {
    opj_codec_t* p = nullptr;
    ~CodecOwner() {
        if (p) opj_destroy_codec(p);
    }
};
struct StreamOwner {
    opj_stream_t* p = nullptr;
    ~StreamOwner() {
        if (p) opj_stream_destroy(p);
    }
};
struct ImageOwner {
    opj_image_t* p = nullptr;
    ~ImageOwner() {
        if (p) opj_image_destroy(p);
    }
};

opj_stream_t* MakeStream(StreamWindow* window, bool input) {
    opj_stream_t* s = opj_stream_create(1 << 16, input ? OPJ_TRUE : OPJ_FALSE);
    if (!s) return nullptr;
    opj_stream_set_user_data(s, window, nullptr);
    if (input) {
        opj_stream_set_user_data_length(s, static_cast<OPJ_UINT64>(window->size));
        opj_stream_set_read_function(s, ReadCallback);
    } else {
        opj_stream_set_write_function(s, WriteCallback);
    }
    opj_stream_set_skip_function(s, SkipCallback);
    opj_stream_set_seek_function(s, SeekCallback);
    return s;
}

void SetHandlers(opj_codec_t* codec, std::string* error) {
    opj_set_info_handler(codec, QuietHandler, nullptr);
    opj_set_warning_handler(codec, QuietHandler, nullptr);
    opj_set_error_handler(codec, ErrorHandler, error);
}

// A component's sample at image pixel (x, y) counted from the top, reduced to
// 8 bits unsigned.
struct ComponentReader {
    const opj_image_comp_t* c;
    uint32_t x0, y0;  // the image's origin on the reference grid
    int32_t offset;
    uint32_t shift;   // precision above 8 bits
    uint32_t maxval;  // precision below 8 bits: the largest value

    ComponentReader(const opj_image_comp_t* comp, uint32_t imageX0, uint32_t imageY0)
        : c(comp), x0(imageX0), y0(imageY0) {
        offset = comp->sgnd ? static_cast<int32_t>(1u << (comp->prec - 1)) : 0;
        shift = comp->prec > 8 ? comp->prec - 8 : 0;
        maxval = comp->prec < 8 ? (1u << comp->prec) - 1 : 255;
    }
    uint8_t At(uint32_t x, uint32_t y) const {
        // Subsampled components: the sample covering this grid point.
        int64_t cx = static_cast<int64_t>((x0 + x) / c->dx) - c->x0;
        int64_t cy = static_cast<int64_t>((y0 + y) / c->dy) - c->y0;
        cx = std::clamp<int64_t>(cx, 0, c->w - 1);
        cy = std::clamp<int64_t>(cy, 0, c->h - 1);
        int64_t v = static_cast<int64_t>(c->data[static_cast<size_t>(cy) * c->w + cx]) + offset;
        v >>= shift;
        if (maxval != 255) v = (std::clamp<int64_t>(v, 0, maxval) * 255 + maxval / 2) / maxval;
        return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
    }
};

uint8_t Clamp255(double v) {
    return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
}

uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

bool ReadAt(ByteStream* s, int64_t at, void* out, size_t n) {
    return s->Seek(at, SEEK_SET) && s->Read(out, 1, n) == n;
}

// Offset of the code stream inside a JP2 file (the contents of its jp2c
// box), found by walking the top-level boxes; -1 if there is none.
int64_t FindCodeStream(ByteStream* s, int64_t start, int64_t size) {
    int64_t pos = 0;
    while (pos + 8 <= size) {
        uint8_t box[16];
        if (!ReadAt(s, start + pos, box, 8)) return -1;
        uint64_t length = Be32(box);
        int64_t header = 8;
        if (length == 1) {
            if (pos + 16 > size || !ReadAt(s, start + pos + 8, box + 8, 8)) return -1;
            length = (static_cast<uint64_t>(Be32(box + 8)) << 32) | Be32(box + 12);
            header = 16;
        } else if (length == 0) {
            length = static_cast<uint64_t>(size - pos);
        }
        if (length < static_cast<uint64_t>(header) || length > static_cast<uint64_t>(size - pos))
            return -1;
        if (std::memcmp(box + 4, "jp2c", 4) == 0) return pos + header;
        pos += static_cast<int64_t>(length);
    }
    return -1;
}

// OpenJPEG sets up bookkeeping for every tile and tile-component while it
// reads the header, before any check against the data. Each tile needs a
// tile-part header of at least 14 bytes in the file, so the tile count the
// SIZ marker declares is checked against the bytes present first.
const char* CheckTiling(ByteStream* s, int64_t start, int64_t size, bool codeStream) {
    const int64_t at = codeStream ? 0 : FindCodeStream(s, start, size);
    uint8_t siz[42];
    if (at < 0 || at + static_cast<int64_t>(sizeof siz) > size ||
        !ReadAt(s, start + at, siz, sizeof siz) || siz[0] != 0xFF || siz[1] != 0x4F ||
        siz[2] != 0xFF || siz[3] != 0x51)
        return "JPEG 2000: no code stream";
    const uint64_t xsiz = Be32(siz + 8), ysiz = Be32(siz + 12);
    const uint64_t xtsiz = Be32(siz + 24), ytsiz = Be32(siz + 28);
    const uint64_t xtosiz = Be32(siz + 32), ytosiz = Be32(siz + 36);
    const uint64_t comps = static_cast<uint64_t>((siz[40] << 8) | siz[41]);
    if (xtsiz == 0 || ytsiz == 0 || xsiz <= xtosiz || ysiz <= ytosiz || comps == 0)
        return "JPEG 2000: bad image and tile size";
    const uint64_t tiles =
        ((xsiz - xtosiz + xtsiz - 1) / xtsiz) * ((ysiz - ytosiz + ytsiz - 1) / ytsiz);
    if (tiles > 1 + static_cast<uint64_t>(size) / 14 || tiles * comps > 65536)
        return "JPEG 2000: more tiles than the file can hold";
    return nullptr;
}

}  // namespace

bool LooksLikeJp2(const uint8_t* head, size_t size) {
    return size >= sizeof kJp2Signature &&
           std::memcmp(head, kJp2Signature, sizeof kJp2Signature) == 0;
}

bool LooksLikeJpc(const uint8_t* head, size_t size) {
    return size >= 4 && head[0] == 0xFF && head[1] == 0x4F && head[2] == 0xFF && head[3] == 0x51;
}

bool DecodeJpeg2000(RasterImage& image, ByteStream* stream, bool codeStream) {
    StreamWindow window{stream, stream->Tell(), stream->Size() - stream->Tell()};
    if (window.start < 0 || window.size <= 0) return Fail(image, "JPEG 2000: empty stream");
    if (const char* why = CheckTiling(stream, window.start, window.size, codeStream))
        return Fail(image, why);
    if (!stream->Seek(window.start, SEEK_SET))
        return Fail(image, "JPEG 2000: cannot read the stream");
    std::string error;
    CodecOwner codec;
    codec.p = opj_create_decompress(codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!codec.p) return Fail(image, "JPEG 2000: cannot create the decoder");
    SetHandlers(codec.p, &error);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    if (!opj_setup_decoder(codec.p, &params))
        return Fail(image, "JPEG 2000: cannot set up the decoder");
    opj_codec_set_threads(codec.p, 1);
    StreamOwner s;
    s.p = MakeStream(&window, true);
    if (!s.p) return Fail(image, "JPEG 2000: cannot create a stream");

    ImageOwner img;
    if (!opj_read_header(s.p, codec.p, &img.p) || !img.p)
        return Fail(image, error.empty() ? "JPEG 2000: bad header" : error.c_str());
    const opj_image_t* h = img.p;
    if (h->numcomps == 0 || h->x1 <= h->x0 || h->y1 <= h->y0)
        return Fail(image, "JPEG 2000: empty image");
    const uint32_t width = h->x1 - h->x0, height = h->y1 - h->y0;

    // Only the components that make the picture are decoded: grey, grey and
    // alpha, colour, colour and alpha.
    const uint32_t used = std::min<uint32_t>(h->numcomps, 4);
    uint64_t sampleBytes = 0;
    for (uint32_t i = 0; i < used; ++i) {
        const opj_image_comp_t& c = h->comps[i];
        if (c.prec == 0 || c.prec > 31 || c.dx == 0 || c.dy == 0)
            return Fail(image, "JPEG 2000: unsupported component");
        sampleBytes += static_cast<uint64_t>(c.w) * c.h * sizeof(OPJ_INT32);
    }
    // The decoder holds every decoded component as 32-bit samples; that and
    // our own image must both stay within the memory limit.
    if (sampleBytes > kRasterMaxMemory ||
        static_cast<uint64_t>(width) * height * 3 > kRasterMaxMemory)
        return Fail(image, "RASTER_MAX_MEMORY exceeded");
    if (h->numcomps > used) {
        const OPJ_UINT32 indices[4] = {0, 1, 2, 3};
        if (!opj_set_decoded_components(codec.p, used, indices, OPJ_FALSE))
            return Fail(image, error.empty() ? "JPEG 2000: bad components" : error.c_str());
    }
    if (!opj_decode(codec.p, s.p, img.p) || !opj_end_decompress(codec.p, s.p))
        return Fail(image, error.empty() ? "JPEG 2000: cannot decode the image" : error.c_str());

    const opj_image_t* d = img.p;
    const uint32_t n = d->numcomps;
    if (n == 0) return Fail(image, "JPEG 2000: no components decoded");
    for (uint32_t i = 0; i < n && i < 4; ++i) {
        const opj_image_comp_t& c = d->comps[i];
        if (!c.data || c.w == 0 || c.h == 0 || c.prec == 0 || c.prec > 31 || c.dx == 0 || c.dy == 0)
            return Fail(image, "JPEG 2000: component without data");
    }
    const bool colour = n >= 3;
    const uint32_t alphaIndex = colour ? 3 : 1;
    const bool withAlpha =
        n > alphaIndex && (d->comps[alphaIndex].alpha != 0 || n == alphaIndex + 1);
    if (!image.Create(width, height, colour ? 24 : 8, codeStream ? kFormatJpc : kFormatJp2))
        return false;
    if (!colour) image.SetGrayPalette();
    if (withAlpha && !image.AlphaCreate()) return Fail(image, "JPEG 2000: no memory for alpha");

    std::vector<ComponentReader> comps;
    for (uint32_t i = 0; i < n && i < 4; ++i) comps.emplace_back(&d->comps[i], d->x0, d->y0);
    const bool ycc = colour && d->color_space == OPJ_CLRSPC_SYCC;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.RowPtr(height - 1 - y);
        uint8_t* alphaRow =
            withAlpha ? image.GetAlphaPlane() + static_cast<size_t>(height - 1 - y) * width
                      : nullptr;
        for (uint32_t x = 0; x < width; ++x) {
            if (!colour) {
                row[x] = comps[0].At(x, y);
            } else if (ycc) {
                const double yy = comps[0].At(x, y), cb = comps[1].At(x, y) - 128.0,
                             cr = comps[2].At(x, y) - 128.0;
                row[3 * x + 2] = Clamp255(yy + 1.402 * cr);
                row[3 * x + 1] = Clamp255(yy - 0.344136 * cb - 0.714136 * cr);
                row[3 * x] = Clamp255(yy + 1.772 * cb);
            } else {
                row[3 * x + 2] = comps[0].At(x, y);
                row[3 * x + 1] = comps[1].At(x, y);
                row[3 * x] = comps[2].At(x, y);
            }
            if (alphaRow) alphaRow[x] = comps[alphaIndex].At(x, y);
        }
    }
    return true;
}

bool EncodeJpeg2000(RasterImage& image, ByteStream* stream, bool codeStream) {
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    const bool rgb = image.GetBpp() == 24;
    const uint32_t numComps = rgb ? 3 : 1;
    opj_image_cmptparm_t parms[3];
    std::memset(parms, 0, sizeof parms);
    for (uint32_t i = 0; i < numComps; ++i) {
        parms[i].dx = parms[i].dy = 1;
        parms[i].w = width;
        parms[i].h = height;
        parms[i].prec = 8;
        parms[i].sgnd = 0;
    }
    ImageOwner img;
    img.p = opj_image_create(numComps, parms, rgb ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    if (!img.p) return Fail(image, "JPEG 2000: no memory for the image");
    img.p->x0 = img.p->y0 = 0;
    img.p->x1 = width;
    img.p->y1 = height;
    const RgbQuad* pal = image.GetPalette();
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = image.RowPtr(height - 1 - y);
        const size_t base = static_cast<size_t>(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            if (rgb) {
                img.p->comps[0].data[base + x] = row[3 * x + 2];
                img.p->comps[1].data[base + x] = row[3 * x + 1];
                img.p->comps[2].data[base + x] = row[3 * x];
            } else {
                img.p->comps[0].data[base + x] = pal[px::GetIndex(row, x, image.GetBpp())].red;
            }
        }
    }

    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = 0;  // lossless
    params.cp_disto_alloc = 1;
    params.irreversible = 0;
    params.tcp_mct = rgb ? 1 : 0;
    // Every resolution level must keep at least one sample per side.
    params.numresolution = 1;
    while (params.numresolution < 6 && (1u << params.numresolution) <= std::min(width, height))
        ++params.numresolution;

    std::string error;
    CodecOwner codec;
    codec.p = opj_create_compress(codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!codec.p) return Fail(image, "JPEG 2000: cannot create the encoder");
    SetHandlers(codec.p, &error);
    if (!opj_setup_encoder(codec.p, &params, img.p))
        return Fail(image, error.empty() ? "JPEG 2000: cannot set up the encoder" : error.c_str());
    StreamWindow window{stream, stream->Tell(), -1};
    StreamOwner s;
    s.p = MakeStream(&window, false);
    if (!s.p) return Fail(image, "JPEG 2000: cannot create a stream");
    if (!opj_start_compress(codec.p, img.p, s.p) || !opj_encode(codec.p, s.p) ||
        !opj_end_compress(codec.p, s.p))
        return Fail(image, error.empty() ? "JPEG 2000: cannot encode the image" : error.c_str());
    return true;
}

}  // namespace sheetmend::jasper
