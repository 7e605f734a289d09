// Language data provisioning. The downloaded package is kept in this run's
// private temporary folder, so two runs fetching the same language never
// share a file and nobody else can put one there for us to unpack.
#include "ocr/language_data.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

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

// Pairs run side by side fetch a missing language once: the others wait for
// the lock and then find the data in place. The same lock keeps the set of
// languages already reported as missing.
std::mutex& ProvisioningLock() {
    static std::mutex lock;
    return lock;
}

// Prints the missing-language message for `language` unless this run did so
// already. The caller holds the provisioning lock.
void ReportOnce(const std::string& language, const std::string& dataFolder) {
    static std::set<std::string> reported;
    if (!reported.insert(language).second) return;
    const std::string package = LanguagePackageName(language);
    ConsolePrintf(
        "[ERROR] OCR language '%s' is not installed: %s%s.traineddata is missing. Install the "
        "Debian package %s (apt-get install %s), or set SHEETMEND_LANGDATA_URL to a language "
        "download server.\n",
        language.c_str(), dataFolder.c_str(), language.c_str(), package.c_str(), package.c_str());
}

}  // namespace

bool LanguageServerConfigured() {
    const char* url = std::getenv("SHEETMEND_LANGDATA_URL");
    return url && *url;
}

std::vector<std::string> LanguageParts(const std::string& language) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= language.size()) {
        size_t end = language.find('+', start);
        if (end == std::string::npos) end = language.size();
        if (end > start) parts.push_back(language.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string LanguagePackageName(const std::string& language) {
    if (language.rfind("script/", 0) == 0) return "tesseract-ocr-script-*";
    std::string package = "tesseract-ocr-";
    for (const char c : language)
        package += c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return package;
}

int32_t ReportMissingLanguages(const std::string& language, const std::string& programDir) {
    if (LanguageServerConfigured()) return 0;
    const std::string folder = WithSlash(programDir) + "tessdata";
    if (!DirectoryExists(folder)) return 0;
    std::lock_guard<std::mutex> hold(ProvisioningLock());
    int32_t missing = 0;
    for (const std::string& part : LanguageParts(language)) {
        if (Readable(folder + "/" + part + ".traineddata")) continue;
        ReportOnce(part, folder + "/");
        ++missing;
    }
    return missing;
}

int32_t ReportMissingLanguages(const std::string& language) {
    return ReportMissingLanguages(language, ExecutableDirectory());
}

std::string LanguageServer() {
    const char* url = std::getenv("SHEETMEND_LANGDATA_URL");
    return url && *url ? url : kDefaultLanguageServer;
}

std::string LanguagePackageAddress(const std::string& language) {
    return LanguageServer() + "/app/ocr/tesseract_3.01_data/" + language + ".traineddata.gz";
}

int32_t EnsureLanguageData(const std::string& language, const std::string& programDir) {
    if (language.empty()) return 1;
    const std::string folder = WithSlash(programDir) + "tessdata";
    if (!DirectoryExists(folder)) return 0;
    if (!LanguageServerConfigured()) return ReportMissingLanguages(language, programDir) == 0;
    std::lock_guard<std::mutex> hold(ProvisioningLock());
    const std::string dataFolder = folder + "/";
    int32_t all = 1;
    for (const std::string& part : LanguageParts(language)) {
        if (Readable(dataFolder + part + ".traineddata")) continue;
        const int32_t r = DownloadLanguageData(part, dataFolder, programDir);
        if (r == 1)
            ConsolePrintf("[Message] Download '%s' language package successful.\n", part.c_str());
        else
            ConsolePrintf("[Message] Failed to download '%s' language package.\n", part.c_str());
        all &= r;
    }
    return all;
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
