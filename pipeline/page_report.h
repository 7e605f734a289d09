// The per-page report: one JSON object per page, written as one line
// (JSON Lines) to the report the command line names, in the batch's list
// order. The README's "Schema" section lists every field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/page_facts.h"

namespace sheetmend {

struct ToolOptions;

// What the page loop knows of a page, beside what the operation recorded.
struct PageReportHead {
    std::string input, output, operation;
    std::optional<int32_t> page, pages;  // page from 1
    std::string status;                  // "ok", "failed" or "skipped"
    std::string message;                 // why it failed
    std::optional<int64_t> ms;
};

// The line for one page, without its line feed.
std::string PageReportLine(const PageReportHead& head, const PageFacts& facts);

// Writes the line when a report is open (else does nothing).
void ReportPage(const PageReportHead& head, const PageFacts& facts);

// The reason a failed page gives: its last line that speaks of an error,
// else its last line, from the text it printed.
std::string FailureMessage(const std::string& printed);

// One "skipped" line for every page of the input.
void ReportSkippedPages(const ToolOptions& options, const std::string& input,
                        const std::string& output);

}  // namespace sheetmend
