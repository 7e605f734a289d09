// Drawing a line of text into an image: faces found through fontconfig,
// glyphs rasterised by FreeType.
//
// The text is laid out on one line and rendered white on black into a
// coverage mask as tall as the font's cell (ascent + descent, the way Windows
// measures a font's height) and as wide as the text's advance plus that
// height, which leaves room for italic overhang. Every mask pixel above half
// coverage paints one image pixel with SetPixelColor: the mask's bottom row
// lands on top-down page row y and its left column on x, so (x, y) is the
// bottom-left corner of the text and the text rises above that row. Only the
// part of the mask that falls inside the image is ever allocated.
//
// Texts are 8-bit in the Windows code page 1252. The FreeType library, the
// fontconfig configuration, every face resolution and every opened face are
// cached for the life of the process.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "image/raster_image.h"

namespace sheetmend {

namespace {

// Cell height used when the caller asks for height 0: the height of the usual
// 12-point interface text on a 96-dpi screen.
constexpr int64_t kDefaultCellHeight = 16;
// Larger requests are drawn at this cell height, which bounds the size of the
// glyph bitmaps FreeType allocates.
constexpr int64_t kMaxCellHeight = 4096;
// Face names are cut to this many characters, as Windows font records do.
constexpr size_t kMaxFaceName = 31;

// Code page 1252 at 0x80..0x9F; the rest of the code page is Latin-1.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

char32_t FromCp1252(unsigned char c) {
    return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char32_t>(c);
}

// A face as fontconfig chose it, with the synthetic styles it asks for when
// the family lacks a real bold or italic.
struct FaceChoice {
    FT_Face face = nullptr;
    bool embolden = false;
    bool transform = false;
    FT_Matrix matrix{};
};

class FontCache {
  public:
    static FontCache& Instance() {
        static FontCache cache;
        return cache;
    }
    ~FontCache() {
        for (auto& entry : faces_)
            if (entry.second) FT_Done_Face(entry.second);
        if (library_) FT_Done_FreeType(library_);
        if (config_) FcConfigDestroy(config_);
    }
    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;

    std::mutex& Lock() { return mutex_; }

    // The face for a family name and style; an unknown family gives
    // fontconfig's default sans-serif face. nullptr when none can be opened.
    const FaceChoice* Find(const std::string& family, bool bold, bool italic) {
        if (!Ready()) return nullptr;
        const std::string key = family + '\n' + (bold ? 'b' : 'r') + (italic ? 'i' : 'r');
        auto found = choices_.find(key);
        if (found != choices_.end()) return found->second.face ? &found->second : nullptr;
        FaceChoice choice = Resolve(family, bold, italic);
        if (!choice.face) choice = Resolve("sans-serif", bold, italic);
        auto& stored = choices_[key] = choice;
        return stored.face ? &stored : nullptr;
    }

  private:
    FontCache() = default;

    bool Ready() {
        if (!tried_) {
            tried_ = true;
            config_ = FcInitLoadConfigAndFonts();
            if (FT_Init_FreeType(&library_) != 0) library_ = nullptr;
        }
        return config_ && library_;
    }

    FaceChoice Resolve(const std::string& family, bool bold, bool italic) {
        FaceChoice choice;
        FcPattern* pattern = FcPatternCreate();
        if (!pattern) return choice;
        if (!family.empty())
            FcPatternAddString(pattern, FC_FAMILY,
                               reinterpret_cast<const FcChar8*>(family.c_str()));
        FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(config_, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config_, pattern, &result);
        FcPatternDestroy(pattern);
        if (!match) return choice;

        FcChar8* file = nullptr;
        int index = 0;
        FcBool embolden = FcFalse;
        FcMatrix* matrix = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
            FcPatternGetInteger(match, FC_INDEX, 0, &index);
            choice.face = Open(reinterpret_cast<const char*>(file), index);
            if (FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden) == FcResultMatch)
                choice.embolden = embolden == FcTrue;
            if (FcPatternGetMatrix(match, FC_MATRIX, 0, &matrix) == FcResultMatch && matrix) {
                choice.transform = true;
                choice.matrix.xx = static_cast<FT_Fixed>(std::lround(matrix->xx * 65536.0));
                choice.matrix.xy = static_cast<FT_Fixed>(std::lround(matrix->xy * 65536.0));
                choice.matrix.yx = static_cast<FT_Fixed>(std::lround(matrix->yx * 65536.0));
                choice.matrix.yy = static_cast<FT_Fixed>(std::lround(matrix->yy * 65536.0));
            }
        }
        FcPatternDestroy(match);
        return choice;
    }

    FT_Face Open(const std::string& file, int index) {
        const auto key = std::make_pair(file, index);
        auto found = faces_.find(key);
        if (found != faces_.end()) return found->second;
        FT_Face face = nullptr;
        if (FT_New_Face(library_, file.c_str(), index, &face) != 0) face = nullptr;
        // Only scalable faces can be drawn at any height.
        if (face && !FT_IS_SCALABLE(face)) {
            FT_Done_Face(face);
            face = nullptr;
        }
        faces_[key] = face;
        return face;
    }

    std::mutex mutex_;
    bool tried_ = false;
    FcConfig* config_ = nullptr;
    FT_Library library_ = nullptr;
    std::map<std::string, FaceChoice> choices_;
    std::map<std::pair<std::string, int>, FT_Face> faces_;
};

// Vertical metrics of the sized face, in whole pixels.
struct CellMetrics {
    int64_t ascent = 0;
    int64_t descent = 0;
    double pixelsPerUnit = 0;
};

// Sizes the face the way Windows reads a font height: a positive height is
// the cell (ascent + descent), a negative one the em height, 0 the default.
// For TrueType faces the cell is taken from the OS/2 table's Windows ascent
// and descent, as Windows does; other faces use their general metrics.
bool SizeFace(FT_Face face, int64_t height, CellMetrics* cell) {
    if (height == 0) height = kDefaultCellHeight;
    if (height > kMaxCellHeight) height = kMaxCellHeight;
    if (height < -kMaxCellHeight) height = -kMaxCellHeight;

    double ascentUnits = face->ascender;
    double descentUnits = -static_cast<double>(face->descender);
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        ascentUnits = os2->usWinAscent;
        descentUnits = os2->usWinDescent;
    }
    if (ascentUnits + descentUnits <= 0 || face->units_per_EM == 0) return false;

    double em;
    if (height > 0) {
        em = static_cast<double>(height) * face->units_per_EM / (ascentUnits + descentUnits);
        cell->ascent =
            std::llround(static_cast<double>(height) * ascentUnits / (ascentUnits + descentUnits));
        cell->descent = height - cell->ascent;
    } else {
        em = static_cast<double>(-height);
        cell->ascent = std::llround(em * ascentUnits / face->units_per_EM);
        cell->descent = std::llround(em * descentUnits / face->units_per_EM);
    }
    if (cell->ascent + cell->descent <= 0) return false;
    cell->pixelsPerUnit = em / face->units_per_EM;
    const auto em26 = static_cast<FT_F26Dot6>(std::llround(em * 64.0));
    return FT_Set_Char_Size(face, 0, em26 > 64 ? em26 : 64, 72, 72) == 0;
}

// A window of the coverage mask: mask columns [left, left + width) and rows
// [top, top + height), rows counted from the mask's top.
struct MaskWindow {
    int64_t left = 0;
    int64_t top = 0;
    int64_t width = 0;
    int64_t height = 0;
    std::vector<uint8_t> coverage;

    void Blend(int64_t column, int64_t row, uint8_t value) {
        column -= left;
        row -= top;
        if (column < 0 || row < 0 || column >= width || row >= height) return;
        uint8_t& c = coverage[static_cast<size_t>(row * width + column)];
        if (value > c) c = value;
    }
};

void BlendGlyph(const FT_Bitmap& bitmap, int64_t left, int64_t top, MaskWindow& mask) {
    for (unsigned int r = 0; r < bitmap.rows; ++r) {
        const int64_t row = top + r;
        if (row < mask.top || row >= mask.top + mask.height) continue;
        const unsigned char* src = bitmap.buffer + static_cast<ptrdiff_t>(r) * bitmap.pitch;
        for (unsigned int c = 0; c < bitmap.width; ++c) {
            uint8_t v;
            if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO)
                v = (src[c >> 3] >> (7 - (c & 7))) & 1 ? 255 : 0;
            else
                v = src[c];
            if (v) mask.Blend(left + c, row, v);
        }
    }
}

}  // namespace

int32_t RasterImage::DrawString(int32_t x, int32_t y, const char* text, RgbQuad colour,
                                const char* fontName, int32_t height, int32_t weight, bool italic,
                                bool underline, bool setAlpha) {
    if (!dib_) return 1;
    std::string family = fontName ? fontName : "";
    if (family.size() > kMaxFaceName) family.resize(kMaxFaceName);

    FontCache& cache = FontCache::Instance();
    std::lock_guard<std::mutex> lock(cache.Lock());
    const FaceChoice* choice = cache.Find(family, weight >= 600, italic);
    CellMetrics cell;
    if (!choice || !SizeFace(choice->face, height, &cell)) {
        SetLastError("DrawString: no font could be loaded");
        return 0;
    }
    FT_Face face = choice->face;
    FT_Matrix matrix = choice->matrix;
    FT_Set_Transform(face, choice->transform ? &matrix : nullptr, nullptr);

    // Lay the glyphs out once: their pen positions give the measured width.
    std::vector<FT_UInt> glyphs;
    std::vector<int64_t> pens;
    int64_t pen = 0;  // 26.6 fixed point
    const size_t length = text ? std::strlen(text) : 0;
    glyphs.reserve(length);
    pens.reserve(length);
    for (size_t k = 0; k < length; ++k) {
        const FT_UInt glyph =
            FT_Get_Char_Index(face, FromCp1252(static_cast<unsigned char>(text[k])));
        if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT) != 0) continue;
        if (choice->embolden) FT_GlyphSlot_Embolden(face->glyph);
        glyphs.push_back(glyph);
        pens.push_back(pen);
        pen += face->glyph->advance.x;
    }
    const int64_t textWidth = (pen + 63) / 64;
    const int64_t maskHeight = cell.ascent + cell.descent;
    const int64_t maskWidth = textWidth + maskHeight;

    // Mask column i lands on image column x + i, mask row t (from the top) on
    // top-down page row y - maskHeight + 1 + t. Keep the part inside the image.
    const int64_t imageWidth = GetWidth();
    const int64_t imageHeight = GetHeight();
    const int64_t firstRow = static_cast<int64_t>(y) - maskHeight + 1;
    MaskWindow mask;
    mask.left = std::max<int64_t>(0, -static_cast<int64_t>(x));
    const int64_t right = std::min<int64_t>(maskWidth, imageWidth - x);
    mask.top = std::max<int64_t>(0, -firstRow);
    const int64_t bottom = std::min<int64_t>(maskHeight, imageHeight - firstRow);
    if (right <= mask.left || bottom <= mask.top) return 1;
    mask.width = right - mask.left;
    mask.height = bottom - mask.top;
    mask.coverage.assign(static_cast<size_t>(mask.width * mask.height), 0);

    for (size_t k = 0; k < glyphs.size(); ++k) {
        const int64_t origin = (pens[k] + 32) / 64;
        if (origin - maskHeight > mask.left + mask.width) break;
        if (FT_Load_Glyph(face, glyphs[k], FT_LOAD_DEFAULT) != 0) continue;
        if (choice->embolden) FT_GlyphSlot_Embolden(face->glyph);
        const FT_GlyphSlot slot = face->glyph;
        // Glyphs wholly outside the window are not rendered; the margin of a
        // cell height covers slanted faces, whose metrics are not sheared.
        const int64_t glyphLeft = origin + slot->metrics.horiBearingX / 64;
        const int64_t glyphRight = glyphLeft + slot->metrics.width / 64 + 1;
        if (glyphRight + maskHeight < mask.left || glyphLeft - maskHeight > mask.left + mask.width)
            continue;
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) continue;
        BlendGlyph(slot->bitmap, origin + slot->bitmap_left, cell.ascent - slot->bitmap_top, mask);
    }

    if (underline && textWidth > 0) {
        // The face's own underline, or one under the baseline at a fraction
        // of the descent when the face has none.
        double position = -face->underline_position * cell.pixelsPerUnit;
        double thickness = face->underline_thickness * cell.pixelsPerUnit;
        if (face->underline_thickness <= 0) {
            position = static_cast<double>(cell.descent) / 2;
            thickness = static_cast<double>(maskHeight) / 14;
        }
        const int64_t lines = std::max<int64_t>(1, std::llround(thickness));
        int64_t top = cell.ascent + std::max<int64_t>(0, std::llround(position - thickness / 2));
        if (top + lines > maskHeight) top = std::max<int64_t>(cell.ascent, maskHeight - lines);
        for (int64_t row = top; row < top + lines && row < maskHeight; ++row)
            for (int64_t column = 0; column < textWidth; ++column) mask.Blend(column, row, 255);
    }

    for (int64_t r = 0; r < mask.height; ++r) {
        const int64_t pageRow = firstRow + mask.top + r;
        const auto imageRow = static_cast<int32_t>(imageHeight - 1 - pageRow);
        const uint8_t* line = mask.coverage.data() + r * mask.width;
        for (int64_t c = 0; c < mask.width; ++c) {
            if (line[c] > 127)
                SetPixelColor(static_cast<int32_t>(x + mask.left + c), imageRow, colour, setAlpha);
        }
    }
    return 1;
}

}  // namespace sheetmend
