// sheetmend [options] <in-file> [<out-file>]
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/options.h"
#include "ocr/language_data.h"

namespace {

// An OCR run whose language data is missing says so once, before the first
// file, rather than inside whichever file's lines a worker reaches it first.
void ReportMissingOcrLanguages(const std::vector<std::string>& words) {
    sheetmend::ToolOptions options;
    sheetmend::SetDefaultOptions(options);
    std::vector<std::string> rest = words;
    if (rest.empty() || !sheetmend::ParseArguments(sheetmend::BuildOptionTable(options), rest))
        return;
    if (!options.ocr || options.help || options.version || rest.size() < 2 || rest.size() > 3)
        return;
    sheetmend::ocr::ReportMissingLanguages(options.lang.empty() ? "eng" : options.lang);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv, argv + argc);
    ReportMissingOcrLanguages(words);
    return sheetmend::RunBatch(words);
}
