// Copying a file, as the batch does when a file is its own output.
#pragma once

#include <string>

namespace sheetmend {

// Copies `from` to `to`, replacing `to`. On failure nothing is left at `to`.
bool CopyFileReplacing(const std::string& from, const std::string& to);

}  // namespace sheetmend
