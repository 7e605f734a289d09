#include "platform/glob.h"

#include <dirent.h>
#include <fnmatch.h>

#include <algorithm>

namespace sheetmend {

std::vector<std::string> MatchDirectoryEntries(const std::string& directory,
                                               const std::string& namePattern) {
    std::vector<std::string> names;
    DIR* d = opendir(directory.empty() ? "." : directory.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (fnmatch(namePattern.c_str(), name.c_str(), FNM_PERIOD) == 0) names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace sheetmend
