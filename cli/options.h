// The option table, the command-line parser and the usage and about texts.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "options/tool_options.h"

namespace sheetmend {

// Kinds of option value. The hidden kinds are listed by the usage text but
// never matched.
enum OptionType : int32_t {
    kOptionFlag = 0,
    kOptionInteger = 1,
    kOptionNumber = 2,
    kOptionText = 3,
    kOptionHiddenFlag = 4,
    kOptionHiddenInteger = 5,
    kOptionHiddenNumber = 6,
    kOptionHiddenText = 7,
};

struct OptionEntry {
    std::string name;
    int32_t type = kOptionFlag;
    std::variant<int32_t*, double*, std::string*> target;
    int32_t capacity = 0;  // text fields: size including the terminating zero
    std::string helpText;
};

using OptionTable = std::vector<OptionEntry>;

// The table in usage order, bound to the fields of `options`.
OptionTable BuildOptionTable(ToolOptions& options);

// Parses the words (program path first) into `options`. Returns 1 to go on,
// 0 when the program is to stop (the about text has then been printed, unless
// the input path was empty).
int32_t ParseCommandLine(ToolOptions& options, const std::vector<std::string>& words);

// Removes every recognised option and its value from `words` (from index 1);
// what stays are the program word and the positional arguments. False when an
// option's value was missing or malformed; parsing goes on regardless.
bool ParseArguments(const OptionTable& table, std::vector<std::string>& words);

// The first visible entry whose name equals the word exactly; nullptr if none.
const OptionEntry* FindOption(const OptionTable& table, const std::string& word);

// Consumes the option at `index` and its value (if it takes one) from `words`.
bool ParseOptionValue(const OptionEntry& entry, size_t index, std::vector<std::string>& words);

bool IsIntegerText(const std::string& text);
bool IsNumberText(const std::string& text);

void PrintUsage(const std::string& programName, const std::string& positionalText,
                const OptionTable& table);
void PrintAbout(const OptionTable& table, const std::string& programName);

}  // namespace sheetmend
