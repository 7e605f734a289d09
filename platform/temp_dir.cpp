#include "platform/temp_dir.h"

#include <cstdlib>

#include "platform/paths.h"

namespace sheetmend {

std::string TempDirectory() {
    std::string dir;
    if (const char* env = std::getenv("TMPDIR"); env && *env && DirectoryExists(env)) dir = env;
    if (dir.empty()) dir = "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace sheetmend
