// A PDF document written one page at a time: one image to a page, the page
// as large as the image at its resolution (points = pixels x 72 / dpi, each
// axis with its own dpi), the image filling it.
//
// Each page keeps its pixels exactly, in the smallest lossless coding at hand:
//   1 bit        CCITT Group 4 (K -1); black and white as DeviceGray, any
//                other two colours as an /Indexed space with /BlackIs1 set
//                so that the darker colour is drawn by the black runs; or,
//                for dithered and halftone pages where Group 4 codes worse
//                than 6:1 and Flate does better, the rows with Flate in
//                the same colour space;
//   4 or 8 bits  DeviceGray with Flate for a grey ramp, else /Indexed with Flate;
//   24 bits      DeviceRGB with Flate, or the original JPEG data as it was
//                read (DCT) when the page still holds exactly the pixels
//                decoded from it;
//   alpha        a DeviceGray /SMask with Flate.
//
// A page may carry a text layer (the words an OCR engine found on it): the
// words are laid over the image as invisible text, so that the page can be
// searched and its text copied (see codecs/pdf_text_layer.h).
//
// AddPage codes the page at once and keeps only the coded data, in an
// unlinked temporary file, so a long document never holds its pages in
// memory. Close builds the file with libqpdf (cross-reference and object
// streams) and writes it. Nothing reaches the target before Close: a document
// given up, or a failed Close, leaves no file (Open(fileName) writes a
// temporary file beside the target and renames it into place, as
// RasterImage::Save does).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/page_text.h"

namespace sheetmend {

class ByteStream;
class RasterImage;

class PdfWriter {
  public:
    PdfWriter();
    // A document that was not closed is given up: nothing is written.
    ~PdfWriter();
    PdfWriter(const PdfWriter&) = delete;
    PdfWriter& operator=(const PdfWriter&) = delete;

    // Starts a document that Close writes to `stream` (borrowed; it must
    // outlive Close).
    bool Open(ByteStream* stream);
    // Starts a document that Close saves under `fileName`.
    bool Open(const char* fileName);
    // Adds `page` as the next page, with `text` (in the page's pixels) as its
    // invisible text layer when given; the image is not changed.
    bool AddPage(const RasterImage& page, const PageText* text = nullptr);
    // Makes the next page this size in points instead of the size its pixels
    // and resolution give (a page read from a PDF keeps its own size).
    void SetNextPageSize(double widthPoints, double heightPoints);
    // Writes the document; at least one page is needed. The writer can be
    // opened again afterwards.
    bool Close();

    bool IsOpen() const;
    int32_t GetPageCount() const;
    // Why the last call failed ("" after success).
    const char* GetLastError() const { return lastError_.c_str(); }

  private:
    bool Fail(const std::string& text);

    struct Document;
    std::unique_ptr<Document> doc_;
    std::string lastError_;
};

}  // namespace sheetmend
