// Rendering a PDF page that is not one scanned image (text, drawings, several
// images, forms) through poppler's C++ library, as pdftoppm does: antialiased
// shapes and text on white paper. poppler reads the document once, on the
// first page that needs it, and keeps it for the pages that follow.
#define POINTERHOLDER_TRANSITION 4  // qpdf: std::shared_ptr throughout
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <cmath>
#include <cstring>
#include <mutex>

#include "image/codecs/pdf_reader_internal.h"
#include "image/raster_image.h"

namespace sheetmend::pdfin {

namespace {

// poppler prints its complaints on stderr unless told otherwise.
void QuietPoppler(const std::string&, void*) {}

}  // namespace

struct PageRenderer::Document {
    std::unique_ptr<poppler::document> doc;
};

PageRenderer::PageRenderer(std::string path) : path_(std::move(path)) {}
PageRenderer::~PageRenderer() = default;

bool PageRenderer::Render(int32_t index, int32_t dpi, double widthPts, double heightPts,
                          RasterImage& out, std::string& error) {
    // The renderer holds a 32-bit pixel buffer besides our 24-bit page.
    const double w = std::ceil(widthPts * dpi / 72.0);
    const double h = std::ceil(heightPts * dpi / 72.0);
    if (w < 1 || h < 1 ||
        !FitsMemoryLimit(static_cast<uint64_t>(w), static_cast<uint64_t>(h), 32)) {
        error = "is too large to render at " + std::to_string(dpi) + " dpi (" +
                std::to_string(static_cast<uint64_t>(w)) + " x " +
                std::to_string(static_cast<uint64_t>(h)) + " pixels) for the memory limit";
        return false;
    }
    static std::once_flag once;
    std::call_once(once, [] { poppler::set_debug_error_function(QuietPoppler, nullptr); });
    if (!doc_) {
        auto d = std::make_unique<Document>();
        d->doc.reset(poppler::document::load_from_file(path_));
        if (!d->doc || d->doc->is_locked()) {
            error = "cannot be rendered: poppler cannot read the document";
            return false;
        }
        doc_ = std::move(d);
    }
    std::unique_ptr<poppler::page> page(doc_->doc->create_page(index));
    if (!page) {
        error = "cannot be rendered: poppler cannot read it";
        return false;
    }
    poppler::page_renderer renderer;
    renderer.set_render_hints(poppler::page_renderer::antialiasing |
                              poppler::page_renderer::text_antialiasing);
    renderer.set_image_format(poppler::image::format_bgr24);
    // The bitmap's size rounds up, as pdftoppm's does.
    poppler::image img =
        renderer.render_page(page.get(), dpi, dpi, 0, 0, static_cast<int>(w), static_cast<int>(h));
    if (!img.is_valid() || img.width() <= 0 || img.height() <= 0 ||
        img.format() != poppler::image::format_bgr24) {
        error = "cannot be rendered: poppler failed";
        return false;
    }
    if (!out.Create(static_cast<uint32_t>(img.width()), static_cast<uint32_t>(img.height()), 24)) {
        error = out.GetLastError();
        return false;
    }
    // Both hold blue, green, red; poppler's rows run top-down, ours bottom-up.
    const size_t bytes = static_cast<size_t>(img.width()) * 3;
    const char* data = img.const_data();
    for (int y = 0; y < img.height(); ++y)
        std::memcpy(out.RowPtr(static_cast<uint32_t>(img.height() - 1 - y)),
                    data + static_cast<size_t>(y) * img.bytes_per_row(), bytes);
    out.SetXDpi(dpi);
    out.SetYDpi(dpi);
    return true;
}

}  // namespace sheetmend::pdfin
