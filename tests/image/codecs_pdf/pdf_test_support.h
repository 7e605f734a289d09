// Reading back the PDF files we write with independent tools: qpdf --check for
// the file's structure, poppler's pdfimages for each image's coding and
// pixels, pdfinfo for the page count and page size.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/external_tools.h"

namespace sheetmend::testing {

// One line of `pdfimages -list`.
struct ListedImage {
    int page = 0;
    std::string type;  // image, smask
    int width = 0, height = 0;
    std::string colour;  // gray, rgb, index
    int components = 0, bits = 0;
    std::string encoding;  // ccitt, image (Flate), jpeg
    int xPpi = 0, yPpi = 0;
};

inline std::vector<ListedImage> ListImages(const std::string& pdf) {
    std::string out;
    std::vector<ListedImage> list;
    if (RunShell("pdfimages -list '" + pdf + "' 2>&1", &out) != 0) {
        ADD_FAILURE() << "pdfimages -list: " << out;
        return list;
    }
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);  // the column names
    std::getline(lines, line);  // the rule below them
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        ListedImage i;
        int num;
        std::string interp, object, generation;
        if (f >> i.page >> num >> i.type >> i.width >> i.height >> i.colour >> i.components >>
            i.bits >> i.encoding >> interp >> object >> generation >> i.xPpi >> i.yPpi)
            list.push_back(i);
    }
    return list;
}

inline bool QpdfCheckPasses(const std::string& pdf, std::string* output = nullptr) {
    std::string out;
    const int status = RunShell("qpdf --check '" + pdf + "' 2>&1", &out);
    if (output) *output = out;
    return status == 0 && out.find("No syntax or stream encoding errors") != std::string::npos;
}

// The value of a "Name: value" line of pdfinfo ("" when missing).
inline std::string PdfInfoField(const std::string& pdf, const std::string& field,
                                const std::string& options = "") {
    std::string out;
    RunShell("pdfinfo " + options + " '" + pdf + "' 2>&1", &out);
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            const size_t start = line.find_first_not_of(' ', field.size() + 1);
            return start == std::string::npos ? "" : line.substr(start);
        }
    }
    return "";
}

// Page size in points of page `page` ("Page    1 size: w x h pts").
inline bool PageSize(const std::string& pdf, int page, double* w, double* h) {
    char field[32];
    std::snprintf(field, sizeof field, "Page %4d size", page);
    const std::string value = PdfInfoField(pdf, field, "-f 1 -l 999");
    return std::sscanf(value.c_str(), "%lf x %lf", w, h) == 2;
}

// Extracts every image of the file as PNG (pdfimages -png) and decodes the
// `index`-th one with ImageMagick.
inline bool ExtractImage(const ScratchDir& dir, const std::string& pdf, int index, Pnm* pnm) {
    const std::string root = dir.File("extracted");
    std::string out;
    if (RunShell("pdfimages -png '" + pdf + "' '" + root + "' 2>&1", &out) != 0) {
        ADD_FAILURE() << out;
        return false;
    }
    char name[32];
    std::snprintf(name, sizeof name, "-%03d.png", index);
    const bool ok = DecodeWithImageMagick(root + name, pnm);
    RunShell("rm -f '" + root + "'-*");
    return ok;
}

// A folder where no file can be made: read-only for an ordinary user, and
// sysfs for root (who may write into any folder of a normal file system).
inline std::string UnwritableFolder(const ScratchDir& dir) {
    if (geteuid() == 0) return "/sys";
    const std::string folder = dir.File("read-only");
    RunShell("mkdir -p '" + folder + "' && chmod 555 '" + folder + "'");
    return folder;
}

}  // namespace sheetmend::testing
