// The OCR engine's language data: one "<language>.traineddata" file per
// language in the "tessdata" folder beside the executable. A missing file is
// fetched as "<language>.traineddata.gz" from the language download server
// with wget.exe and unpacked into the folder with 7z.exe, both beside the
// executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sheetmend::ocr {

// Scheme and host of the download server when SHEETMEND_LANGDATA_URL is not
// set. It is a name that never resolves: without a configured server nothing
// is fetched from anybody's machine.
inline constexpr const char* kDefaultLanguageServer = "http://langdata.sheetmend.invalid";

// SHEETMEND_LANGDATA_URL when set and not empty, else the default.
std::string LanguageServer();

// Whether SHEETMEND_LANGDATA_URL names a server. Without one, nothing is
// downloaded: a missing language is reported with the package to install.
bool LanguageServerConfigured();

// The languages of a combination in the engine's syntax ("deu+eng"), in
// order, empty parts left out.
std::vector<std::string> LanguageParts(const std::string& language);

// The Debian package that holds a language's data: "tesseract-ocr-" and the
// code in lower case with '_' as '-' (chi_sim: tesseract-ocr-chi-sim). The
// script models ("script/Latin") come in packages named by script codes
// that the model's name does not give; those are named as a pattern.
std::string LanguagePackageName(const std::string& language);

// For every part of `language` without a data file in the "tessdata" folder
// of `programDir` while no server is configured, prints once per run which
// package provides it. Returns the number of such parts.
int32_t ReportMissingLanguages(const std::string& language, const std::string& programDir);
int32_t ReportMissingLanguages(const std::string& language);

// The address of a language's package on the server.
std::string LanguagePackageAddress(const std::string& language);

// 1 when the data file of every part of `language` is in the data folder
// afterwards, or no language was given; 0 otherwise. Without a "tessdata"
// folder nothing is attempted or printed. Each missing part is downloaded on
// its own when a server is configured, and one line tells whether it worked;
// without a server it is reported once per run (ReportMissingLanguages). `programDir` is the folder
// the tools and "tessdata" are looked up in (ends in '/'); the overload without it uses the
// executable's folder.
int32_t EnsureLanguageData(const std::string& language, const std::string& programDir);
int32_t EnsureLanguageData(const std::string& language);

// Downloads and unpacks the package of `language` into `dataFolder` (ending
// in '/'). 1 when the data file exists afterwards, else 0.
int32_t DownloadLanguageData(const std::string& language, const std::string& dataFolder,
                             const std::string& programDir);
int32_t DownloadLanguageData(const std::string& language, const std::string& dataFolder);

// Runs the archiver to extract `archive` into `destination`; 1 when the
// destination exists afterwards (which does not prove anything was
// extracted), else 0. `exitCode`, when given, receives the archiver's exit
// code (-1 when it was not run).
int32_t ExtractArchive(const std::string& archive, const std::string& destination,
                       const std::string& programDir, int32_t* exitCode = nullptr);
int32_t ExtractArchive(const std::string& archive, const std::string& destination);

}  // namespace sheetmend::ocr
