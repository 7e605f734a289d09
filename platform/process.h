// Starting other programs and waiting for them.
//
// Command lines are texts in the form the program has always built them: the
// program path first, then its arguments, file names in double quotes. They
// are never handed to a shell. The text is split into arguments by the
// Windows command-line rules (SplitCommandLine) and the program is started
// directly with posix_spawn, so a file name can add no command and, when it
// was quoted with QuoteArgument, no extra argument either.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sheetmend {

// Splits a command line as the Windows C runtime does:
//  - arguments are separated by blanks and tabs outside double quotes;
//  - the first argument (the program) ends at the first blank or tab outside
//    quotes; its quotes are dropped and backslashes are plain characters;
//  - in the other arguments, 2n backslashes before a quote give n backslashes
//    and the quote opens or closes a quoted part; 2n + 1 backslashes before a
//    quote give n backslashes and a literal quote; backslashes anywhere else
//    are plain characters;
//  - inside a quoted part, two quotes in a row give one literal quote;
//  - an unclosed quoted part runs to the end of the line.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The argument in double quotes, written so that SplitCommandLine gives it
// back unchanged whatever it holds. For a text without quotes and without a
// trailing backslash this is simply '"' + text + '"'.
std::string QuoteArgument(std::string_view text);

// How long RunCommand lets a program run before it stops it. Generous: the
// programs Sheetmend starts need seconds for a page, but one that hangs must
// not hold up the whole batch forever.
inline constexpr int32_t kCommandTimeLimitMs = 10 * 60 * 1000;

// Most bytes taken from the pipe at one time.
inline constexpr size_t kCommandChunkBytes = 8191;

struct CommandOutcome {
    bool started = false;   // the program could be started
    bool timedOut = false;  // it ran past the time limit and was killed
    int exitCode = -1;      // its exit status, or -1 (not started, or ended by a signal)
};

// Runs a command line with standard input empty and standard output and
// standard error both going into one pipe. The pipe is read in chunks of at
// most kCommandChunkBytes bytes; each chunk is appended to `output` up to its
// first zero byte (the rest of that chunk is dropped). Waits until the program
// has ended and the pipe is empty; a program still running after
// `timeLimitMs` milliseconds is killed. Nothing is printed.
CommandOutcome RunCommandLine(const std::string& commandLine, std::string& output,
                              int32_t timeLimitMs = kCommandTimeLimitMs);

// True when the program was started and ended by itself within the time limit.
bool RunCommand(const std::string& commandLine, std::string& output,
                int32_t timeLimitMs = kCommandTimeLimitMs);

// A line written for the Windows command interpreter, read the way that
// interpreter reads it before running it: one outer pair of double quotes
// around the whole line is removed, and a trailing "> nul" (any case, blanks
// around the '>' allowed) means that standard output is thrown away.
struct InterpreterLine {
    std::string commandLine;
    bool discardStandardOutput = false;
};
InterpreterLine ReadInterpreterLine(std::string_view line);

// Runs an interpreter line as the runtime's system() would: standard input,
// output and error are the caller's (output to /dev/null when the line asks),
// the caller waits for the end. Returns the exit status, or -1 when the
// program could not be started or ended by a signal.
int RunInterpreterLine(std::string_view line, int32_t timeLimitMs = kCommandTimeLimitMs);

// The executable's directory followed by `fileName`. When the executable's
// path holds no '/', that path itself is returned; "" when it is unknown.
std::string ToolPathBesideExecutable(const std::string& fileName);

// The same rule applied to a given executable path.
std::string ToolPathBeside(const std::string& executablePath, const std::string& fileName);

}  // namespace sheetmend
