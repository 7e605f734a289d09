#include "pipeline/orient.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "image/formats.h"
#include "image/raster_image.h"
#include "ocr/engine_runner.h"
#include "ocr/run_and_wait.h"
#include "pipeline/image_files.h"
#include "platform/console.h"
#include "platform/executable.h"
#include "platform/temp_files.h"

namespace sheetmend {

namespace {

// Below this the engine's orientation is a guess; its reports for upright
// text pages run from about 3 upward.
constexpr double kMinOrientationConfidence = 2.0;

std::string ProgramFolder() {
    std::string dir = ExecutableDirectory();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

std::string QuietEngine(const std::string& folder) {
    for (const char* name : ocr::kEngineNames)
        if (ocr::FileExists(folder + name)) return folder + name;
    return {};
}

double NumberAfter(const std::string& report, const char* label, bool* found) {
    const size_t at = report.find(label);
    *found = at != std::string::npos;
    return *found ? std::atof(report.c_str() + at + std::char_traits<char>::length(label)) : 0.0;
}

}  // namespace

bool OrientationEngineReady(std::string* why) {
    const std::string folder = ProgramFolder();
    if (folder.empty() || QuietEngine(folder).empty()) {
        *why = "the OCR engine (ocr.exe) is not beside the program";
        return false;
    }
    if (!ocr::FileExists(folder + "tessdata/osd.traineddata")) {
        *why =
            "the orientation data (tessdata/osd.traineddata, package tesseract-ocr-osd) is missing";
        return false;
    }
    return true;
}

void ReportOrientationUnavailable(const ToolOptions& options, const std::string& inputPath) {
    std::string why;
    if (options.orient && !OrientationEngineReady(&why))
        ConsolePrintf("[ERROR] Cannot orient the pages of \"%s\": %s.\n", inputPath.c_str(),
                      why.c_str());
}

int32_t UprightTurnFromReport(const std::string& report, double minConfidence) {
    bool hasTurn = false, hasConfidence = false;
    const double turn = NumberAfter(report, "Rotate:", &hasTurn);
    const double confidence = NumberAfter(report, "Orientation confidence:", &hasConfidence);
    const auto quarter = static_cast<int32_t>(turn);
    if (!hasTurn || !hasConfidence || quarter != turn || quarter % 90 != 0 || quarter < 0 ||
        quarter > 270)
        return -1;
    return confidence >= minConfidence ? quarter : 0;
}

void OrientPage(const ToolOptions& options, RasterImage& page) {
    std::string why;
    if (!options.orient || !page.IsValid() || !OrientationEngineReady(&why)) return;
    const std::string folder = ProgramFolder();
    // The engine reads a grey copy: smaller to write, the same to detect on.
    RasterImage copy(page);
    if (copy.GetBpp() > 8 || (copy.GetBpp() == 8 && !copy.IsGrayScale())) copy.GrayScale();
    const std::string input = MakeTempPath(".png");
    const std::string base = MakeTempPath("");
    if (input.empty() || base.empty() || !SaveExplained(copy, input, kFormatPng)) {
        ConsolePrintf("[ERROR] Orient: cannot write the page for the OCR engine.\n");
        if (!input.empty()) unlink(input.c_str());
        return;
    }
    std::vector<ocr::EnvironmentSetting> environment{{"TESSDATA_PREFIX", folder}};
    if (!std::getenv("OMP_THREAD_LIMIT")) environment.push_back({"OMP_THREAD_LIMIT", "1"});
    ocr::RunArguments({QuietEngine(folder), input, base, "OSD"}, environment, true);
    unlink(input.c_str());
    std::ifstream in(base + ".osd");
    std::stringstream report;
    report << in.rdbuf();
    in.close();
    unlink((base + ".osd").c_str());

    const int32_t turn = UprightTurnFromReport(report.str(), kMinOrientationConfidence);
    if (turn <= 0) {
        ConsolePrintf(
            "[Message] Orient: %s, page left as it is.\n",
            turn == 0 ? "page upright or orientation not clear" : "orientation not clear");
        return;
    }
    const int32_t xDpi = page.GetXDpi(), yDpi = page.GetYDpi();
    const bool ok = turn == 90    ? page.RotateRight()
                    : turn == 270 ? page.RotateLeft()
                                  : page.RotateRight() && page.RotateRight();
    if (!ok) {
        ConsolePrintf("[ERROR] Orient: the page could not be turned: %s\n", page.GetLastError());
        return;
    }
    if (turn != 180) {
        page.SetXDpi(yDpi);
        page.SetYDpi(xDpi);
    }
    ConsolePrintf("[Message] Orient: page turned %d degrees clockwise.\n", turn);
}

}  // namespace sheetmend
