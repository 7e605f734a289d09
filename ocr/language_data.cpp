// Language data provisioning. The downloaded package is kept in this run's
// private temporary folder, so two runs fetching the same language never
// share a file and nobody else can put one there for us to unpack.
#include "ocr/language_data.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "ocr/run_and_wait.h"
#include "platform/console.h"
#include "platform/executable.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/temp_files.h"

namespace sheetmend::ocr {

namespace {

bool Readable(const std::string& path) {
    if (path.empty() || DirectoryExists(path)) return false;
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    std::fclose(f);
    return true;
}

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

// A language code names a file inside the data folder; one that would lead
// out of it is never fetched.
bool IsPlainLanguageName(const std::string& language) {
    return language.find('/') == std::string::npos && language != "." && language != "..";
}

}  // namespace

std::string LanguageServer() {
    const char* url = std::getenv("SHEETMEND_LANGDATA_URL");
    return url && *url ? url : kDefaultLanguageServer;
}

std::string LanguagePackageAddress(const std::string& language) {
    return LanguageServer() + "/app/ocr/tesseract_3.01_data/" + language + ".traineddata.gz";
}

int32_t EnsureLanguageData(const std::string& language, const std::string& programDir) {
    if (language.empty()) return 1;
    // Pairs run side by side fetch a missing language once: the others wait
    // here and then find the data in place.
    static std::mutex fetching;
    std::lock_guard<std::mutex> hold(fetching);
    const std::string folder = WithSlash(programDir) + "tessdata";
    if (!DirectoryExists(folder)) return 0;
    const std::string dataFolder = folder + "/";
    if (Readable(dataFolder + language + ".traineddata")) return 1;
    const int32_t r = DownloadLanguageData(language, dataFolder, programDir);
    if (r == 1)
        ConsolePrintf("[Message] Download '%s' language package successful.\n", language.c_str());
    else
        ConsolePrintf("[Message] Failed to download '%s' language package.\n", language.c_str());
    return r;
}

int32_t EnsureLanguageData(const std::string& language) {
    return EnsureLanguageData(language, ExecutableDirectory());
}

int32_t DownloadLanguageData(const std::string& language, const std::string& dataFolder,
                             const std::string& programDir) {
    if (language.empty() || dataFolder.empty()) return 0;
    const std::string address = LanguagePackageAddress(language);
    ConsolePrintf("[Message] Download OCR Language from %s site...\n", LanguageServer().c_str());
    if (!IsPlainLanguageName(language)) return 0;

    const std::string wget = WithSlash(programDir) + "wget.exe";
    if (!Readable(wget)) return 0;
    const std::string tempDir = TempFilesDirectory();
    if (tempDir.empty()) return 0;
    const std::string local = WithSlash(tempDir) + language + ".traineddata.gz";
    unlink(local.c_str());  // only what this download brings may be unpacked

    const std::string command =
        QuoteArgument(wget) + " -O " + QuoteArgument(local) + " " + QuoteArgument(address);
    RunAndWait(command, kShowNormal, true);
    if (!Readable(local)) return 0;

    const std::string dataFile = WithSlash(dataFolder) + language + ".traineddata";
    const bool hadData = Readable(dataFile);
    int32_t exitCode = -1;
    ExtractArchive(local, dataFolder, programDir, &exitCode);
    unlink(local.c_str());
    // An archive that breaks off part way leaves a cut-off data file behind,
    // which the engine would then take for good data on every later run.
    if (exitCode != 0 && !hadData) unlink(dataFile.c_str());
    return Readable(dataFile) ? 1 : 0;
}

int32_t DownloadLanguageData(const std::string& language, const std::string& dataFolder) {
    return DownloadLanguageData(language, dataFolder, ExecutableDirectory());
}

int32_t ExtractArchive(const std::string& archive, const std::string& destination,
                       const std::string& programDir, int32_t* exitCode) {
    if (exitCode) *exitCode = -1;
    if (archive.empty() || destination.empty()) return 0;
    const std::string archiver = WithSlash(programDir) + "7z.exe";
    if (!Readable(archiver)) return 0;
    // "-o" and the folder are one argument: -o"folder" splits as -ofolder.
    const std::string command = QuoteArgument(archiver) + " x -y -o" + QuoteArgument(destination) +
                                " " + QuoteArgument(archive);
    std::string output;
    const CommandOutcome outcome = RunCommandLine(command, output);
    if (exitCode && outcome.started && !outcome.timedOut) *exitCode = outcome.exitCode;
    return PathExists(destination) ? 1 : 0;
}

int32_t ExtractArchive(const std::string& archive, const std::string& destination) {
    return ExtractArchive(archive, destination, ExecutableDirectory());
}

}  // namespace sheetmend::ocr
