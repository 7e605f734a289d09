// Camera RAW files through LibRaw, developed to 8-bit sRGB with the camera's
// white balance. LibRaw reads the whole file from memory. Its sizes are
// checked against the memory limit of an image before it unpacks anything,
// its own allocations are capped at the same limit, and its data and memory
// error callbacks are captured instead of printing.
//
// LibRaw also recognises a few headerless raw dumps of old cameras by the
// file size alone, which would take any ordinary file of such a size for a
// raw image. Only files that LibRaw recognises by their content are taken:
// a file that is no longer recognised when its last byte is left out was
// recognised by its size.
#include "image/codecs/raw_codec.h"

#include <libraw/libraw.h>

#include <memory>
#include <string>
#include <vector>

#include "image/streams.h"

namespace sheetmend {

namespace {

void DataError(void* data, const char*, const int offset) {
    auto* text = static_cast<std::string*>(data);
    if (text->empty())
        *text = offset < 0 ? "RAW: unexpected end of file"
                           : "RAW: corrupt data at offset " + std::to_string(offset);
}

void MemoryError(void* data, const char*, const char* where) {
    auto* text = static_cast<std::string*>(data);
    if (text->empty()) *text = std::string("RAW: out of memory in ") + (where ? where : "LibRaw");
}

void Quiet(LibRaw& raw, std::string* error) {
    raw.set_dataerror_handler(DataError, error);
    raw.set_memerror_handler(MemoryError, error);
    raw.imgdata.params.max_raw_memory_mb = kRasterMaxMemory >> 20;
}

struct ProcessedImage {
    libraw_processed_image_t* p = nullptr;
    ~ProcessedImage() {
        if (p) LibRaw::dcraw_clear_mem(p);
    }
};

}  // namespace

bool RawImage::Decode(ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    const int64_t start = stream->Tell();
    const int64_t total = stream->Size();
    if (start < 0 || total <= start) {
        SetLastError("RAW: empty file");
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(total - start);
    if (size > kRasterMaxMemory) {
        SetLastError("RAW: file too large");
        return false;
    }
    std::vector<uint8_t> data(static_cast<size_t>(size));
    if (stream->Read(data.data(), 1, data.size()) != data.size()) {
        SetLastError("RAW: read error");
        return false;
    }

    std::string error;
    auto raw = std::make_unique<LibRaw>(0);
    Quiet(*raw, &error);
    int rc = raw->open_buffer(data.data(), data.size());
    if (rc != LIBRAW_SUCCESS) {
        SetLastError("RAW: not a camera raw file");
        return false;
    }
    // Recognised by content, or only by the file's size?
    raw->recycle();
    Quiet(*raw, &error);
    if (data.size() < 2 || raw->open_buffer(data.data(), data.size() - 1) != LIBRAW_SUCCESS) {
        SetLastError("RAW: not a camera raw file");
        return false;
    }
    raw->recycle();
    Quiet(*raw, &error);
    error.clear();
    if ((rc = raw->open_buffer(data.data(), data.size())) != LIBRAW_SUCCESS) {
        SetLastError(error.empty() ? "RAW: not a camera raw file" : error.c_str());
        return false;
    }

    // What unpacking and developing will allocate: the raw data (up to four
    // 16-bit samples a photosite), the working image (four 16-bit samples a
    // pixel) and our 24-bit result.
    const libraw_image_sizes_t& sz = raw->imgdata.sizes;
    const uint64_t rawBytes = static_cast<uint64_t>(sz.raw_width) * sz.raw_height * 8;
    const uint64_t workBytes = static_cast<uint64_t>(sz.iwidth) * sz.iheight * 8;
    const uint64_t outBytes = static_cast<uint64_t>(sz.width) * sz.height * 3;
    if (sz.raw_width == 0 || sz.raw_height == 0 || sz.width == 0 || sz.height == 0) {
        SetLastError("RAW: no image in the file");
        return false;
    }
    if (rawBytes > kRasterMaxMemory || workBytes > kRasterMaxMemory ||
        outBytes > kRasterMaxMemory) {
        SetLastError("RASTER_MAX_MEMORY exceeded");
        return false;
    }
    // Raw data is stored at one bit a photosite or more, even losslessly
    // compressed; a header that declares more photosites than that describes
    // data the file does not hold.
    if (static_cast<uint64_t>(sz.raw_width) * sz.raw_height > size * 8) {
        SetLastError("RAW: file too short for its declared size");
        return false;
    }

    libraw_output_params_t& params = raw->imgdata.params;
    params.use_camera_wb = 1;
    params.output_color = 1;  // sRGB
    params.output_bps = 8;
    if ((rc = raw->unpack()) != LIBRAW_SUCCESS || (rc = raw->dcraw_process()) != LIBRAW_SUCCESS) {
        SetLastError(error.empty() ? (std::string("RAW: ") + libraw_strerror(rc)).c_str()
                                   : error.c_str());
        return false;
    }
    ProcessedImage out;
    out.p = raw->dcraw_make_mem_image(&rc);
    if (!out.p || out.p->type != LIBRAW_IMAGE_BITMAP || out.p->colors != 3 || out.p->bits != 8 ||
        out.p->width == 0 || out.p->height == 0 ||
        out.p->data_size < static_cast<unsigned>(out.p->width) * out.p->height * 3) {
        SetLastError("RAW: cannot develop the image");
        return false;
    }
    const uint32_t width = out.p->width, height = out.p->height;
    if (!Create(width, height, 24, kFormatRaw)) return false;
    const uint8_t* src = out.p->data;
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t* row = RowPtr(height - 1 - r);
        for (uint32_t x = 0; x < width; ++x, src += 3) {
            row[3 * x] = src[2];
            row[3 * x + 1] = src[1];
            row[3 * x + 2] = src[0];
        }
    }
    SetXDpi(96);
    SetYDpi(96);
    return true;
}

bool RawImage::Encode(ByteStream*) {
    SetLastError("Save RAW not supported");
    return false;
}

}  // namespace sheetmend
