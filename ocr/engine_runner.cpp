// The engine is a separate program. Its command line is the text the program
// has always handed to the Windows command interpreter; here that text is
// read as the interpreter would read it (outer quotes dropped, "> nul" meaning
// standard output goes to /dev/null), split by the Windows rules and started
// without a shell.
#include "ocr/engine_runner.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "image/page_facts.h"
#include "ocr/language_data.h"
#include "ocr/run_and_wait.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/executable.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/temp_files.h"

namespace sheetmend::ocr {

namespace {

// The part of the command line inside the interpreter's outer quotes and
// before the redirection.
std::string InnerCommandLine(const std::string& engine, const std::string& inputPath,
                             const std::string& outputBase, const std::string& arguments) {
    // The program part of a line is split without escapes, so the engine's
    // path is quoted plainly; EngineArguments puts the real path back.
    return "\"" + engine + "\" " + QuoteArgument(inputPath) + " " + QuoteArgument(outputBase) +
           " " + (arguments.empty() ? std::string("HOCR") : arguments);
}

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace

int32_t FileExists(const std::string& path) {
    if (path.empty()) return 0;
    // A folder can be opened for reading here, but it is no file.
    if (DirectoryExists(path)) return 0;
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return 0;
    std::fclose(f);
    return 1;
}

std::string FindOcrEngine(const std::string& programDir) {
    for (const char* name : kEngineNames) {
        const std::string path = WithSlash(programDir) + name;
        if (FileExists(path)) return path;
    }
    ConsolePrintf("[ERROR] Sorry, I can't find OCR application.\n");
    return {};
}

std::string FindOcrEngine() {
    const std::string dir = ExecutableDirectory();
    if (dir.empty()) {
        ConsolePrintf("[ERROR] Sorry, I can't find OCR application.\n");
        return {};
    }
    return FindOcrEngine(dir);
}

std::string EngineCommandLine(const std::string& engine, const std::string& inputPath,
                              const std::string& outputBase, const std::string& arguments) {
    return "\"" + InnerCommandLine(engine, inputPath, outputBase, arguments) + " > nul\"";
}

std::vector<std::string> EngineArguments(const std::string& engine, const std::string& inputPath,
                                         const std::string& outputBase,
                                         const std::string& arguments) {
    std::vector<std::string> args =
        SplitCommandLine(InnerCommandLine(engine, inputPath, outputBase, arguments));
    if (!args.empty()) args[0] = engine;
    return args;
}

void RunOcrEngine(const std::string& engine, const std::string& inputPath,
                  const std::string& outputBase, const std::string& arguments,
                  const std::string& programDir) {
    const uint32_t start = TickCountMs();
    const std::string prefix = WithSlash(programDir);
    // The engine's own threads spin on the processors they share and make a
    // page many times slower, the more so while other pages are recognised
    // beside it; one thread each, unless the user asked for more.
    std::vector<EnvironmentSetting> environment{{"TESSDATA_PREFIX", prefix}};
    if (!std::getenv("OMP_THREAD_LIMIT")) environment.push_back({"OMP_THREAD_LIMIT", "1"});
    RunArguments(EngineArguments(engine, inputPath, outputBase, arguments), environment, true);
    const auto elapsed = static_cast<int32_t>(TickCountMs() - start);
    ConsolePrintf("[Message] OCR processing takes %dms (%.2fs)\n", elapsed, elapsed * 0.001);
}

void RunOcrEngine(const std::string& engine, const std::string& inputPath,
                  const std::string& outputBase, const std::string& arguments) {
    RunOcrEngine(engine, inputPath, outputBase, arguments, ExecutableDirectory());
}

int32_t RecognizePage(const std::string& inputPath, std::vector<OcrWord>& words,
                      const std::string& language, PageText* text) {
    const std::string engine = FindOcrEngine();
    if (engine.empty()) return 0;
    EnsureLanguageData(language);
    std::string arguments;
    if (!language.empty()) arguments = "-l " + language + " ";
    arguments += "HOCR";
    const std::string outputBase = MakeTempPath("");
    if (outputBase.empty()) return 0;
    RunOcrEngine(engine, inputPath, outputBase, arguments);

    const std::string hocrPath = outputBase + ".html";
    if (!FileExists(hocrPath)) {
        ConsolePrintf("[ERROR] \"%s\" file is not exist.\n", hocrPath.c_str());
        return 0;
    }
    std::string error;
    if (!ReadHocr(hocrPath, words, &error, text)) {
        ConsolePrintf("Could not load test file '%s'. Error='%s'. Exiting.\n", hocrPath.c_str(),
                      error.c_str());
        return 0;
    }
    unlink(hocrPath.c_str());
    return 1;
}

namespace {

// The word count, and the mean confidence of the words that have one.
void RecordWords(PageFacts& facts, const std::vector<OcrWord>& words) {
    facts.words = static_cast<int64_t>(words.size());
    double sum = 0;
    int64_t rated = 0;
    for (const OcrWord& w : words)
        if (w.confidence >= 0) sum += w.confidence, ++rated;
    if (rated > 0) facts.meanConfidence = sum / static_cast<double>(rated);
}

// OcrPage's work, with the engine's result (1 when it gave one) in
// `recognized` and the lines and words in `text` when asked for.
int32_t OcrPageWithText(const std::string& inputPath, const std::string& boxListPath,
                        const std::string& boxPicturePath, const std::string& language,
                        PageText* text, int32_t& recognized) {
    std::vector<OcrWord> words;
    const int32_t r = RecognizePage(inputPath, words, language, text);
    recognized = r;
    if (r) RecordPageFact([&](PageFacts& f) { RecordWords(f, words); });
    if (words.empty()) return 0;
    if (!boxPicturePath.empty()) DrawBoxPicture(inputPath, boxPicturePath, words);
    std::FILE* f = std::fopen(boxListPath.c_str(), "ab");
    if (!f) return 0;
    WriteBoxList(f, words);
    std::fclose(f);
    return r;
}

// The box files of the page named after outputPath, then OcrPageWithText.
int32_t OcrOutputPage(const std::string& inputPath, const std::string& outputPath,
                      int32_t pageIndex, const ToolOptions& options, PageText* text) {
    const std::string language = options.lang.empty() ? "eng" : options.lang;
    const std::string boxList = BoxFilePath(outputPath, BoxFileForm::kBoxList, pageIndex);
    const std::string boxPicture =
        options.boxpic ? BoxFilePath(outputPath, BoxFileForm::kBoxPicture, pageIndex) : "";
    int32_t recognized = 0;
    OcrPageWithText(inputPath, boxList, boxPicture, language, text, recognized);
    return recognized;
}

}  // namespace

int32_t OcrPage(const std::string& inputPath, const std::string& boxListPath,
                const std::string& boxPicturePath, const std::string& language) {
    int32_t recognized = 0;
    return OcrPageWithText(inputPath, boxListPath, boxPicturePath, language, nullptr, recognized);
}

int32_t OcrPageText(const std::string& inputPath, const std::string& outputPath, int32_t pageIndex,
                    const ToolOptions& options, PageText& text) {
    return OcrOutputPage(inputPath, outputPath, pageIndex, options, &text);
}

int32_t RunOcr(const std::string& inputPath, const std::string& outputPath, int32_t pageIndex,
               const ToolOptions& options) {
    OcrOutputPage(inputPath, outputPath, pageIndex, options, nullptr);
    return 1;
}

}  // namespace sheetmend::ocr
