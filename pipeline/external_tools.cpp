// The external tool steps. Files go to and from the programs through the
// run's temporary folder. Success is judged by the file a program writes,
// which is never a file that was there before: every output the programs are
// given is a fresh temporary name. A program that hangs is stopped after
// kCommandTimeLimitMs and its partial output thrown away.
#include "pipeline/external_tools.h"

#include <FreeImage.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "image/format_codes.h"
#include "image/formats.h"
#include "image/raster_image.h"
#include "layout/binarize.h"
#include "pipeline/image_files.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file_copy.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/temp_files.h"

namespace sheetmend {

namespace {

void InitialiseFreeImage() {
    static std::once_flag once;
    std::call_once(once, [] { FreeImage_Initialise(TRUE); });
}

// A program that exists and that a command line can name (the program part
// of a command line cannot hold a quote).
bool UsableToolPath(const std::string& path) {
    return !path.empty() && path.find('"') == std::string::npos && PathExists(path);
}

// Runs a tool's command line. A tool that had to be stopped is reported and
// whatever it wrote to `outputPath` removed; a tool that wrote no output has
// what it printed passed on, so the user sees its reason.
bool RunTool(const char* name, const std::string& commandLine, const std::string& outputPath) {
    std::string printed;
    const CommandOutcome outcome = RunCommandLine(commandLine, printed);
    if (outcome.timedOut) {
        unlink(outputPath.c_str());
        ConsoleErrorf("[ERROR] %s did not finish within %d seconds and was stopped.\n", name,
                      kCommandTimeLimitMs / 1000);
        return false;
    }
    if (outcome.started && FileExists(outputPath)) return true;
    ConsoleErrorf("[ERROR] %s %s.\n%s", name,
                  outcome.started ? "wrote no result" : "could not be started", printed.c_str());
    if (!printed.empty() && printed.back() != '\n') ConsoleWrite(ConsoleStream::kErr, "\n");
    return false;
}

// Puts a finished file in place of `to`: renamed when both lie on one file
// system, else copied (with the permissions a new file gets) and removed.
bool MoveFileReplacing(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV || !CopyFileReplacing(from, to)) return false;
    const mode_t mask = umask(0);
    umask(mask);
    chmod(to.c_str(), 0666 & ~mask);
    unlink(from.c_str());
    return true;
}

bool IsNetpbm(FREE_IMAGE_FORMAT f) {
    return f == FIF_PBM || f == FIF_PBMRAW || f == FIF_PGM || f == FIF_PGMRAW || f == FIF_PPM ||
           f == FIF_PPMRAW;
}

// FreeImage writes the bits of a 1-bit page to a Netpbm file as they are,
// while there a set bit is black. A page whose palette has black first (as
// FreeImage itself loads bitmaps, and as greyscale PNG files hold them) would
// reach the tool as a negative; it is turned around, picture unchanged.
void WriteInkAsSetBits(FIBITMAP* bitmap) {
    if (FreeImage_GetBPP(bitmap) != 1 || FreeImage_GetColorType(bitmap) != FIC_MINISBLACK) return;
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    if (!palette || !FreeImage_Invert(bitmap)) return;
    palette[0] = RGBQUAD{255, 255, 255, 0};
    palette[1] = RGBQUAD{0, 0, 0, 0};
}

// A path the converter reads as a file name: one starting with '-' would be
// taken for an option.
std::string AsFileArgument(const std::string& path) {
    return !path.empty() && path[0] == '-' ? "./" + path : path;
}

}  // namespace

bool ConvertWithFreeImage(const std::string& sourcePath, const std::string& targetPath) {
    if (sourcePath.empty() || targetPath.empty()) return false;
    InitialiseFreeImage();
    FREE_IMAGE_FORMAT source = FreeImage_GetFileType(sourcePath.c_str(), 0);
    if (source == FIF_UNKNOWN) source = FreeImage_GetFIFFromFilename(sourcePath.c_str());
    if (source == FIF_UNKNOWN) return false;
    const FREE_IMAGE_FORMAT target = FreeImage_GetFIFFromFilename(targetPath.c_str());
    if (target == FIF_UNKNOWN) return false;
    FIBITMAP* bitmap = FreeImage_Load(source, sourcePath.c_str(), 0);
    if (!bitmap) return false;
    if (IsNetpbm(target)) WriteInkAsSetBits(bitmap);
    const bool saved = FreeImage_Save(target, bitmap, targetPath.c_str(), 0) != FALSE;
    FreeImage_Unload(bitmap);
    if (!saved) unlink(targetPath.c_str());
    return saved;
}

std::string DeskewToolCommandLine(const std::string& toolPath, const std::string& inputPath,
                                  const std::string& outputPath, double scanRange) {
    std::string option;
    if (scanRange > 0) {
        char text[64];
        std::snprintf(text, sizeof text, " --deskew-scan-range %.2f", scanRange);
        option = text;
    }
    return "\"" + toolPath + "\" " + option + " " + QuoteArgument(inputPath) + " " +
           QuoteArgument(outputPath);
}

bool RunDeskewToolAt(const std::string& toolPath, const std::string& inputPath,
                     const std::string& outputPath, double scanRange) {
    if (inputPath.empty() || outputPath.empty() || !UsableToolPath(toolPath)) return false;
    return RunTool(kDeskewToolName,
                   DeskewToolCommandLine(toolPath, inputPath, outputPath, scanRange), outputPath);
}

bool RunDeskewTool(const std::string& inputPath, const std::string& outputPath, double scanRange) {
    return RunDeskewToolAt(ToolPathBesideExecutable(kDeskewToolName), inputPath, outputPath,
                           scanRange);
}

bool ExternalDeskewStep(const ToolOptions& options, RasterImage& image, double scanRange) {
    if (!image.IsValid()) return false;
    const char* exchange = nullptr;
    switch (image.GetBpp()) {
        case 1:
            exchange = ".pbm";
            break;
        case 8:
            exchange = ".pgm";
            break;
        case 24:
            exchange = ".ppm";
            break;
        default:
            return false;
    }
    // The tool always receives a black-and-white page; the name keeps the
    // extension of the original depth.
    BinarizePage(image, options.adaptive != 0);
    // Netpbm has no transparency: an alpha plane would only make the
    // exchange fail, and a black-and-white page for the tool has no use for it.
    image.AlphaDelete();
    const int32_t xDpi = image.GetXDpi(), yDpi = image.GetYDpi();
    const uint32_t start = TickCountMs();

    const std::string png = MakeTempPath(".png");
    const std::string toolInput = MakeTempPath(exchange);
    const std::string toolOutput = MakeTempPath(exchange);
    const std::string result = MakeTempPath(".png");
    auto removeOwnFiles = [&] {
        for (const std::string* f : {&png, &toolInput, &toolOutput, &result})
            if (!f->empty()) unlink(f->c_str());
    };
    RasterImage cleaned;
    const bool ok = !png.empty() && !toolInput.empty() && !toolOutput.empty() && !result.empty() &&
                    image.Save(png.c_str(), kFormatPng) && ConvertWithFreeImage(png, toolInput) &&
                    RunDeskewTool(toolInput, toolOutput, scanRange) &&
                    ConvertWithFreeImage(toolOutput, result) && FileExists(result) &&
                    cleaned.Load(result.c_str(), kFormatUnknown);
    removeOwnFiles();
    if (!ok) return false;

    // Netpbm files carry no resolution; the page is the same size as before.
    cleaned.SetXDpi(xDpi);
    cleaned.SetYDpi(yDpi);
    image.Transfer(cleaned);
    const auto elapsed = static_cast<int32_t>(TickCountMs() - start);
    ConsolePrintf("[Message] Image processing takes %dms (%.2fs)\n", elapsed, elapsed * 0.001);
    CleanupTempFiles();
    return true;
}

int32_t BorderFuzzPercent(double fuzz) {
    if (std::isnan(fuzz) || fuzz <= 0.0 || fuzz >= 100.0) return 80;
    const auto percent = static_cast<int32_t>(fuzz);
    return percent <= 0 ? 80 : percent;
}

std::string RemoveBorderCommandLine(const std::string& toolPath, const std::string& inputPath,
                                    int32_t fuzzPercent, const std::string& outputPath) {
    return "\"" + toolPath + "\" " + QuoteArgument(inputPath) +
           " -bordercolor black -border 1 -fuzz " + std::to_string(fuzzPercent) +
           "% -fill white -draw \"color 0,0 floodfill\" -alpha off -shave 1x1 " +
           QuoteArgument(outputPath);
}

int32_t RemoveBorders(const ToolOptions& options, const std::string& inputPath,
                      const std::string& outputPath) {
    return RemoveBordersWith(ToolPathBesideExecutable(kConverterName), options, inputPath,
                             outputPath);
}

int32_t RemoveBordersWith(const std::string& tool, const ToolOptions& options,
                          const std::string& inputPath, const std::string& outputPath) {
    if (!UsableToolPath(tool) || inputPath.empty() || outputPath.empty()) return 0;

    std::string input = inputPath;
    std::string copy;
    if (strcasecmp(inputPath.c_str(), outputPath.c_str()) == 0) {
        copy = MakeTempPath(SplitPath(inputPath).ext);
        if (!copy.empty() && CopyFileReplacing(inputPath, copy)) input = copy;
    }
    // The output's extension tells the converter the format to write. A PDF
    // is made here from the PNG the converter writes, so it is coded as every
    // other PDF of ours (and needs no PDF support in the converter).
    const bool pdf = ImageTypeFromExtension(outputPath) == kFormatPdf;
    const std::string written = MakeTempPath(pdf ? ".png" : SplitPath(outputPath).ext);
    bool ok = false;
    if (!written.empty()) {
        const std::string line = RemoveBorderCommandLine(tool, AsFileArgument(input),
                                                         BorderFuzzPercent(options.fuzz), written);
        ok = RunTool(kConverterName, line, written);
        if (ok && pdf) {
            RasterImage page;
            ok = LoadImageFile(written, page);
            if (ok && !SaveExplained(page, outputPath, kFormatPdf)) {
                ConsoleErrorf("[ERROR] Cannot write \"%s\": %s\n", outputPath.c_str(),
                              page.GetLastError());
                ok = false;
            }
        } else if (ok && !MoveFileReplacing(written, outputPath)) {
            ConsoleErrorf("[ERROR] Cannot write \"%s\": %s\n", outputPath.c_str(),
                          std::strerror(errno));
            ok = false;
        }
        unlink(written.c_str());
    }
    if (!copy.empty()) unlink(copy.c_str());
    return ok ? 1 : 0;
}

}  // namespace sheetmend
