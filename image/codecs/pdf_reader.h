// Reading the pages of a PDF file into images, one page at a time.
//
// A scanned page is one image drawn over the whole page: such a page gives
// that image itself, losslessly, at its own size, with the resolution that
// its placement implies. Every other page (text, drawings, several images,
// forms) is rendered by poppler. The document is parsed once, when it is
// opened (cross-reference and page tree only); each page's objects are read
// when that page is loaded, so only one page's pixels are held at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sheetmend {

class RasterImage;

// True when the file starts (within its first 1024 bytes) with "%PDF-".
bool LooksLikePdf(const std::string& path);

class PdfReader {
  public:
    PdfReader();
    ~PdfReader();
    PdfReader(const PdfReader&) = delete;
    PdfReader& operator=(const PdfReader&) = delete;

    // Opens a document, reading only its cross-reference and page tree. False,
    // with LastError(), for a file that is not a PDF, is damaged beyond repair
    // ("damaged beyond repair: ..."), or needs a password ("needs a password to
    // open"). A file that libqpdf repaired opens, and Notice() says so.
    bool Open(const std::string& path);
    int32_t PageCount() const;
    // Page `index` (from 0) into `page`. A page that is one image drawn over
    // the page gives that image losslessly, at its own size, dpi from its
    // placement, /Rotate honoured; every other page is rendered by poppler at
    // `renderDpi` (0: automatic, 300 or the highest resolution of the page's
    // images, whichever is larger, at most 600) and *rendered is set. False
    // with LastError().
    bool LoadPage(int32_t index, RasterImage& page, int32_t renderDpi, bool* rendered);
    // The page's size in points as shown (CropBox, else MediaBox, after /Rotate).
    bool PageSizePoints(int32_t index, double* width, double* height) const;
    const std::string& LastError() const;
    const std::string& Notice() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sheetmend
