// Where the pages of one input come from: an image file (one page), a TIFF
// file (one page per image directory) or, later, other documents of pages.
// Pages are read one at a time by their index, so an input of many pages
// never has more than one of them in memory.
#pragma once

#include <cstdint>
#include <string>

namespace sheetmend {

class RasterImage;

// The most pages read from one input: a directory chain that is damaged or
// absurdly long is cut here, so that it can neither run for ever nor fill
// the memory with pages.
inline constexpr int32_t kMaxInputPages = 1000;

class PageSource {
  public:
    // Opens the input and counts its pages. False when the file cannot be
    // opened; Error() then gives the system's reason ("No such file or
    // directory"). A file of unknown content still opens, as one page that
    // fails to load.
    bool Open(const std::string& path);

    const std::string& Path() const { return path_; }
    // The pages to read (at most kMaxInputPages), and how many the input has.
    int32_t Count() const { return count_; }
    int32_t Total() const { return total_; }
    // True when the input is a file of one image: the page is the file
    // itself, so a program that reads image files can be given the file.
    bool WholeFile() const { return total_ == 1; }

    // Reads page `index` (from 0); false when it cannot be decoded (the
    // image's lastError says why).
    bool Load(int32_t index, RasterImage& page) const;

    // Reads no more than the first page from here on (an output that holds
    // no pages of its own).
    void KeepFirstPageOnly() { count_ = count_ > 1 ? 1 : count_; }

    const std::string& Error() const { return error_; }

  private:
    std::string path_;
    int32_t count_ = 0;
    int32_t total_ = 0;
    std::string error_;
};

// The number of pages of the file (at most kMaxInputPages), 0 when it cannot
// be opened; `totalPages` (when given) receives the count before the limit.
int32_t CountInputPages(const std::string& path, int32_t* totalPages = nullptr);

}  // namespace sheetmend
