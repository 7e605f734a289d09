// Where the pages of a result go.
//
// A PageSink writes the result pages of one input file, by the output's
// format. A result of one page is saved as a file of its own, exactly as
// any single image is. Several pages go all into one multi-page TIFF (one directory per page, each
// marked as a page with its number and name) or one PDF, and for formats that
// hold a single image, page 1 under the output name and page k from 2 on as
// "<name>-<k>.<ext>" beside it. TIFF and PDF documents reach their target
// only when the sink is closed, through a temporary file, so a document given
// up leaves nothing behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "image/page_text.h"

namespace sheetmend {

class PdfWriter;
class RasterImage;
class TiffImage;

// The name of result page `pageNumber` (from 1) for formats of one image:
// the output name itself for page 1, "<name>-<k>.<ext>" for page k.
std::string NumberedPagePath(const std::string& outputPath, int32_t pageNumber);

// Makes `path` name no existing file by appending "000", "001", ... to its
// name; false when every number up to 999999 is taken.
bool MakeUniquePath(std::string& path);

class PageSink {
  public:
    PageSink();
    // A sink that was not closed gives up: no TIFF or PDF is written (pages
    // already saved as files of their own stay).
    ~PageSink();
    PageSink(const PageSink&) = delete;
    PageSink& operator=(const PageSink&) = delete;

    // Starts the result of `outputPath` in format `code` (a known output
    // format), for an input of `pageCount` pages.
    bool Open(const std::string& outputPath, uint32_t code, int32_t pageCount);
    // Writes `page`, prepared for the format, as the result of input page
    // `pageNumber` (from 1), a PDF page with `text` as its invisible text
    // layer when given. False, with lastError, when it was not written.
    bool Add(RasterImage& page, int32_t pageNumber, const PageText* text = nullptr);
    // Makes the next PDF page this size in points (a page read from a PDF).
    void SetNextPageSize(double widthPoints, double heightPoints) {
        nextWidth_ = widthPoints;
        nextHeight_ = heightPoints;
    }
    // Finishes the document. True when every page given was written and the
    // document (if any page was) is in place.
    bool Close();

    int32_t WrittenPages() const { return written_; }
    // The file a failure concerns, and why.
    const std::string& FailedPath() const { return failedPath_; }
    const std::string& LastError() const { return lastError_; }

  private:
    bool Fail(const std::string& path, const std::string& text);

    std::string outputPath_;
    uint32_t code_ = 0;
    int32_t pageCount_ = 0;
    int32_t written_ = 0;
    double nextWidth_ = 0, nextHeight_ = 0;
    bool failed_ = false;
    std::unique_ptr<PdfWriter> pdf_;
    std::unique_ptr<TiffImage> tiff_;
    FILE* tiffFile_ = nullptr;  // the unlinked temporary file the TIFF grows in
    std::string failedPath_;
    std::string lastError_;
};

}  // namespace sheetmend
