// Starting the OCR subsystem's helper programs (the engine, the download
// program) and waiting for them. Command lines are split by the Windows
// rules (SplitCommandLine) and started directly with posix_spawn, never
// through a shell; the program's standard output and error are the caller's.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sheetmend::ocr {

// Window show modes as callers name them. They mean nothing here: there are
// no windows; they are accepted so call sites read as they always have.
inline constexpr int32_t kShowNormal = 1;

// Returned at once when the caller does not wait.
inline constexpr int32_t kStartedWithoutWaiting = 88;

// Starts the command line and, when `wait` is set, waits without a time limit
// for its end. Returns the program's exit code; -1 when there is no command
// line, the program cannot be started or it ended by a signal; 88 at once
// when `wait` is false.
int32_t RunAndWait(const std::string& commandLine, int32_t showMode, bool wait);

// One NAME=value setting added to (or replacing one in) the environment the
// started program sees; our own environment is left as it is.
using EnvironmentSetting = std::pair<std::string, std::string>;

// Starts the program `arguments[0]` with the given arguments and environment
// settings, standard output thrown away when `discardStandardOutput` is set,
// and waits for it. Returns the exit code, or -1 as RunAndWait.
int32_t RunArguments(const std::vector<std::string>& arguments,
                     const std::vector<EnvironmentSetting>& environment, bool discardStandardOutput,
                     bool wait = true);

// The environment of the current process with the settings applied, as
// "NAME=value" texts.
std::vector<std::string> EnvironmentWith(const std::vector<EnvironmentSetting>& settings);

}  // namespace sheetmend::ocr
