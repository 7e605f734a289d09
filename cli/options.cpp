#include "cli/options.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "cli/log.h"
#include "platform/paths.h"

namespace sheetmend {

OptionTable BuildOptionTable(ToolOptions& o) {
    return OptionTable{
        {"-bitcount", kOptionInteger, &o.bitcount, 0,
         "Set color depth when render PDF page to image data, it can be set 1, 8, 24, default is 8bit"},
        {"-rotate", kOptionInteger, &o.rotate, 0, "Rotate image file"},
        {"-threshold", kOptionInteger, &o.threshold, 0,
         "Lightness threshold that used to convert image to B&W, from 1 to 255, 0 is auto, default is -1"},
        {"-dither", kOptionInteger, &o.dither, 0,
         "Convert the color image to B&W using the desired method:\n"
         "\t\t-dither 0: Floyd-Steinberg\n"
         "\t\t-dither 1: Ordered-Dithering (4x4)\n"
         "\t\t-dither 2: Burkes\n"
         "\t\t-dither 3: Stucki\n"
         "\t\t-dither 4: Jarvis-Judice-Ninke\n"
         "\t\t-dither 5: Sierra\n"
         "\t\t-dither 6: Stevenson-Arce\n"
         "\t\t-dither 7: Bayer (4x4 ordered dithering)"},
        {"-width", kOptionInteger, &o.width, 0,
         "Scale output to specific width (proportional unless height specified)"},
        {"-height", kOptionInteger, &o.height, 0,
         "Scale output to specific height (proportional unless width specified)"},
        {"-flip", kOptionFlag, &o.flip, 0, "Flip the image vertically"},
        {"-mirror", kOptionFlag, &o.mirror, 0, "Mirror the image horizontally"},
        {"-deskew", kOptionFlag, &o.deskew, 0, "Enable image deskew options"},
        {"-skewrange", kOptionNumber, &o.skewrange, 0,
         "Range in which to search for rotation, from -degrees to +degrees rotation. (default: 5.0)"},
        {"-deskew2", kOptionFlag, &o.deskew2, 0, "Enable image deskew by second arithmetic"},
        {"-despeckle", kOptionFlag, &o.despeckle, 0, "Enable image despeckle options"},
        {"-despeckle2", kOptionFlag, &o.despeckle2, 0, "Enable image despeckle by second arithmetic"},
        {"-specklesize", kOptionInteger, &o.specklesize, 0,
         "Set speckle size for -despeckle2 option, default is 20 pixel"},
        {"-layout", kOptionFlag, &o.layout, 0, "Layout Analysis for page automatically"},
        {"-boxobjects", kOptionFlag, &o.boxobjects, 0,
         "Recognize objects from scanned image file automatically"},
        {"-removelongline", kOptionInteger, &o.removelongline, 0,
         "Remove black lines which length larger than this value"},
        {"-removeshortline", kOptionInteger, &o.removeshortline, 0,
         "Remove black lines which length less than this value"},
        {"-trimmargin", kOptionFlag, &o.trimmargin, 0,
         "Trim solid color margins from scanned image file automatically"},
        {"-fuzz", kOptionNumber, &o.fuzz, 0,
         "Colors within this distance of percentage are considered equal, from 1.00 to 100.00, default is "
         "80.00"},
        {"-trimcolor", kOptionText, &o.trimcolor, kTrimColorCapacity,
         "Trim border by special color,\n"
         "    -trimcolor FF0000: Red color\n"
         "    -trimcolor 00FF00: Green color\n"
         "    -trimcolor 0000FF: Blue color\n"
         "    -trimcolor HexNum: Other colors"},
        {"-removeborder", kOptionFlag, &o.removeborder, 0,
         "Remove black borders from scanned image file automatically"},
        {"-ocr", kOptionFlag, &o.ocr, 0, "OCR image file to text file automatically"},
        {"-lang", kOptionText, &o.lang, kLangCapacity, "choose the language for OCR engine"},
        {"-boxpic", kOptionFlag, &o.boxpic, 0, "Output image file with boxes"},
        {"-pdfdpi", kOptionInteger, &o.pdfdpi, 0,
         "Resolution at which PDF pages that are not one scanned image are rendered, default is 300 or that of the page's images, at most 600"},
        {"-adaptive", kOptionFlag, &o.adaptive, 0,
         "Use a local threshold wherever a page becomes black and white (unevenly lit pages)"},
        {"-flatten", kOptionFlag, &o.flatten, 0,
         "Remove background shade, stains and yellowing from grey and colour pages"},
        {"-straighten", kOptionFlag, &o.straighten, 0,
         "Straighten skewed pages of any depth: the skew is measured on all text lines of the page "
         "(within -skewrange, default 15 degrees) and the page turned level with paper-coloured "
         "corners; pages without clear text lines stay as they are. Unlike -deskew (external "
         "tool) and -deskew2 (first two lines only, black and white, up to 2.9 degrees)"},
        {"-orient", kOptionFlag, &o.orient, 0,
         "Turn pages that lie on their side or upside down upright (by quarter turns), as the OCR "
         "engine's orientation detection says; pages whose orientation is not clear stay as they "
         "are"},
        {"-sidecar", kOptionFlag, &o.sidecar, 0,
         "With -ocr, also write the recognized text to <output name>.txt, pages separated by "
         "form feeds"},
        {"-report", kOptionText, &o.report, kPathCapacity,
         "Append one JSON line per page to this file (JSON Lines), - for standard error"},
        {"-clean", kOptionFlag, &o.clean, 0,
         "Clean scanned pages in one pass: paint dark scanner borders and edge shadows paper "
         "colour, flatten grey and colour pages, straighten, then apply the other conversion "
         "options and remove specks (-specklesize) from black-and-white results; with -ocr the "
         "engine reads the cleaned page"},
        {"-skip", kOptionFlag, &o.skip, 0, "Skip existing output files, don't overwrite it"},
        {"-v", kOptionFlag, &o.version, 0, "Print copyright and version info"},
        {"-h", kOptionFlag, &o.help, 0, "Print usage information"},
        {"-help", kOptionFlag, &o.help, 0, "Print usage information"},
        {"--help", kOptionFlag, &o.help, 0, "Print usage information"},
        {"-?", kOptionFlag, &o.help, 0, "Print usage information"},
    };
}

bool IsIntegerText(const std::string& text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i == text.size();
}

bool IsNumberText(const std::string& text) {
    size_t i = 0;
    const size_t n = text.size();
    auto isDigit = [&](size_t k) { return k < n && text[k] >= '0' && text[k] <= '9'; };
    bool digits = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) ++i;
    while (isDigit(i)) ++i, digits = true;
    if (i < n && text[i] == '.') ++i;
    while (isDigit(i)) ++i, digits = true;
    if (!digits) return i == n;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '-' || text[i] == '+')) ++i;
        if (!isDigit(i)) return false;
        while (isDigit(i)) ++i;
    }
    return i == n;
}

namespace {

// The runtime's decimal conversion, saturated to the 32-bit range instead of
// wrapping on overflow.
int32_t ToInteger(const std::string& text) {
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

bool ParseOptionValue(const OptionEntry& entry, size_t index, std::vector<std::string>& words) {
    const bool hasValue = index + 1 < words.size();
    auto consume = [&](size_t count) {
        words.erase(words.begin() + static_cast<ptrdiff_t>(index),
                    words.begin() + static_cast<ptrdiff_t>(index + count));
    };
    switch (entry.type) {
        case kOptionFlag:
            *std::get<int32_t*>(entry.target) = 1;
            consume(1);
            return true;
        case kOptionInteger:
            if (hasValue && IsIntegerText(words[index + 1])) {
                *std::get<int32_t*>(entry.target) = ToInteger(words[index + 1]);
                consume(2);
                return true;
            }
            consume(1);
            return false;
        case kOptionNumber:
            if (hasValue && IsNumberText(words[index + 1])) {
                *std::get<double*>(entry.target) = std::atof(words[index + 1].c_str());
                consume(2);
                return true;
            }
            consume(1);
            return false;
        case kOptionText:
            if (hasValue) {
                *std::get<std::string*>(entry.target) =
                    words[index + 1].substr(0, static_cast<size_t>(entry.capacity - 1));
                consume(2);
                return true;
            }
            consume(1);
            return false;
        default:
            std::printf("Internal error in arg table\n");
            consume(1);
            return true;
    }
}

const OptionEntry* FindOption(const OptionTable& table, const std::string& word) {
    for (const OptionEntry& e : table) {
        if (e.name.empty()) break;
        if (e.type >= kOptionFlag && e.type <= kOptionText && e.name == word) return &e;
    }
    return nullptr;
}

bool ParseArguments(const OptionTable& table, std::vector<std::string>& words) {
    bool ok = true;
    size_t i = 1;
    while (i < words.size()) {
        if (words[i] == "--") {
            words.erase(words.begin() + static_cast<ptrdiff_t>(i));
            break;
        }
        if (const OptionEntry* e = FindOption(table, words[i])) {
            if (!ParseOptionValue(*e, i, words)) ok = false;
        } else {
            ++i;
        }
    }
    return ok;
}

void PrintUsage(const std::string& programName, const std::string& positionalText,
                const OptionTable& table) {
    size_t w = 0;
    for (const OptionEntry& e : table)
        if (e.name.size() > w) w = e.name.size();
    std::printf("Usage: %s [options]", programName.c_str());
    if (!positionalText.empty()) std::printf(" %s", positionalText.c_str());
    for (const OptionEntry& e : table) {
        const char* typeText = "";
        switch (e.type) {
            case kOptionInteger:
            case kOptionHiddenInteger: typeText = " <int>"; break;
            case kOptionNumber:
            case kOptionHiddenNumber: typeText = " <fp>"; break;
            case kOptionText:
            case kOptionHiddenText: typeText = " <string>"; break;
            default: break;
        }
        std::printf("\n");
        std::printf("  %s", e.name.c_str());
        std::printf("%-*s", static_cast<int>(w - e.name.size() + 9), typeText);
        if (!e.helpText.empty()) std::printf(": %s", e.helpText.c_str());
    }
    std::printf("\n");
}

void PrintAbout(const OptionTable& table, const std::string& programName) {
    const char* p = programName.c_str();
    std::printf("Product Name: %s\n", "Quorvex Sheetmend Command Line");
    std::printf("Product Web Page: %s\n", "https://www.quorvex.example/app/sheetmend/");
    std::printf("Release Date: %s\n", __DATE__);
    std::printf("Web: %s\n", "https://www.quorvex.example/");
    std::printf("Web: %s\n", "https://sheetmend.quorvex.example/");
    std::printf("Support: %s\n", "support@quorvex.example");
    std::printf("Description: Batch process scanned image files from command line.\n");
    std::printf("Features:\n");
    std::printf("1. Black Lines Removal\n");
    std::printf("2. Dynamic Thresholding\n");
    std::printf("3. Deskew\n");
    std::printf("4. Despeckle\n");
    std::printf("5. Black Border Removal\n");
    std::printf("6. Layout Analysis\n");
    std::printf("7. OCR Scanned Image files to text files\n");
    PrintUsage(programName, "<in-file> [<out-file>]", table);
    std::printf("Example:\n");
    static const char* const kExamples[] = {
        "-removeshortline 5 X:\\test_despeckle.tif D:\\out.png",
        "-removeshortline 3 -removelongline 0 X:\\test_despeckle.tif D:\\out.png",
        "-removelongline 100 X:\\test_black_border1.jpg D:\\out.png",
        "-removelongline 200 X:\\test_line.png D:\\out.png",
        "-removelongline 0 X:\\test_line.png D:\\out.png",
        "-removelongline 100 X:\\test_table_ocr.tif D:\\out.png",
        "-removelongline 1000 X:\\test_black_border1.jpg D:\\out.png",
        "-removelongline 0 X:\\test_black_border1.jpg D:\\out.png",
        "-removelongline 0 X:\\test_skew.tif D:\\out.png",
        "-removelongline 0 X:\\test_line.png D:\\out.png",
        "-removelongline 0 X:\\test_table_ocr.tif D:\\out.png",
        "-removelongline 30 D:\\out014.png D:\\out.png",
        "-removelongline 0 D:\\out009.png D:\\out.png",
        "-removelongline 0 -boxobjects X:\\test_negative.png D:\\out.png",
        "-deskew -skewrange 45 X:\\test_negative.png D:\\out.png",
        "-deskew2 X:\\test_negative.png D:\\out.png",
        "-despeckle X:\\test_despeckle.tif D:\\out.png",
        "-despeckle2 -specklesize 20 X:\\test_despeckle.tif D:\\out.png",
        "-removeborder D:\\out009.png D:\\out.png",
        "-removeborder -fuzz 50 X:\\test_despeckle.tif D:\\out.png",
        "-removeborder -fuzz 80 X:\\test_black_border1.jpg D:\\out.png",
        "-trimmargin -fuzz 80 X:\\test_black_border1.jpg D:\\out.png",
        "-trimmargin X:\\test_black_border2.png D:\\out.png",
        "-trimmargin -trimcolor FFFFFF -fuzz 100 X:\\test_table_ocr.tif D:\\out.png",
        "-ocr -boxpic X:\\test_table_ocr.tif D:\\out.png",
        "-bitcount 1 X:\\test_color.tif D:\\out.png",
        "-layout D:\\out009.png D:\\out.png",
    };
    for (const char* e : kExamples) std::printf("   %s %s\n", p, e);
}

int32_t ParseCommandLine(ToolOptions& options, const std::vector<std::string>& words) {
    const std::string programPath = words.empty() ? std::string() : words.front();
    const PathParts programParts = SplitPath(programPath);
    const std::string programName = programParts.name + programParts.ext;

    LogMessage(options, "Parse command line parameters...\n");
    const OptionTable table = BuildOptionTable(options);
    std::vector<std::string> rest = words;
    if (rest.empty()) rest.push_back(programPath);
    const bool parsed = ParseArguments(table, rest);
    const size_t positional = rest.size() - 1;
    if (!parsed || positional < 1 || positional > 2 || options.version || options.help) {
        PrintAbout(table, programName);
        if (options.version) std::printf("Version: %s\n", SHEETMEND_VERSION);
        return 0;
    }
    options.inputPath = rest[1];
    if (options.inputPath.empty()) return 0;
    if (options.inputPath.size() >= static_cast<size_t>(kPathCapacity)) {
        std::printf("[ERROR] The input path is longer than %d characters.\n", kPathCapacity - 1);
        return 0;
    }
    if (positional == 2) {
        options.outputPath = rest[2];
        if (options.outputPath.size() >= static_cast<size_t>(kPathCapacity)) {
            std::printf("[ERROR] The output path is longer than %d characters.\n", kPathCapacity - 1);
            return 0;
        }
    } else {
        const PathParts in = SplitPath(options.inputPath);
        options.outputPath = MakePath(in.drive, in.dir, in.name, ".png");
    }
    if (!IsAbsolutePath(options.inputPath) && PathExists(options.inputPath))
        options.inputPath = AbsolutePath(options.inputPath);
    if (!options.outputPath.empty() && !IsAbsolutePath(options.outputPath))
        options.outputPath = AbsolutePath(options.outputPath);
    return 1;
}

}  // namespace sheetmend
