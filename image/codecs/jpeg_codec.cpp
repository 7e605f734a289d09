// JPEG files through libjpeg (libjpeg-turbo's 6b interface).
//
// Reading: grey files become 8-bit images with the identity grey ramp, colour
// files 24 bits (libjpeg-turbo writes blue-green-red rows straight into the
// image), CMYK and YCCK files are converted to RGB; the density becomes the
// resolution and `jpegScale`, when set, asks libjpeg for a reduced image
// (1/jpegScale of the size). A file that ends while pixel data is still
// needed, or whose coded data cannot be read, is an error; one that only
// lacks its end marker is not.
//
// Writing takes 24-bit images and images with the 8-bit identity grey ramp;
// the quality is GetJpegQuality() and the JPEG slot of codecOptions selects
// the coding details (see Encode).
//
// libjpeg reports errors through error_exit, which here longjmps back into
// the Run function that set the target; those functions keep their state in
// members. Messages are captured, never printed.
#include "image/codecs/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

// jpeglib.h needs size_t and FILE declared first, and brings the
// configuration that jerror.h depends on.
#include <jpeglib.h>

#include <jerror.h>

#include "image/streams.h"

namespace sheetmend {

namespace {

// No real file needs more scans; hostile progressive files with thousands
// of tiny scans would otherwise keep the decoder busy for minutes.
constexpr int kMaxScans = 500;
constexpr size_t kBufferSize = 65536;
constexpr int kRowsPerCall = 16;

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void OutputMessage(j_common_ptr) {}

void EmitMessage(j_common_ptr cinfo, int level);

void SetUpErrors(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
    err.pub.emit_message = EmitMessage;
    err.message[0] = '\0';
}

void CheckScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "too many scans");
        std::longjmp(err->jump, 1);
    }
}

// ---------------------------------------------------------------------------
// source and destination managers over a ByteStream

struct StreamSource {
    jpeg_source_mgr pub;
    ByteStream* stream;
    bool headerDone;  // the headers up to the first scan have been read
    bool ranOut;      // the stream ended and an end marker was supplied
    bool complete;    // every row has been delivered
    JOCTET buffer[kBufferSize];
};

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<StreamSource*>(cinfo->src);
    const size_t n = src->stream->Read(src->buffer, 1, kBufferSize);
    if (n == 0) {
        // Within the headers nothing can be made of the file. Later an end
        // marker is supplied: when the data is really cut short, the decoder
        // meets that marker while it still needs bits and warns, which
        // EmitMessage turns into an error.
        if (!src->headerDone) ERREXIT(cinfo, JERR_INPUT_EOF);
        src->ranOut = true;
        static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
        src->pub.next_input_byte = kEnd;
        src->pub.bytes_in_buffer = 2;
        return TRUE;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    auto* src = reinterpret_cast<StreamSource*>(cinfo->src);
    auto n = static_cast<size_t>(count);
    while (n > src->pub.bytes_in_buffer) {
        n -= src->pub.bytes_in_buffer;
        src->pub.bytes_in_buffer = 0;
        FillInput(cinfo);
    }
    src->pub.next_input_byte += n;
    src->pub.bytes_in_buffer -= n;
}

void TermSource(j_decompress_ptr) {}

// Warnings are counted, not shown. Those that mean pixel data is missing or
// unreadable end the decoding: the rest of the picture would be invented, and
// a file claiming a huge picture over a little data would keep the decoder
// busy inventing it. Meeting the end marker supplied for a stream that ended
// is reported as the end of the input.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    ++cinfo->err->num_warnings;
    const int code = cinfo->err->msg_code;
    if (code != JWRN_HIT_MARKER && code != JWRN_HUFF_BAD_CODE && code != JWRN_ARITH_BAD_CODE)
        return;
    if (cinfo->is_decompressor && code == JWRN_HIT_MARKER) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        const auto* src = reinterpret_cast<const StreamSource*>(d->src);
        if (src && src->ranOut) cinfo->err->msg_code = JERR_INPUT_EOF;
    }
    ErrorExit(cinfo);
}

struct StreamDestination {
    jpeg_destination_mgr pub;
    ByteStream* stream;
    JOCTET buffer[kBufferSize];
};

void InitDestination(j_compress_ptr cinfo) {
    auto* dst = reinterpret_cast<StreamDestination*>(cinfo->dest);
    dst->pub.next_output_byte = dst->buffer;
    dst->pub.free_in_buffer = kBufferSize;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
    auto* dst = reinterpret_cast<StreamDestination*>(cinfo->dest);
    if (dst->stream->Write(dst->buffer, 1, kBufferSize) != kBufferSize)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    dst->pub.next_output_byte = dst->buffer;
    dst->pub.free_in_buffer = kBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dst = reinterpret_cast<StreamDestination*>(cinfo->dest);
    const size_t n = kBufferSize - dst->pub.free_in_buffer;
    if (n && dst->stream->Write(dst->buffer, 1, n) != n) ERREXIT(cinfo, JERR_FILE_WRITE);
    dst->stream->Flush();
}

// ---------------------------------------------------------------------------
// reading

class JpegReader {
  public:
    JpegReader(RasterImage& image, ByteStream* stream, uint8_t scale) : img_(image), scale_(scale) {
        source_ = std::make_unique<StreamSource>();
        source_->stream = stream;
        source_->headerDone = false;
        source_->ranOut = false;
        source_->complete = false;
    }
    ~JpegReader() {
        if (created_) jpeg_destroy_decompress(&cinfo_);
    }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;

    bool Run();

  private:
    bool Fail(const char* text) {
        char message[256];
        std::snprintf(message, sizeof message, "JPEG: %s", text);
        img_.SetLastError(message);
        return false;
    }
    bool Start();
    void ConvertCmyk(uint32_t first, uint32_t count);
    void KeepSourceData();

    RasterImage& img_;
    uint8_t scale_;
    jpeg_decompress_struct cinfo_{};
    ErrorManager err_{};
    jpeg_progress_mgr progress_{};
    std::unique_ptr<StreamSource> source_;
    bool created_ = false;
    bool cmyk_ = false;
    std::vector<uint8_t> cmykRows_;
    int64_t start_ = -1;  // stream position of the file's first byte
};

bool JpegReader::Start() {
    jpeg_read_header(&cinfo_, TRUE);
    source_->headerDone = true;
    uint32_t bpp = 24;
    switch (cinfo_.jpeg_color_space) {
        case JCS_GRAYSCALE:
            cinfo_.out_color_space = JCS_GRAYSCALE;
            bpp = 8;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            cinfo_.out_color_space = JCS_EXT_BGR;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cinfo_.out_color_space = JCS_CMYK;
            cmyk_ = true;
            break;
        default:
            return Fail("unsupported colour space");
    }
    if (scale_ > 1) {
        cinfo_.scale_num = 1;
        cinfo_.scale_denom = scale_;
    }
    jpeg_calc_output_dimensions(&cinfo_);
    if (!img_.Create(cinfo_.output_width, cinfo_.output_height, bpp, kFormatJpeg)) return false;
    if (bpp == 8) img_.SetGrayPalette();
    if (cinfo_.density_unit == 1) {
        img_.SetXDpi(cinfo_.X_density);
        img_.SetYDpi(cinfo_.Y_density);
    } else if (cinfo_.density_unit == 2) {
        img_.SetXDpi(static_cast<int32_t>(cinfo_.X_density * 2.54 + 0.5));
        img_.SetYDpi(static_cast<int32_t>(cinfo_.Y_density * 2.54 + 0.5));
    }
    if (cmyk_) cmykRows_.resize(static_cast<size_t>(cinfo_.output_width) * 4 * kRowsPerCall);
    return true;
}

// Adobe applications store CMYK inverted (0 = full ink); others store ink
// amounts directly.
void JpegReader::ConvertCmyk(uint32_t first, uint32_t count) {
    const uint32_t w = cinfo_.output_width;
    const bool inverted = cinfo_.saw_Adobe_marker;
    for (uint32_t k = 0; k < count; ++k) {
        const uint8_t* in = cmykRows_.data() + static_cast<size_t>(k) * w * 4;
        uint8_t* out = img_.RowPtr(img_.GetHeight() - 1 - (first + k));
        for (uint32_t x = 0; x < w; ++x, in += 4, out += 3) {
            uint32_t c = in[0], m = in[1], y = in[2], black = in[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                black = 255 - black;
            }
            out[0] = static_cast<uint8_t>((y * black + 127) / 255);
            out[1] = static_cast<uint8_t>((m * black + 127) / 255);
            out[2] = static_cast<uint8_t>((c * black + 127) / 255);
        }
    }
}

bool JpegReader::Run() {
    SetUpErrors(err_);
    cinfo_.err = &err_.pub;
    if (setjmp(err_.jump)) {
        // An error after the last row (a damaged end of file) loses nothing.
        if (source_->complete) return true;
        return Fail(err_.message[0] ? err_.message : "unknown error");
    }
    jpeg_create_decompress(&cinfo_);
    created_ = true;
    // Whole-image buffers (progressive files) stay within the image limit.
    cinfo_.mem->max_memory_to_use = kRasterMaxMemory;
    source_->pub.init_source = InitSource;
    source_->pub.fill_input_buffer = FillInput;
    source_->pub.skip_input_data = SkipInput;
    source_->pub.resync_to_restart = jpeg_resync_to_restart;
    source_->pub.term_source = TermSource;
    source_->pub.bytes_in_buffer = 0;
    source_->pub.next_input_byte = nullptr;
    cinfo_.src = &source_->pub;
    progress_.progress_monitor = CheckScans;
    cinfo_.progress = &progress_;

    start_ = source_->stream->Tell();
    if (!Start()) return false;
    jpeg_start_decompress(&cinfo_);
    const uint32_t height = cinfo_.output_height;
    JSAMPROW rows[kRowsPerCall];
    while (cinfo_.output_scanline < height) {
        const uint32_t first = cinfo_.output_scanline;
        uint32_t want = height - first;
        if (want > kRowsPerCall) want = kRowsPerCall;
        for (uint32_t k = 0; k < want; ++k) {
            rows[k] = cmyk_ ? cmykRows_.data() + static_cast<size_t>(k) * cinfo_.output_width * 4
                            : img_.RowPtr(height - 1 - (first + k));
        }
        const uint32_t got = jpeg_read_scanlines(&cinfo_, rows, want);
        if (got == 0) return Fail("no rows delivered");
        if (cmyk_) ConvertCmyk(first, got);
    }
    source_->complete = true;
    jpeg_finish_decompress(&cinfo_);
    KeepSourceData();
    return true;
}

// Keeps the file's bytes, from its first byte to its end marker, for writers
// that can embed them unchanged (PDF). Only files that any JPEG reader
// decodes to these very pixels qualify: a whole file at full size, 8-bit grey
// or colour, Huffman-coded; not a CMYK file (converted here), not a reduced
// decode, not a file whose end was missing.
void JpegReader::KeepSourceData() {
    ByteStream* stream = source_->stream;
    const bool plain = !source_->ranOut && !cmyk_ && !cinfo_.arith_code &&
                       cinfo_.data_precision == 8 && cinfo_.output_width == cinfo_.image_width &&
                       cinfo_.output_height == cinfo_.image_height &&
                       (cinfo_.num_components == 1 || cinfo_.num_components == 3);
    if (!plain || start_ < 0) return;
    const int64_t here = stream->Tell();
    if (here < 0) return;
    const int64_t end = here - static_cast<int64_t>(source_->pub.bytes_in_buffer);
    if (end <= start_ || end - start_ > static_cast<int64_t>(kRasterMaxMemory)) return;
    auto kept = std::make_shared<SourceJpeg>();
    kept->data.resize(static_cast<size_t>(end - start_));
    kept->components = static_cast<uint32_t>(cinfo_.num_components);
    const bool read = stream->Seek(start_, SEEK_SET) &&
                      stream->Read(kept->data.data(), 1, kept->data.size()) == kept->data.size();
    stream->Seek(here, SEEK_SET);
    if (!read) return;
    kept->fingerprint = img_.PixelFingerprint();
    img_.SetSourceJpeg(std::move(kept));
}

// ---------------------------------------------------------------------------
// writing

class JpegWriter {
  public:
    JpegWriter(const RasterImage& image, ByteStream* stream) : img_(image) {
        dest_ = std::make_unique<StreamDestination>();
        dest_->stream = stream;
    }
    ~JpegWriter() {
        if (created_) jpeg_destroy_compress(&cinfo_);
    }
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;

    bool Run();
    const char* Message() const { return err_.message; }

  private:
    const RasterImage& img_;
    jpeg_compress_struct cinfo_{};
    ErrorManager err_{};
    std::unique_ptr<StreamDestination> dest_;
    bool created_ = false;
};

bool JpegWriter::Run() {
    SetUpErrors(err_);
    cinfo_.err = &err_.pub;
    if (setjmp(err_.jump)) return false;
    jpeg_create_compress(&cinfo_);
    created_ = true;
    dest_->pub.init_destination = InitDestination;
    dest_->pub.empty_output_buffer = EmptyOutput;
    dest_->pub.term_destination = TermDestination;
    cinfo_.dest = &dest_->pub;

    const bool colour = img_.GetBpp() == 24;
    cinfo_.image_width = img_.GetWidth();
    cinfo_.image_height = img_.GetHeight();
    cinfo_.input_components = colour ? 3 : 1;
    cinfo_.in_color_space = colour ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo_);

    const uint32_t options = img_.GetCodecOption(kFormatJpeg);
    jpeg_set_quality(&cinfo_, img_.GetJpegQuality(), (options & 0x1) ? TRUE : FALSE);
    if (options & 0x4) jpeg_set_colorspace(&cinfo_, JCS_GRAYSCALE);
    if (options & 0x2) cinfo_.arith_code = TRUE;
    if (options & 0x8) cinfo_.optimize_coding = TRUE;
    if (options & 0x10) jpeg_simple_progression(&cinfo_);
    if (options & 0x40) cinfo_.smoothing_factor = 50;
    if (cinfo_.num_components == 3) {
        int h = 2, v = 2;
        if (options & 0x2000) {
            h = v = 1;
        } else if (options & 0x1000) {
            v = 1;
        }
        cinfo_.comp_info[0].h_samp_factor = h;
        cinfo_.comp_info[0].v_samp_factor = v;
    }
    auto density = [](int32_t dpi) -> UINT16 {
        if (dpi < 1) return 1;
        if (dpi > 65535) return 65535;
        return static_cast<UINT16>(dpi);
    };
    cinfo_.density_unit = 1;
    cinfo_.X_density = density(img_.GetXDpi());
    cinfo_.Y_density = density(img_.GetYDpi());

    jpeg_start_compress(&cinfo_, TRUE);
    const uint32_t height = img_.GetHeight();
    JSAMPROW rows[kRowsPerCall];
    while (cinfo_.next_scanline < height) {
        const uint32_t first = cinfo_.next_scanline;
        uint32_t count = height - first;
        if (count > kRowsPerCall) count = kRowsPerCall;
        // libjpeg only reads the rows it is given.
        for (uint32_t k = 0; k < count; ++k)
            rows[k] = const_cast<JSAMPROW>(img_.RowPtr(height - 1 - (first + k)));
        jpeg_write_scanlines(&cinfo_, rows, count);
    }
    jpeg_finish_compress(&cinfo_);
    return true;
}

}  // namespace

bool JpegImage::Decode(ByteStream* stream) {
    if (!BeginDecode(stream)) return false;
    JpegReader reader(*this, stream, info_.jpegScale);
    return reader.Run();
}

// Bits of the JPEG codecOptions slot: 0x1 baseline-limited quantisation
// tables, 0x2 arithmetic coding, 0x4 greyscale output, 0x8 optimised Huffman
// tables, 0x10 progressive, 0x40 input smoothing, 0x1000 chroma sampling 2x1,
// 0x2000 sampling 1x1 (2x2 otherwise). Density is written in dots per inch.
bool JpegImage::Encode(ByteStream* stream) {
    if (!BeginEncode(stream)) return false;
    if (GetBpp() != 24 && !(GetBpp() == 8 && IsGrayScale())) {
        SetLastError("JPEG can save only RGB or GreyScale images");
        return false;
    }
    JpegWriter writer(*this, stream);
    if (!writer.Run()) {
        char message[256];
        std::snprintf(message, sizeof message, "Error saving JPEG file: %s", writer.Message());
        SetLastError(message);
        return false;
    }
    return true;
}

}  // namespace sheetmend
