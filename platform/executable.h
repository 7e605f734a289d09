// Where the running program lives; external tools are looked up beside it.
#pragma once

#include <string>

namespace sheetmend {

// Full path of the running executable (from /proc/self/exe), "" if unknown.
std::string ExecutablePath();

// The executable's directory, ending in '/'; "" if unknown.
std::string ExecutableDirectory();

}  // namespace sheetmend
