// Directory matching for input patterns.
#pragma once

#include <string>
#include <vector>

namespace sheetmend {

// Names of the entries of `directory` ("" for the current one) whose name
// matches the shell pattern `namePattern`, sorted by name (byte order) so
// runs are repeatable. Names starting with '.' match only when the pattern
// starts with '.'.
std::vector<std::string> MatchDirectoryEntries(const std::string& directory,
                                               const std::string& namePattern);

}  // namespace sheetmend
