// What the operation computed on one page, for the per-page report. While a
// report is written, the page loop makes a PageFacts current on its thread
// around each page, and the operations, however deep, record what they
// computed with one RecordPageFact call; no signature carries it. Nothing
// is recorded when no page is current. An empty field was not computed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sheetmend {

class RasterImage;

// left, top, right, bottom in pixels of the page as loaded, origin top-left.
using PageBox = std::array<int32_t, 4>;

struct PageBlock {
    std::string type;
    PageBox box;
};

struct PageFacts {
    // The page as loaded, and the depth of the page handed to the output.
    std::optional<int32_t> width, height, xDpi, yDpi, bitsIn, bitsOut;
    std::optional<int32_t> threshold;
    // Degrees; positive when the lines descend to the right (and, for the
    // turn applied, when the turn moves them that way).
    std::optional<double> skew, rotated, confidence;
    std::optional<PageBox> crop, border;
    std::optional<int64_t> specks, lines;
    std::optional<std::vector<PageBlock>> blocks;
    std::optional<int64_t> words;
    std::optional<double> meanConfidence;
    std::optional<double> ink;
    std::optional<bool> blank;
};

// The facts of the page this thread works on, or nullptr.
PageFacts* CurrentPageFacts();

// Makes `facts` the current page's facts until destroyed (scopes nest).
class PageFactsScope {
  public:
    explicit PageFactsScope(PageFacts& facts);
    ~PageFactsScope();
    PageFactsScope(const PageFactsScope&) = delete;
    PageFactsScope& operator=(const PageFactsScope&) = delete;

  private:
    PageFacts* previous_;
};

// Hands the current page's facts to `fill`, when a page is current.
template <class Fill>
void RecordPageFact(Fill&& fill) {
    if (PageFacts* facts = CurrentPageFacts()) fill(*facts);
}

// Records the size, resolution and depth of the page as loaded, with its
// ink share and whether it is blank (the first page loaded counts; a later
// load of the same page, such as a fresh copy, changes nothing).
void RecordLoadedPage(const RasterImage& page);

}  // namespace sheetmend
