// The system's folder for temporary files.
#pragma once

#include <string>

namespace sheetmend {

// $TMPDIR when it names an existing directory, else "/tmp"; always ends in '/'.
std::string TempDirectory();

}  // namespace sheetmend
