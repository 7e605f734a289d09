// The PDF page reader: opens a document with libqpdf, tells a scanned page
// (one image drawn over the whole page and nothing else painted) from any
// other page, and gives each page as an image.
//
// A page's content stream is read as operators. Graphics state, clipping and
// colour settings paint nothing; "Do" of an image records the image with the
// transformation in force; anything else that paints (text, paths, shadings,
// inline images, forms) makes the page one to render. A scanned page's image
// is turned upright from its placement (mirrored, flipped or turned by a
// quarter as the matrix says) and then by the page's /Rotate.
#define POINTERHOLDER_TRANSITION 4  // qpdf: std::shared_ptr throughout
#include "image/codecs/pdf_reader.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/codecs/pdf_reader_internal.h"
#include "image/raster_image.h"

namespace sheetmend {

bool LooksLikePdf(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char head[1024];
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    for (size_t i = 0; i + 5 <= n; ++i)
        if (std::memcmp(head + i, "%PDF-", 5) == 0) return true;
    return false;
}

namespace {

// A PDF transformation [a b c d e f]: (x, y) -> (a x + c y + e, b x + d y + f).
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    // This transformation followed by `then`.
    Matrix Then(const Matrix& t) const {
        return {a * t.a + b * t.c, a * t.b + b * t.d,       c * t.a + d * t.c,
                c * t.b + d * t.d, e * t.a + f * t.c + t.e, e * t.b + f * t.d + t.f};
    }
};

struct Placement {
    QPDFObjectHandle image;
    Matrix ctm;  // maps the image's unit square onto the page
};

// Operators that set state or build paths without painting anything.
bool PaintsNothing(const std::string& op) {
    static const char* const kQuiet[] = {
        "q",  "Q",  "cm", "gs", "w",  "J",  "j",  "M",  "d",  "ri",  "i",   "BT",  "ET", "Tc", "Tw",
        "Tz", "TL", "Tf", "Tr", "Ts", "Td", "TD", "Tm", "T*", "BMC", "BDC", "EMC", "MP", "DP", "BX",
        "EX", "re", "m",  "l",  "c",  "v",  "y",  "h",  "W",  "W*",  "n",   "d0",  "d1"};
    for (const char* q : kQuiet)
        if (op == q) return true;
    return false;
}

bool SetsColour(const std::string& op) {
    static const char* const kColour[] = {"CS", "cs", "SC", "SCN", "sc", "scn",
                                          "G",  "g",  "RG", "rg",  "K",  "k"};
    for (const char* q : kColour)
        if (op == q) return true;
    return false;
}

// What a page's content does, as far as telling a scanned page goes.
class ContentScan : public QPDFObjectHandle::ParserCallbacks {
  public:
    explicit ContentScan(QPDFObjectHandle xobjects) : xobjects_(xobjects) {}

    void handleObject(QPDFObjectHandle obj, size_t, size_t) override {
        if (obj.isInlineImage()) {
            painted = true;
            return;
        }
        if (!obj.isOperator()) {
            operands_.push_back(obj);
            return;
        }
        const std::string op = obj.getOperatorValue();
        if (op == "q") {
            stack_.push_back(ctm_);
        } else if (op == "Q") {
            if (!stack_.empty()) {
                ctm_ = stack_.back();
                stack_.pop_back();
            }
        } else if (op == "cm") {
            double v[6];
            bool ok = operands_.size() == 6;
            for (size_t i = 0; ok && i < 6; ++i) {
                ok = operands_[i].isNumber();
                if (ok) v[i] = operands_[i].getNumericValue();
            }
            if (ok) ctm_ = Matrix{v[0], v[1], v[2], v[3], v[4], v[5]}.Then(ctm_);
        } else if (op == "Do") {
            QPDFObjectHandle x;
            if (operands_.size() == 1 && operands_[0].isName() && xobjects_.isDictionary())
                x = xobjects_.getKey(operands_[0].getName());
            if (x.isStream() && x.getDict().getKey("/Subtype").isName() &&
                x.getDict().getKey("/Subtype").getName() == "/Image") {
                images.push_back({x, ctm_});
            } else if (x.isStream()) {
                painted = true;  // a form or something unknown
            }
        } else if (SetsColour(op)) {
            colourSet = true;
        } else if (!PaintsNothing(op)) {
            painted = true;
        }
        operands_.clear();
    }
    void handleEOF() override {}

    std::vector<Placement> images;
    bool painted = false;
    bool colourSet = false;

  private:
    QPDFObjectHandle xobjects_;
    std::vector<QPDFObjectHandle> operands_;
    Matrix ctm_;
    std::vector<Matrix> stack_;
};

struct Box {
    double llx = 0, lly = 0, urx = 0, ury = 0;
    double Width() const { return urx - llx; }
    double Height() const { return ury - lly; }
};

// How the placed image turns to stand as it shows on the page.
enum class Orientation { kAsIs, kMirror, kFlip, kHalfTurn, kLeft, kRight, kOther };

Orientation OrientationOf(const Matrix& m) {
    const double scale = std::max({std::fabs(m.a), std::fabs(m.b), std::fabs(m.c), std::fabs(m.d)});
    const double eps = scale * 1e-6;
    if (scale == 0) return Orientation::kOther;
    if (std::fabs(m.b) <= eps && std::fabs(m.c) <= eps) {
        if (m.a > 0) return m.d > 0 ? Orientation::kAsIs : Orientation::kFlip;
        return m.d > 0 ? Orientation::kMirror : Orientation::kHalfTurn;
    }
    if (std::fabs(m.a) <= eps && std::fabs(m.d) <= eps) {
        // The image's rows run up the page (b > 0) with its top at the left
        // (c < 0): turned a quarter to the left; the opposite to the right.
        if (m.b > 0 && m.c < 0) return Orientation::kLeft;
        if (m.b < 0 && m.c > 0) return Orientation::kRight;
    }
    return Orientation::kOther;
}

bool Turn(RasterImage& page, Orientation turn) {
    switch (turn) {
        case Orientation::kMirror:
            return page.Mirror();
        case Orientation::kFlip:
            return page.Flip();
        case Orientation::kHalfTurn:
            return page.Mirror() && page.Flip();
        case Orientation::kLeft:
            return page.RotateLeft();
        case Orientation::kRight:
            return page.RotateRight();
        default:
            return true;
    }
}

// The rectangle the placed unit square covers on the page.
Box Extent(const Matrix& m) {
    Box r;
    r.llx = m.e + std::min(0.0, m.a) + std::min(0.0, m.c);
    r.urx = m.e + std::max(0.0, m.a) + std::max(0.0, m.c);
    r.lly = m.f + std::min(0.0, m.b) + std::min(0.0, m.d);
    r.ury = m.f + std::max(0.0, m.b) + std::max(0.0, m.d);
    return r;
}

// Pixels per inch of the image across and up the page once upright.
void PlacementDpi(const Placement& p, double* xDpi, double* yDpi) {
    QPDFObjectHandle image = p.image;
    QPDFObjectHandle dict = image.getDict();
    const double w = dict.getKey("/Width").isInteger() ? dict.getKey("/Width").getIntValue() : 0;
    const double h = dict.getKey("/Height").isInteger() ? dict.getKey("/Height").getIntValue() : 0;
    const Orientation o = OrientationOf(p.ctm);
    const bool quarter = o == Orientation::kLeft || o == Orientation::kRight;
    const Box e = Extent(p.ctm);
    *xDpi = e.Width() > 0 ? (quarter ? h : w) * 72.0 / e.Width() : 0;
    *yDpi = e.Height() > 0 ? (quarter ? w : h) * 72.0 / e.Height() : 0;
}

}  // namespace

struct PdfReader::Impl {
    std::string path;
    std::unique_ptr<QPDF> qpdf;
    std::vector<QPDFPageObjectHelper> pages;
    std::unique_ptr<pdfin::PageRenderer> renderer;
    std::string error;
    std::string notice;

    bool Fail(std::string text) {
        error = std::move(text);
        return false;
    }

    bool PageBox(int32_t index, Box* box, int* rotate) {
        QPDFPageObjectHelper& page = pages[static_cast<size_t>(index)];
        QPDFObjectHandle r = page.getCropBox(false, false);
        if (!r.isRectangle()) return false;
        const QPDFObjectHandle::Rectangle rect = r.getArrayAsRectangle();
        box->llx = std::min(rect.llx, rect.urx);
        box->urx = std::max(rect.llx, rect.urx);
        box->lly = std::min(rect.lly, rect.ury);
        box->ury = std::max(rect.lly, rect.ury);
        QPDFObjectHandle rot = page.getAttribute("/Rotate", false);
        int64_t deg = rot.isInteger() ? rot.getIntValue() : 0;
        deg = ((deg % 360) + 360) % 360;
        *rotate = deg % 90 == 0 ? static_cast<int>(deg) : 0;
        return box->Width() > 0 && box->Height() > 0;
    }
};

PdfReader::PdfReader() : impl_(std::make_unique<Impl>()) {}
PdfReader::~PdfReader() = default;

const std::string& PdfReader::LastError() const {
    return impl_->error;
}
const std::string& PdfReader::Notice() const {
    return impl_->notice;
}
int32_t PdfReader::PageCount() const {
    return static_cast<int32_t>(impl_->pages.size());
}

bool PdfReader::Open(const std::string& path) {
    impl_ = std::make_unique<Impl>();
    Impl& d = *impl_;
    d.path = path;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return d.Fail(std::strerror(errno));
    std::fclose(f);
    if (!LooksLikePdf(path)) return d.Fail("not a PDF file");
    try {
        d.qpdf = std::make_unique<QPDF>();
        d.qpdf->setSuppressWarnings(true);
        d.qpdf->processFile(path.c_str());
        for (QPDFPageObjectHelper& p : QPDFPageDocumentHelper(*d.qpdf).getAllPages())
            d.pages.push_back(p);
    } catch (std::exception& e) {
        d.pages.clear();
        d.qpdf.reset();
        auto* qe = dynamic_cast<QPDFExc*>(&e);
        if (qe && qe->getErrorCode() == qpdf_e_password) return d.Fail("needs a password to open");
        return d.Fail("damaged beyond repair: " +
                      (qe ? qe->getMessageDetail() : std::string(e.what())));
    }
    if (d.pages.empty()) {
        d.qpdf.reset();
        return d.Fail("damaged beyond repair: the document has no pages");
    }
    if (d.qpdf->anyWarnings()) {
        const std::vector<QPDFExc> warnings = d.qpdf->getWarnings();
        d.notice = "damaged, repaired on reading: " + warnings.front().getMessageDetail();
    }
    d.renderer = std::make_unique<pdfin::PageRenderer>(path);
    return true;
}

bool PdfReader::PageSizePoints(int32_t index, double* width, double* height) const {
    if (index < 0 || index >= PageCount()) return false;
    Box box;
    int rotate = 0;
    try {
        if (!impl_->PageBox(index, &box, &rotate)) return false;
    } catch (std::exception&) {
        return false;
    }
    const bool quarter = rotate == 90 || rotate == 270;
    *width = quarter ? box.Height() : box.Width();
    *height = quarter ? box.Width() : box.Height();
    return true;
}

bool PdfReader::LoadPage(int32_t index, RasterImage& page, int32_t renderDpi, bool* rendered) {
    Impl& d = *impl_;
    if (rendered) *rendered = false;
    d.error.clear();
    if (!d.qpdf) return d.Fail("no document is open");
    if (index < 0 || index >= PageCount())
        return d.Fail("there is no page " + std::to_string(index + 1));
    const std::string name = "page " + std::to_string(index + 1);
    Box box;
    int rotate = 0;
    double maxDpi = 0;
    try {
        if (!d.PageBox(index, &box, &rotate)) return d.Fail(name + " has no valid page box");
        QPDFPageObjectHelper& helper = d.pages[static_cast<size_t>(index)];
        QPDFObjectHandle resources = helper.getAttribute("/Resources", false);
        ContentScan scan(resources.isDictionary() ? resources.getKey("/XObject")
                                                  : QPDFObjectHandle::newNull());
        helper.parseContents(&scan);
        d.qpdf->getWarnings();  // what was repaired while reading is not kept per page
        for (const Placement& p : scan.images) {
            double x, y;
            PlacementDpi(p, &x, &y);
            maxDpi = std::max({maxDpi, x, y});
        }
        const Placement* only =
            scan.images.size() == 1 && !scan.painted ? &scan.images[0] : nullptr;
        Orientation turn = only ? OrientationOf(only->ctm) : Orientation::kOther;
        if (only) {
            // Drawn over the page: its edges meet the page's within 1%.
            const Box e = Extent(only->ctm);
            const double tx = 0.01 * box.Width() + 0.5, ty = 0.01 * box.Height() + 0.5;
            if (std::fabs(e.llx - box.llx) > tx || std::fabs(e.urx - box.urx) > tx ||
                std::fabs(e.lly - box.lly) > ty || std::fabs(e.ury - box.ury) > ty)
                turn = Orientation::kOther;
            // A stencil shows in the fill colour; only the default black is plain.
            QPDFObjectHandle image = only->image;
            QPDFObjectHandle mask = image.getDict().getKey("/ImageMask");
            if (scan.colourSet && mask.isBool() && mask.getBoolValue()) turn = Orientation::kOther;
        }
        if (turn != Orientation::kOther) {
            std::string why;
            const pdfin::Outcome o = pdfin::DecodeImage(only->image, page, why);
            if (o == pdfin::Outcome::kFailed) return d.Fail(name + ": " + why);
            if (o == pdfin::Outcome::kDone) {
                double xDpi, yDpi;
                PlacementDpi(*only, &xDpi, &yDpi);
                const Orientation shown = rotate == 90    ? Orientation::kRight
                                          : rotate == 180 ? Orientation::kHalfTurn
                                          : rotate == 270 ? Orientation::kLeft
                                                          : Orientation::kAsIs;
                const bool ok = Turn(page, turn) && Turn(page, shown);
                if (rotate == 90 || rotate == 270) std::swap(xDpi, yDpi);
                page.SetXDpi(static_cast<int32_t>(std::lround(xDpi)));
                page.SetYDpi(static_cast<int32_t>(std::lround(yDpi)));
                if (!ok) return d.Fail(name + ": " + page.GetLastError());
                return true;
            }
        }
    } catch (std::exception& e) {
        page.Destroy();
        return d.Fail(name + ": damaged: " + e.what());
    }
    int32_t dpi = renderDpi;
    if (dpi <= 0) dpi = static_cast<int32_t>(std::min(600.0, std::max(300.0, std::round(maxDpi))));
    double w, h;
    if (!PageSizePoints(index, &w, &h)) return d.Fail(name + " has no valid page box");
    std::string why;
    if (!d.renderer->Render(index, dpi, w, h, page, why)) return d.Fail(name + " " + why);
    if (rendered) *rendered = true;
    return true;
}

}  // namespace sheetmend
