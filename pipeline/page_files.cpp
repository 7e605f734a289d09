#include "pipeline/page_files.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "image/codecs/tiff_codec.h"
#include "image/formats.h"
#include "image/pdf_writer.h"
#include "image/raster_image.h"
#include "image/safe_file.h"
#include "image/streams.h"
#include "pipeline/image_files.h"
#include "platform/output_claims.h"
#include "platform/paths.h"

namespace sheetmend {

std::string NumberedPagePath(const std::string& outputPath, int32_t pageNumber) {
    if (pageNumber <= 1) return outputPath;
    const PathParts parts = SplitPath(outputPath);
    return MakePath(parts.drive, parts.dir, parts.name + "-" + std::to_string(pageNumber),
                    parts.ext);
}

bool MakeUniquePath(std::string& path) {
    const PathParts parts = SplitPath(path);
    for (int i = 0; PathExists(path); ++i) {
        if (i >= 1000000) return false;
        char number[16];
        std::snprintf(number, sizeof number, "%03d", i);
        path = MakePath(parts.drive, parts.dir, parts.name + number, parts.ext);
    }
    return true;
}

PageSink::PageSink() = default;

PageSink::~PageSink() {
    tiff_.reset();
    if (tiffFile_) std::fclose(tiffFile_);
}

bool PageSink::Fail(const std::string& path, const std::string& text) {
    failed_ = true;
    failedPath_ = path;
    lastError_ = text;
    return false;
}

bool PageSink::Open(const std::string& outputPath, uint32_t code, int32_t pageCount) {
    outputPath_ = outputPath;
    code_ = code;
    pageCount_ = pageCount;
    // One page is saved as the file of one image it has always been.
    if (pageCount <= 1) return true;
    if (code == kFormatPdf) {
        pdf_ = std::make_unique<PdfWriter>();
        if (!pdf_->Open(outputPath.c_str())) return Fail(outputPath, pdf_->GetLastError());
    } else if (code == kFormatTiff) {
        // The pages grow in an unlinked temporary file (libtiff reads each
        // directory back to link the next), copied into place by Close.
        tiffFile_ = std::tmpfile();
        if (!tiffFile_)
            return Fail(outputPath,
                        std::string("cannot create a temporary file: ") + std::strerror(errno));
        tiff_ = std::make_unique<TiffImage>();
        tiff_->SetOutputPageCount(pageCount);
    }
    return true;
}

bool PageSink::Add(RasterImage& page, int32_t pageNumber, const PageText* text) {
    const double width = nextWidth_, height = nextHeight_;
    nextWidth_ = nextHeight_ = 0;
    const bool sized = width > 0 && height > 0;
    if (pdf_) {
        if (sized) pdf_->SetNextPageSize(width, height);
        if (!pdf_->AddPage(page, text)) return Fail(outputPath_, pdf_->GetLastError());
    } else if (tiff_) {
        if (!tiffFile_) return Fail(outputPath_, "the TIFF file was given up");
        // The writer borrows the page's pixels for this one call; the next
        // page (or the writer's end) lets go of them without touching them.
        tiff_->Ghost(&page);
        const bool ok = tiff_->Encode(tiffFile_, true);
        const std::string error = tiff_->GetLastError();
        if (!ok) {
            // A page that could not be appended ends the document.
            tiff_.reset();
            std::fclose(tiffFile_);
            tiffFile_ = nullptr;
            return Fail(outputPath_, error);
        }
    } else {
        std::string path = NumberedPagePath(outputPath_, pageNumber);
        // Page 1's name was made free by the batch; later pages are made
        // free here, the same way, so no file is ever overwritten.
        if (pageNumber > 1 && !ClaimFreeName(path)) return Fail(path, "no free name for the page");
        if (code_ == kFormatPdf && (text || sized)) {
            // A page with a text layer is written by the document writer,
            // which alone lays text over the image.
            PdfWriter writer;
            const bool opened = writer.Open(path.c_str());
            if (opened && sized) writer.SetNextPageSize(width, height);
            if (!opened || !writer.AddPage(page, text) || !writer.Close()) {
                ReleaseClaim(path);
                return Fail(path, writer.GetLastError());
            }
        } else if (!SaveExplained(page, path, code_)) {
            ReleaseClaim(path);
            return Fail(path, page.GetLastError());
        }
    }
    ++written_;
    return true;
}

bool PageSink::Close() {
    if (pdf_) {
        const bool ok = written_ > 0 && pdf_->Close();
        if (written_ > 0 && !ok) Fail(outputPath_, pdf_->GetLastError());
        pdf_.reset();
        return ok && !failed_;
    }
    if (tiff_ && tiffFile_) {
        bool ok = written_ > 0;
        if (ok && !tiff_->FinishPages()) ok = Fail(outputPath_, tiff_->GetLastError());
        tiff_.reset();
        if (ok && (std::fflush(tiffFile_) != 0 || std::fseek(tiffFile_, 0, SEEK_SET) != 0))
            ok = Fail(outputPath_, "cannot write the file");
        if (ok) {
            FILE* source = tiffFile_;
            SafeWriteOutcome outcome;
            const bool copied = WriteFileSafely(
                outputPath_.c_str(),
                [source](ByteStream* target) {
                    std::vector<char> buffer(1 << 16);
                    size_t n;
                    while ((n = std::fread(buffer.data(), 1, buffer.size(), source)) > 0)
                        if (target->Write(buffer.data(), 1, n) != n) return false;
                    return std::ferror(source) == 0;
                },
                outcome);
            if (!copied)
                ok = Fail(outputPath_,
                          outcome.error.empty() ? "cannot write the file" : outcome.error);
        }
        std::fclose(tiffFile_);
        tiffFile_ = nullptr;
        return ok && !failed_;
    }
    return written_ > 0 && !failed_;
}

}  // namespace sheetmend
