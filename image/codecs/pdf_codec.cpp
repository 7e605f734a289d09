// PDF output through libqpdf: PdfWriter and the one-page EncodePdf. The
// invisible text layer of a searchable page is pdf_text_layer.cpp's.
//
// A page is coded as soon as it is added (Group 4, Flate or the original DCT
// data, see pdf_writer.h; a 1-bit page whose Group 4 data is large is tried
// with Flate too, see CodeBilevel) and only the coded bytes are kept, appended to an
// unlinked temporary file. libqpdf holds the document's objects; each image
// stream names its bytes in that file through a stream data provider, so the
// pixels of earlier pages are gone by the time the next page is added. Close
// has libqpdf write the whole file (object streams, cross-reference stream)
// through a pipeline into our ByteStream.
//
// libqpdf reports errors by exceptions; they are caught here and become a
// false result with lastError. Its warnings are suppressed.
// libqpdf's old smart pointer is not used; this says so before its headers.
#define POINTERHOLDER_TRANSITION 4
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/codecs/group4.h"
#include "image/codecs/pdf_codec.h"
#include "image/codecs/pdf_text_layer.h"
#include "image/pdf_writer.h"
#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/safe_file.h"
#include "image/streams.h"

namespace sheetmend {

namespace {

using Handle = QPDFObjectHandle;

// A span of bytes in the data file.
struct Span {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The coded image data of every page so far, in one temporary file that has
// no name (it is removed the moment it is made, and vanishes with its
// descriptor), and the provider through which libqpdf reads it back.
class PageData : public QPDFObjectHandle::StreamDataProvider {
  public:
    PageData() {
        const char* dir = std::getenv("TMPDIR");
        std::string path = std::string(dir && *dir ? dir : "/tmp") + "/sheetmend-pdf-XXXXXX";
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        fd_ = mkstemp(name.data());
        if (fd_ < 0) {
            name.assign(std::begin("/tmp/sheetmend-pdf-XXXXXX"),
                        std::end("/tmp/sheetmend-pdf-XXXXXX"));
            fd_ = mkstemp(name.data());
        }
        if (fd_ >= 0) unlink(name.data());
    }
    ~PageData() override {
        if (fd_ >= 0) close(fd_);
    }
    PageData(const PageData&) = delete;
    PageData& operator=(const PageData&) = delete;

    bool Usable() const { return fd_ >= 0; }
    uint64_t Size() const { return size_; }

    bool Append(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (n > 0) {
            const ssize_t done = ::pwrite(fd_, p, n, static_cast<off_t>(size_));
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) return false;
            p += done;
            n -= static_cast<size_t>(done);
            size_ += static_cast<uint64_t>(done);
        }
        return true;
    }

    // Drops everything from `offset` on (data not yet attached to a
    // stream); the next Append writes there.
    void DropFrom(uint64_t offset) {
        if (offset < size_) size_ = offset;
    }

    void Attach(QPDFObjGen id, Span span) { spans_[id] = span; }

    void provideStreamData(QPDFObjGen const& og, Pipeline* pipeline) override {
        const auto it = spans_.find(og);
        if (it == spans_.end()) throw std::runtime_error("image data missing");
        std::vector<unsigned char> buffer(1 << 16);
        uint64_t at = it->second.offset;
        uint64_t left = it->second.length;
        while (left > 0) {
            const size_t want = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
            const ssize_t got = ::pread(fd_, buffer.data(), want, static_cast<off_t>(at));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) throw std::runtime_error("cannot read back the image data");
            pipeline->write(buffer.data(), static_cast<size_t>(got));
            at += static_cast<uint64_t>(got);
            left -= static_cast<uint64_t>(got);
        }
        pipeline->finish();
    }

  private:
    int fd_ = -1;
    uint64_t size_ = 0;
    std::map<QPDFObjGen, Span> spans_;
};

// Deflates rows handed to it one at a time into the data file.
class Deflater {
  public:
    explicit Deflater(PageData& data) : data_(data) {
        ok_ = deflateInit(&z_, Z_DEFAULT_COMPRESSION) == Z_OK;
        span_.offset = data.Size();
    }
    ~Deflater() { deflateEnd(&z_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void Add(const uint8_t* bytes, size_t n) { Run(bytes, n, Z_NO_FLUSH); }
    // The bytes stored so far (zlib holds back some of what it was given).
    uint64_t Stored() const { return data_.Size() - span_.offset; }
    // The span of the finished stream; false when anything failed.
    bool Finish(Span& span) {
        Run(nullptr, 0, Z_FINISH);
        span_.length = data_.Size() - span_.offset;
        span = span_;
        return ok_;
    }

  private:
    void Run(const uint8_t* bytes, size_t n, int flush) {
        if (!ok_) return;
        z_.next_in = const_cast<Bytef*>(bytes);
        z_.avail_in = static_cast<uInt>(n);
        uint8_t out[1 << 15];
        int status;
        do {
            z_.next_out = out;
            z_.avail_out = sizeof out;
            status = deflate(&z_, flush);
            if (status == Z_STREAM_ERROR) {
                ok_ = false;
                return;
            }
            const size_t produced = sizeof out - z_.avail_out;
            if (produced && !data_.Append(out, produced)) {
                ok_ = false;
                return;
            }
        } while (z_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }

    PageData& data_;
    z_stream z_{};
    bool ok_ = false;
    Span span_;
};

// Writes what libqpdf produces into a ByteStream.
class StreamPipeline : public Pipeline {
  public:
    explicit StreamPipeline(ByteStream* stream)
        : Pipeline("sheetmend output", nullptr), stream_(stream) {}
    void write(unsigned char const* data, size_t len) override {
        if (len && stream_->Write(data, 1, len) != len)
            throw std::runtime_error("Error writing the PDF file");
    }
    void finish() override {
        if (!stream_->Flush()) throw std::runtime_error("Error writing the PDF file");
    }

  private:
    ByteStream* stream_;
};

// The palette is the n-bit grey ramp (0, 255/(n-1), ...), which DeviceGray
// shows as it is.
bool IsGreyRamp(const RasterImage& image) {
    const uint32_t count = image.GetNumColors();
    const RgbQuad* pal = image.GetPalette();
    if (!pal || count < 2) return false;
    const uint32_t step = 255 / (count - 1);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t v = i * step;
        if (pal[i].red != v || pal[i].green != v || pal[i].blue != v) return false;
    }
    return true;
}

Handle IndexedSpace(const RgbQuad* colours, uint32_t count) {
    std::string lookup;
    lookup.reserve(3 * count);
    for (uint32_t i = 0; i < count; ++i) {
        lookup += static_cast<char>(colours[i].red);
        lookup += static_cast<char>(colours[i].green);
        lookup += static_cast<char>(colours[i].blue);
    }
    Handle space = Handle::newArray();
    space.appendItem(Handle::newName("/Indexed"));
    space.appendItem(Handle::newName("/DeviceRGB"));
    space.appendItem(Handle::newInteger(count - 1));
    space.appendItem(Handle::newString(lookup));
    return space;
}

// What one image stream is made of.
struct CodedImage {
    Handle colourSpace;
    int bitsPerComponent = 8;
    std::string filter;
    Handle decodeParms = Handle::newNull();
    Span span;
};

// True when the page still holds exactly the pixels decoded from its JPEG
// data, so that data can stand for them.
bool CanEmbedSourceJpeg(const RasterImage& page) {
    const SourceJpeg* jpeg = page.GetSourceJpeg();
    if (!jpeg || jpeg->data.empty()) return false;
    const bool shapeFits = (page.GetBpp() == 24 && jpeg->components == 3) ||
                           (page.GetBpp() == 8 && jpeg->components == 1 && page.IsGrayScale());
    return shapeFits && page.PixelFingerprint() == jpeg->fingerprint;
}

}  // namespace

struct PdfWriter::Document {
    QPDF pdf;
    std::shared_ptr<PageData> data = std::make_shared<PageData>();
    ByteStream* stream = nullptr;
    std::string fileName;
    int32_t pages = 0;
    PdfTextLayer text;

    bool CodeBilevel(const RasterImage& page, CodedImage& coded, std::string& error);
    bool DeflateBilevel(const RasterImage& page, bool flip, uint64_t limit, Span& span);
    bool CodeFlate(const RasterImage& page, CodedImage& coded, std::string& error);
    bool CodeAlpha(const RasterImage& page, Span& span, std::string& error);
    bool CodeJpeg(const RasterImage& page, CodedImage& coded, std::string& error);
    Handle ImageStream(uint32_t width, uint32_t height, const CodedImage& coded);
    void AddPage(const RasterImage& page, const CodedImage& coded, const Span* alpha,
                 const PageText* pageText);
    double nextWidth = 0, nextHeight = 0;  // the next page's size in points, when set
    bool Write(ByteStream* out, std::string& error);
};

// Group 4 codes 0 bits as white runs. The lighter palette entry is made the 0
// bit (inverting the rows on the way when entry 0 is the darker one), so the
// paper is coded as white runs as in a fax, and the black runs draw the
// darker colour: black through DeviceGray's default (black runs decode to 0),
// any other pair through a two-entry /Indexed space with /BlackIs1.
//
// Group 4 codes text and line art at 8:1 and better at scanning resolutions,
// far better than Flate; on dithered and halftone pictures, whose runs are a
// pixel or two long, it falls below 5:1 and Flate (the packed rows, deflated)
// beats it. So when Group 4 came out at worse than 6:1 the rows are deflated
// too and the smaller of the two is kept; a page of text is coded once. The
// Flate samples keep the colours: light 1 and dark 0 in DeviceGray (0 is
// black there), and in the /Indexed pair [light dark] light 0 and dark 1.
// A PNG predictor does not pay on 1-bit rows (the Up filter made a halftone
// page's Flate data 18% larger), so none is used.
constexpr uint64_t kGroup4TrialRatio = 6;

bool PdfWriter::Document::CodeBilevel(const RasterImage& page, CodedImage& coded,
                                      std::string& error) {
    const RgbQuad first = page.GetPaletteColor(0);
    const RgbQuad second = page.GetPaletteColor(1);
    const bool invert = px::Luminance(first.red, first.green, first.blue) <
                        px::Luminance(second.red, second.green, second.blue);
    const RgbQuad light = invert ? second : first;
    const RgbQuad dark = invert ? first : second;
    const bool blackOnWhite =
        light == RgbQuad{255, 255, 255, light.reserved} && dark == RgbQuad{0, 0, 0, dark.reserved};
    coded.bitsPerComponent = 1;
    if (blackOnWhite) {
        coded.colourSpace = Handle::newName("/DeviceGray");
    } else {
        const RgbQuad pair[2] = {light, dark};
        coded.colourSpace = IndexedSpace(pair, 2);
    }

    std::vector<uint8_t> strip;
    if (!EncodeGroup4Strip(page, invert, strip, error)) return false;
    const uint64_t raw =
        static_cast<uint64_t>(px::UsedRowBytes(page.GetWidth(), 1)) * page.GetHeight();
    if (strip.size() * kGroup4TrialRatio > raw) {
        // Entry 0 is made the light one as for Group 4, and in DeviceGray
        // then inverted once more to be 1.
        const bool flip = blackOnWhite ? !invert : invert;
        const uint64_t start = data->Size();
        if (DeflateBilevel(page, flip, strip.size(), coded.span)) {
            coded.filter = "/FlateDecode";
            return true;
        }
        data->DropFrom(start);
    }

    coded.span.offset = data->Size();
    coded.span.length = strip.size();
    if (!data->Append(strip.data(), strip.size())) {
        error = "Cannot store the page data";
        return false;
    }
    coded.filter = "/CCITTFaxDecode";
    coded.decodeParms = Handle::newDictionary();
    coded.decodeParms.replaceKey("/K", Handle::newInteger(-1));
    coded.decodeParms.replaceKey("/Columns", Handle::newInteger(page.GetWidth()));
    coded.decodeParms.replaceKey("/Rows", Handle::newInteger(page.GetHeight()));
    if (!blackOnWhite) coded.decodeParms.replaceKey("/BlackIs1", Handle::newBool(true));
    return true;
}

// Deflates the rows of a 1-bit page (each bit inverted with `flip`, the
// unused bits of a row's last byte 0) into the data file. False, the data
// left for the caller to drop, when it fails or reaches `limit` bytes.
bool PdfWriter::Document::DeflateBilevel(const RasterImage& page, bool flip, uint64_t limit,
                                         Span& span) {
    const uint32_t width = page.GetWidth();
    const uint32_t height = page.GetHeight();
    const size_t used = px::UsedRowBytes(width, 1);
    const uint8_t lastMask = px::LastByteMask(width, 1);
    Deflater deflater(*data);
    std::vector<uint8_t> line(used);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* src = page.RowPtr(height - 1 - r);
        const uint8_t x = flip ? 0xFF : 0x00;
        for (size_t i = 0; i < used; ++i) line[i] = static_cast<uint8_t>(src[i] ^ x);
        line[used - 1] &= lastMask;
        deflater.Add(line.data(), used);
        if (deflater.Stored() >= limit) return false;
    }
    return deflater.Finish(span) && span.length < limit;
}

// Rows top line first, as PDF samples run: palette indices or grey levels as
// stored (rows are whole bytes, their unused low bits zero), colour as red,
// green, blue.
bool PdfWriter::Document::CodeFlate(const RasterImage& page, CodedImage& coded,
                                    std::string& error) {
    const uint32_t width = page.GetWidth();
    const uint32_t height = page.GetHeight();
    const uint32_t bpp = page.GetBpp();
    if (bpp == 24) {
        coded.colourSpace = Handle::newName("/DeviceRGB");
        coded.bitsPerComponent = 8;
    } else {
        coded.bitsPerComponent = static_cast<int>(bpp);
        coded.colourSpace = IsGreyRamp(page) ? Handle::newName("/DeviceGray")
                                             : IndexedSpace(page.GetPalette(), page.GetNumColors());
    }
    coded.filter = "/FlateDecode";
    Deflater deflater(*data);
    const size_t used = px::UsedRowBytes(width, bpp);
    std::vector<uint8_t> line(bpp == 24 ? used : 0);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* src = page.RowPtr(height - 1 - r);
        if (bpp == 24) {
            for (uint32_t x = 0; x < width; ++x) {
                line[3 * x] = src[3 * x + 2];
                line[3 * x + 1] = src[3 * x + 1];
                line[3 * x + 2] = src[3 * x];
            }
            deflater.Add(line.data(), used);
        } else {
            deflater.Add(src, used);
        }
    }
    if (!deflater.Finish(coded.span)) {
        error = "Cannot store the page data";
        return false;
    }
    return true;
}

bool PdfWriter::Document::CodeAlpha(const RasterImage& page, Span& span, std::string& error) {
    const uint32_t width = page.GetWidth();
    const uint32_t height = page.GetHeight();
    const uint8_t* alpha = page.GetAlphaPlane();
    Deflater deflater(*data);
    for (uint32_t r = 0; r < height; ++r)
        deflater.Add(alpha + static_cast<size_t>(height - 1 - r) * width, width);
    if (!deflater.Finish(span)) {
        error = "Cannot store the page data";
        return false;
    }
    return true;
}

bool PdfWriter::Document::CodeJpeg(const RasterImage& page, CodedImage& coded, std::string& error) {
    const SourceJpeg& jpeg = *page.GetSourceJpeg();
    coded.colourSpace = Handle::newName(jpeg.components == 3 ? "/DeviceRGB" : "/DeviceGray");
    coded.bitsPerComponent = 8;
    coded.filter = "/DCTDecode";
    coded.span.offset = data->Size();
    coded.span.length = jpeg.data.size();
    if (!data->Append(jpeg.data.data(), jpeg.data.size())) {
        error = "Cannot store the page data";
        return false;
    }
    return true;
}

Handle PdfWriter::Document::ImageStream(uint32_t width, uint32_t height, const CodedImage& coded) {
    Handle image = pdf.newStream();
    Handle dict = image.getDict();
    dict.replaceKey("/Type", Handle::newName("/XObject"));
    dict.replaceKey("/Subtype", Handle::newName("/Image"));
    dict.replaceKey("/Width", Handle::newInteger(width));
    dict.replaceKey("/Height", Handle::newInteger(height));
    dict.replaceKey("/ColorSpace", coded.colourSpace);
    dict.replaceKey("/BitsPerComponent", Handle::newInteger(coded.bitsPerComponent));
    data->Attach(image.getObjGen(), coded.span);
    image.replaceStreamData(data, Handle::newName(coded.filter), coded.decodeParms);
    return image;
}

void PdfWriter::Document::AddPage(const RasterImage& page, const CodedImage& coded,
                                  const Span* alpha, const PageText* pageText) {
    const uint32_t width = page.GetWidth();
    const uint32_t height = page.GetHeight();
    Handle image = ImageStream(width, height, coded);
    if (alpha) {
        CodedImage mask;
        mask.colourSpace = Handle::newName("/DeviceGray");
        mask.bitsPerComponent = 8;
        mask.filter = "/FlateDecode";
        mask.span = *alpha;
        image.getDict().replaceKey("/SMask", ImageStream(width, height, mask));
    }
    // The dpi are always positive (an image never holds less than 1).
    const bool sized = nextWidth > 0 && nextHeight > 0;
    const double w = sized ? nextWidth : width * 72.0 / page.GetXDpi();
    const double h = sized ? nextHeight : height * 72.0 / page.GetYDpi();
    nextWidth = nextHeight = 0;
    const std::string ws = QUtil::double_to_string(w, 4);
    const std::string hs = QUtil::double_to_string(h, 4);
    const std::string words =
        pageText ? text.PageOperators(*pageText, width, height, page.GetXDpi(), page.GetYDpi())
                 : "";
    Handle contents = pdf.newStream("q\n" + ws + " 0 0 " + hs + " 0 0 cm\n/Im0 Do\nQ\n" + words);

    Handle xobjects = Handle::newDictionary();
    xobjects.replaceKey("/Im0", image);
    Handle resources = Handle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    if (!words.empty()) {
        Handle fonts = Handle::newDictionary();
        fonts.replaceKey(kTextFontName, text.Font(pdf));
        resources.replaceKey("/Font", fonts);
    }
    Handle box = Handle::newArray();
    box.appendItem(Handle::newInteger(0));
    box.appendItem(Handle::newInteger(0));
    box.appendItem(Handle::newReal(w, 4));
    box.appendItem(Handle::newReal(h, 4));
    Handle pageDict = Handle::newDictionary();
    pageDict.replaceKey("/Type", Handle::newName("/Page"));
    pageDict.replaceKey("/MediaBox", box);
    pageDict.replaceKey("/Resources", resources);
    pageDict.replaceKey("/Contents", contents);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(pageDict)),
                                        false);
    ++pages;
}

bool PdfWriter::Document::Write(ByteStream* out, std::string& error) {
    // libqpdf's writer sets up shared state too (ThreadSanitizer saw two
    // writers of different documents touch one string), so documents are
    // written one at a time; their pages were coded beforehand, in parallel.
    static std::mutex writing;
    std::lock_guard<std::mutex> hold(writing);
    try {
        text.Finish();
        StreamPipeline pipeline(out);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&pipeline);
        writer.setDecodeLevel(qpdf_dl_none);  // the image data stays as coded
        writer.setCompressStreams(true);      // the small content streams
        writer.setObjectStreamMode(qpdf_o_generate);
        writer.setDeterministicID(true);
        writer.write();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

// ---------------------------------------------------------------------------

PdfWriter::PdfWriter() = default;
PdfWriter::~PdfWriter() = default;

bool PdfWriter::Fail(const std::string& text) {
    lastError_ = text.substr(0, 255);
    return false;
}

bool PdfWriter::IsOpen() const {
    return doc_ != nullptr;
}
int32_t PdfWriter::GetPageCount() const {
    return doc_ ? doc_->pages : 0;
}

bool PdfWriter::Open(ByteStream* stream) {
    if (!stream) return Fail("null file handler");
    if (doc_) return Fail("A PDF document is open already");
    try {
        // libqpdf sets up shared objects (its default logger, ...) the first
        // time a document is made; one throw-away document, made once under
        // call_once, does that before documents are made on several threads.
        static std::once_flag setUp;
        std::call_once(setUp, [] {
            QPDF first;
            first.emptyPDF();
        });
        auto doc = std::make_unique<Document>();
        if (!doc->data->Usable())
            return Fail(std::string("Cannot make a temporary file: ") + std::strerror(errno));
        doc->pdf.setSuppressWarnings(true);
        doc->pdf.emptyPDF();
        doc->stream = stream;
        doc_ = std::move(doc);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    lastError_.clear();
    return true;
}

bool PdfWriter::Open(const char* fileName) {
    if (!fileName || !*fileName) return Fail("No file name");
    if (doc_) return Fail("A PDF document is open already");
    // Any stream will do until Close, which writes the file.
    MemoryStream placeholder;
    if (!Open(&placeholder)) return false;
    doc_->stream = nullptr;
    doc_->fileName = fileName;
    return true;
}

void PdfWriter::SetNextPageSize(double widthPoints, double heightPoints) {
    if (!doc_) return;
    doc_->nextWidth = widthPoints;
    doc_->nextHeight = heightPoints;
}

bool PdfWriter::AddPage(const RasterImage& page, const PageText* text) {
    if (!doc_) return Fail("No PDF document is open");
    if (!page.IsValid()) return Fail("null image!!!");
    const uint32_t bpp = page.GetBpp();
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
        return Fail("PDF cannot hold this bit depth");
    std::string error;
    try {
        CodedImage coded;
        bool ok;
        if (bpp == 1)
            ok = doc_->CodeBilevel(page, coded, error);
        else if (CanEmbedSourceJpeg(page))
            ok = doc_->CodeJpeg(page, coded, error);
        else
            ok = doc_->CodeFlate(page, coded, error);
        Span alpha;
        if (ok && page.HasAlpha()) ok = doc_->CodeAlpha(page, alpha, error);
        if (!ok) return Fail(error);
        doc_->AddPage(page, coded, page.HasAlpha() ? &alpha : nullptr, text);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    lastError_.clear();
    return true;
}

bool PdfWriter::Close() {
    if (!doc_) return Fail("No PDF document is open");
    std::unique_ptr<Document> doc = std::move(doc_);
    if (doc->pages == 0) return Fail("A PDF document needs a page");
    std::string error;
    bool ok;
    if (doc->fileName.empty()) {
        ok = doc->Write(doc->stream, error);
    } else {
        SafeWriteOutcome outcome;
        ok = WriteFileSafely(
            doc->fileName.c_str(), [&](ByteStream* out) { return doc->Write(out, error); },
            outcome);
        if (!ok && !outcome.error.empty()) error = outcome.error;
    }
    if (!ok) return Fail(error.empty() ? "Error writing the PDF file" : error);
    lastError_.clear();
    return true;
}

bool EncodePdf(RasterImage& image, ByteStream* stream) {
    PdfWriter writer;
    const bool ok = writer.Open(stream) && writer.AddPage(image) && writer.Close();
    if (!ok) image.SetLastError(writer.GetLastError());
    return ok;
}

}  // namespace sheetmend
