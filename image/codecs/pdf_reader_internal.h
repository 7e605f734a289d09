// Internals shared by the PDF page reader's files: decoding one image
// XObject (pdf_image_decode.cpp) and rendering one page (pdf_render.cpp).
#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <memory>
#include <string>

namespace sheetmend {

class RasterImage;

namespace pdfin {

enum class Outcome {
    kDone,         // the image is decoded
    kUnsupported,  // a coding or colour space this reader does not extract: render instead
    kFailed,       // damaged or refused data; `error` says what is wrong
};

// True when an image of width x height at `bpp` bits fits the memory limit of
// an image (checked before anything is allocated).
bool FitsMemoryLimit(uint64_t width, uint64_t height, uint32_t bpp);

// Decodes the image XObject `image` at its natural depth: 1 bit with a
// black/white palette, 8-bit grey or palette, 24 bits, 24 bits with an alpha
// plane from /SMask. Rows come out in the image's own order (first row of the
// stream at the top); the resolution is left to the caller.
Outcome DecodeImage(QPDFObjectHandle image, RasterImage& out, std::string& error);

// Renders pages with poppler. The document is loaded once, on first use.
class PageRenderer {
  public:
    explicit PageRenderer(std::string path);
    ~PageRenderer();
    // Renders page `index` at `dpi` into a 24-bit image. `widthPts` and
    // `heightPts` (the page as shown) size the memory check made before
    // poppler allocates anything.
    bool Render(int32_t index, int32_t dpi, double widthPts, double heightPts, RasterImage& out,
                std::string& error);

  private:
    struct Document;
    std::string path_;
    std::unique_ptr<Document> doc_;
};

}  // namespace pdfin
}  // namespace sheetmend
