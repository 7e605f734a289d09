// Where the pages of one input come from: an image file (one page), a TIFF
// file (one page per image directory) or a PDF file (one page per page: the
// scanned image of a page as it is stored, other pages rendered).
// Pages are read one at a time by their index, so an input of many pages
// never has more than one of them in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sheetmend {

class PdfReader;
class RasterImage;

// The most pages read from one input: a directory chain that is damaged or
// absurdly long is cut here, so that it can neither run for ever nor fill
// the memory with pages.
inline constexpr int32_t kMaxInputPages = 1000;

class PageSource {
  public:
    PageSource();
    ~PageSource();
    PageSource(const PageSource&) = delete;
    PageSource& operator=(const PageSource&) = delete;

    // The resolution PDF pages that are not one image are rendered at; 0
    // chooses it from the page's images.
    void SetRenderDpi(int32_t dpi) { renderDpi_ = dpi; }

    // Opens the input and counts its pages. False when the file cannot be
    // opened; Error() then gives the reason (the system's, as "No such file
    // or directory", or why a PDF cannot be read). A file of unknown content
    // still opens, as one page that fails to load.
    bool Open(const std::string& path);

    const std::string& Path() const { return path_; }
    // The pages to read (at most kMaxInputPages), and how many the input has.
    int32_t Count() const { return count_; }
    int32_t Total() const { return total_; }
    // True when the input is a file of one image: the page is the file
    // itself, so a program that reads image files can be given the file.
    bool WholeFile() const { return total_ == 1 && !pdf_; }
    bool IsPdf() const { return pdf_ != nullptr; }
    // What the PDF reader had to say on opening (a repaired file), or "".
    const std::string& Notice() const { return notice_; }

    // Reads page `index` (from 0); false when it cannot be decoded (Error()
    // or the image's lastError says why). `rendered`, when given, tells
    // whether a PDF page had to be rendered.
    bool Load(int32_t index, RasterImage& page, bool* rendered = nullptr) const;

    // Reads no more than the first page from here on (an output that holds
    // no pages of its own).
    void KeepFirstPageOnly() { count_ = count_ > 1 ? 1 : count_; }

    // The size in points of page `index` of a PDF; false for other inputs.
    bool PageSizePoints(int32_t index, double* width, double* height) const;

    const std::string& Error() const { return error_; }

  private:
    std::string path_;
    int32_t count_ = 0;
    int32_t total_ = 0;
    int32_t renderDpi_ = 0;
    std::unique_ptr<PdfReader> pdf_;
    std::string notice_;
    mutable std::string error_;
};

// The number of pages of the file (at most kMaxInputPages), 0 when it cannot
// be opened; `totalPages` (when given) receives the count before the limit.
int32_t CountInputPages(const std::string& path, int32_t* totalPages = nullptr);

}  // namespace sheetmend
