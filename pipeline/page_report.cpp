#include "pipeline/page_report.h"

#include <nlohmann/json.hpp>

#include "options/tool_options.h"
#include "pipeline/page_source.h"
#include "pipeline/page_step.h"
#include "platform/console.h"

namespace sheetmend {

namespace {

template <class T>
void Put(nlohmann::ordered_json& j, const char* key, const std::optional<T>& value) {
    if (value) j[key] = *value;
}

}  // namespace

std::string PageReportLine(const PageReportHead& head, const PageFacts& facts) {
    nlohmann::ordered_json j;
    j["input"] = head.input;
    Put(j, "page", head.page);
    Put(j, "pages", head.pages);
    j["output"] = head.output;
    if (!head.operation.empty()) j["operation"] = head.operation;
    j["status"] = head.status;
    if (head.status == "failed") j["message"] = head.message;
    Put(j, "width", facts.width);
    Put(j, "height", facts.height);
    if (facts.xDpi && facts.yDpi) j["dpi"] = {*facts.xDpi, *facts.yDpi};
    if (facts.bitsIn || facts.bitsOut) {
        nlohmann::ordered_json bits = nlohmann::ordered_json::object();
        Put(bits, "in", facts.bitsIn);
        Put(bits, "out", facts.bitsOut);
        j["bits"] = bits;
    }
    Put(j, "ms", head.ms);
    Put(j, "threshold", facts.threshold);
    Put(j, "skew", facts.skew);
    Put(j, "rotated", facts.rotated);
    Put(j, "confidence", facts.confidence);
    Put(j, "crop", facts.crop);
    Put(j, "border", facts.border);
    Put(j, "specks", facts.specks);
    Put(j, "lines", facts.lines);
    if (facts.blocks) {
        nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
        for (const PageBlock& b : *facts.blocks)
            blocks.push_back({{"type", b.type}, {"box", b.box}});
        j["blocks"] = blocks;
    }
    Put(j, "words", facts.words);
    Put(j, "mean_confidence", facts.meanConfidence);
    Put(j, "ink", facts.ink);
    Put(j, "blank", facts.blank);
    // Bytes that are not UTF-8 (a file name in another encoding) are
    // replaced rather than refused, so the line is always written.
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void ReportPage(const PageReportHead& head, const PageFacts& facts) {
    if (ReportOpen()) WriteReportLine(PageReportLine(head, facts));
}

std::string FailureMessage(const std::string& printed) {
    std::string last, lastError;
    size_t start = 0;
    while (start < printed.size()) {
        size_t end = printed.find('\n', start);
        if (end == std::string::npos) end = printed.size();
        const std::string line = printed.substr(start, end - start);
        if (!line.empty()) {
            last = line;
            if (line.find("rror") != std::string::npos || line.find("ERROR") != std::string::npos)
                lastError = line;
        }
        start = end + 1;
    }
    if (!lastError.empty()) return lastError;
    return last.empty() ? "the operation failed" : last;
}

void ReportSkippedPages(const ToolOptions& options, const std::string& input,
                        const std::string& output) {
    if (!ReportOpen()) return;
    PageReportHead head{input, output, PageOperationName(options), {}, {}, "skipped", "", {}};
    const int32_t pages = CountInputPages(input);
    head.pages = pages;
    for (int32_t k = 1; k <= std::max(pages, 1); ++k) {
        if (pages > 0) head.page = k;
        WriteReportLine(PageReportLine(head, PageFacts{}));
    }
}

}  // namespace sheetmend
