#pragma once

#include <cstdlib>
#include <string>

namespace sheetmend::testing {

// The source tree, for test data kept in it. SHEETMEND_SOURCE_DIR in the
// environment wins (a test run against another checkout); otherwise the
// tree the tests were built from, fixed at build time.
inline std::string SourceRoot() {
    if (const char* dir = std::getenv("SHEETMEND_SOURCE_DIR")) return dir;
    return SHEETMEND_TEST_SOURCE_DIR;
}

}  // namespace sheetmend::testing
