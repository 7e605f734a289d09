// Accuracy of the whole-page skew measurement on real scans: every scan of
// a folder is turned by known angles with the image library's general
// rotation (a different code path from the straightening turn) and
// measured again; the residual is the measured change of skew minus the
// angle turned. Prints one row per scan and the totals within +-6 degrees.
//
//   straighten_accuracy_bench [-v] [SCAN_FOLDER]   (default ../shared/scans)
#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "image/formats.h"
#include "image/raster_image.h"
#include "layout/page_skew.h"

using namespace sheetmend;

int main(int argc, char** argv) {
    // -v prints every turn of every scan.
    const bool verbose = argc > 1 && std::string(argv[1]) == "-v";
    if (verbose) --argc, ++argv;
    const std::string folder = argc > 1 ? argv[1] : "../shared/scans";
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 4 && n.find(".md") == std::string::npos && n[0] != '.')
                names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) {
        std::fprintf(stderr, "no scans in %s\n", folder.c_str());
        return 1;
    }
    const double angles[] = {-15, -10, -6, -4, -2.5, -1, -0.3, 0.7, 1.8, 3.2, 5, 6, 10, 15};
    std::vector<double> within;
    std::printf("%-24s %8s %10s %10s %10s %8s\n", "scan", "own skew", "mean +-6", "worst +-6",
                "worst all", "refused");
    for (const std::string& name : names) {
        RasterImage page;
        if (!page.Load((folder + "/" + name).c_str(), kFormatUnknown)) continue;
        const PageSkew own = MeasurePageSkew(page, kDefaultSkewRangeDegrees);
        double sum = 0, worst6 = 0, worst = 0;
        int n6 = 0, refused = 0;
        for (double angle : angles) {
            RasterImage turned(page);
            // Paper behind the turned page: the lighter entry, or white.
            if (turned.GetBpp() <= 8) {
                const RgbQuad a = turned.GetPaletteColor(0),
                              b = turned.GetPaletteColor(
                                  static_cast<uint8_t>(turned.GetNumColors() - 1));
                turned.SetBackgroundIndex(a.red + a.green + a.blue > b.red + b.green + b.blue
                                              ? 0
                                              : static_cast<int32_t>(turned.GetNumColors() - 1));
            } else {
                turned.SetBackgroundColor(RgbQuad{255, 255, 255, 0});
                turned.SetBackgroundIndex(0);
            }
            // A positive angle turns the page clockwise as shown: its lines
            // then descend to the right, and the skew grows by the angle.
            turned.Rotate(static_cast<float>(angle));
            turned.SetBackgroundIndex(-1);
            const PageSkew skew = MeasurePageSkew(turned, kDefaultSkewRangeDegrees);
            if (!skew.trusted) ++refused;
            const double residual = std::fabs(skew.degrees - own.degrees - angle);
            if (verbose)
                std::printf(
                    "  %-22s turned %6.2f: measured %7.3f (residual %.3f, confidence %.1f, "
                    "%d lines%s)\n",
                    name.c_str(), angle, skew.degrees - own.degrees, residual, skew.confidence,
                    skew.lines, skew.trusted ? "" : ", refused");
            worst = std::max(worst, residual);
            if (std::fabs(angle) <= 6) {
                sum += residual, ++n6, worst6 = std::max(worst6, residual);
                within.push_back(residual);
            }
        }
        std::printf("%-24s %8.2f %10.3f %10.3f %10.3f %8d\n", name.c_str(), own.degrees, sum / n6,
                    worst6, worst, refused);
    }
    std::sort(within.begin(), within.end());
    double mean = 0;
    for (double r : within) mean += r / static_cast<double>(within.size());
    std::printf("within +-6 degrees: mean %.3f, 90%% %.3f, worst %.3f (%zu turns)\n", mean,
                within[within.size() * 9 / 10], within.back(), within.size());
    return 0;
}
