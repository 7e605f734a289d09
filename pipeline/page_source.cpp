#include "pipeline/page_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/codecs/pdf_reader.h"
#include "image/codecs/tiff_codec.h"
#include "image/formats.h"
#include "image/raster_image.h"

namespace sheetmend {

PageSource::PageSource() = default;
PageSource::~PageSource() = default;

bool PageSource::Open(const std::string& path) {
    path_ = path;
    count_ = total_ = 0;
    pdf_.reset();
    notice_.clear();
    // Opened without waiting, so that a FIFO named like an image cannot block
    // the run; anything but a regular file is one page that fails to load.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    total_ = count_ = 1;
    if (!regular) return true;
    if (LooksLikePdf(path)) {
        auto reader = std::make_unique<PdfReader>();
        if (!reader->Open(path)) {
            error_ = reader->LastError();
            total_ = count_ = 0;
            return false;
        }
        notice_ = reader->Notice();
        total_ = reader->PageCount();
        count_ = total_ > kMaxInputPages ? kMaxInputPages : total_;
        if (total_ < 1) {
            error_ = "the document has no pages";
            total_ = count_ = 0;
            return false;
        }
        pdf_ = std::move(reader);
        return true;
    }
    if (ImageTypeFromContent(path.c_str()) == kFormatTiff) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return true;
        // Only the directory chain and the first page's dimensions are read.
        TiffImage probe;
        probe.SetEscape(-1);
        probe.Decode(f);
        std::fclose(f);
        if (probe.GetNumFrames() > 1) total_ = probe.GetNumFrames();
    }
    count_ = total_ > kMaxInputPages ? kMaxInputPages : total_;
    return true;
}

bool PageSource::Load(int32_t index, RasterImage& page, bool* rendered) const {
    if (rendered) *rendered = false;
    if (pdf_) {
        bool drawn = false;
        const bool ok = pdf_->LoadPage(index, page, renderDpi_, &drawn);
        if (!ok) error_ = pdf_->LastError();
        if (rendered) *rendered = ok && drawn;
        return ok && page.IsValid();
    }
    if (total_ == 1)
        return index == 0 && page.Load(path_.c_str(), kFormatUnknown) && page.IsValid();
    page.SetFrame(index);
    if (!page.Load(path_.c_str(), kFormatUnknown) || !page.IsValid()) return false;
    // From here on the page is a page like any other, as if read alone.
    page.SetFrame(0);
    page.SetNumFrames(1);
    return true;
}

bool PageSource::PageSizePoints(int32_t index, double* width, double* height) const {
    return pdf_ && pdf_->PageSizePoints(index, width, height);
}

int32_t CountInputPages(const std::string& path, int32_t* totalPages) {
    PageSource source;
    const bool opened = source.Open(path);
    if (totalPages) *totalPages = opened ? source.Total() : 1;
    return source.Count();
}

}  // namespace sheetmend
