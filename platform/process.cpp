// Programs are started with posix_spawn from a Windows-style command line,
// never through a shell. RunCommand polls the pipe that collects standard
// output and standard error, so that it notices both new text and the end of
// the program, and stops a program that runs past its time limit.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/child_output.h"
#include "platform/executable.h"
#include "platform/interrupt_cleanup.h"

extern char** environ;

namespace sheetmend {

namespace {

using Clock = std::chrono::steady_clock;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The program part of a command line: quotes only group, nothing escapes.
size_t ReadProgramName(std::string_view line, size_t i, std::string& name) {
    bool quoted = false;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (IsBlank(c) && !quoted) {
            break;
        } else {
            name += c;
        }
    }
    return i;
}

// One later argument, starting at a non-blank character; returns the index
// after it.
size_t ReadArgument(std::string_view line, size_t i, std::string& arg) {
    bool quoted = false;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '\\') {
            size_t n = 0;
            while (i < line.size() && line[i] == '\\') ++n, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(n / 2, '\\');
                if (n % 2 == 1) {
                    arg += '"';
                    ++i;
                }
                // An even count leaves the quote to be read as a delimiter.
            } else {
                arg.append(n, '\\');
            }
        } else if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                arg += '"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else if (IsBlank(c) && !quoted) {
            break;
        } else {
            arg += c;
            ++i;
        }
    }
    return i;
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX));
}

// Starts argv[0] (looked up on PATH when it holds no '/') with the given file
// actions; false when the program cannot be run.
bool Spawn(const std::vector<std::string>& args, const posix_spawn_file_actions_t* actions,
           pid_t* pid) {
    if (args.empty() || args[0].empty()) return false;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return posix_spawnp(pid, argv[0], actions, ChildSpawnAttributes(), argv.data(), environ) == 0;
}

// Waits for the program, killing it once the deadline has passed.
void WaitUntil(pid_t pid, Clock::time_point deadline, CommandOutcome& outcome) {
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return;
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            outcome.timedOut = true;
            return;
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min(5, RemainingMs(deadline) + 1)));
    }
    outcome.exitCode = ExitCodeOf(status);
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) return args;
    std::string program;
    i = ReadProgramName(line, i, program);
    args.push_back(std::move(program));
    for (;;) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i == line.size()) break;
        std::string arg;
        i = ReadArgument(line, i, arg);
        args.push_back(std::move(arg));
    }
    return args;
}

std::string QuoteArgument(std::string_view text) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (const char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Each backslash before a quote is doubled, and the quote escaped.
            out.append(2 * backslashes + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    // Backslashes before the closing quote are doubled so it stays a quote.
    out.append(2 * backslashes, '\\');
    out += '"';
    return out;
}

CommandOutcome RunCommandLine(const std::string& commandLine, std::string& output,
                              int32_t timeLimitMs) {
    CommandOutcome outcome;
    const std::vector<std::string> args = SplitCommandLine(commandLine);
    if (args.empty()) return outcome;

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return outcome;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    pid_t pid = 0;
    const bool started = Spawn(args, &actions, &pid);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (!started) {
        close(fds[0]);
        return outcome;
    }
    outcome.started = true;

    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(0, timeLimitMs));
    char chunk[kCommandChunkBytes + 1];
    bool exited = false, pipeOpen = true;
    int status = 0;
    for (;;) {
        if (!exited) {
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) exited = true;
        }
        if (!exited && Clock::now() >= deadline) break;
        if (!pipeOpen) {
            if (exited) break;
            // The program closed its output but goes on: wait for its end.
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min(5, RemainingMs(deadline) + 1)));
            continue;
        }
        // Once the program has ended, only what is already in the pipe is
        // read; a program it left behind cannot keep the caller here.
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, exited ? 0 : std::min(100, RemainingMs(deadline)));
        if (ready < 0) {
            if (errno == EINTR) continue;
            pipeOpen = false;
            continue;
        }
        if (ready == 0) {
            if (exited) break;
            continue;
        }
        const ssize_t n = read(fds[0], chunk, kCommandChunkBytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            pipeOpen = false;  // end of the pipe, or it cannot be read
            continue;
        }
        chunk[n] = '\0';
        output.append(chunk, strnlen(chunk, static_cast<size_t>(n)));
        if (exited && Clock::now() >= deadline) break;
    }
    close(fds[0]);
    if (exited)
        outcome.exitCode = ExitCodeOf(status);
    else
        WaitUntil(pid, deadline, outcome);
    return outcome;
}

bool RunCommand(const std::string& commandLine, std::string& output, int32_t timeLimitMs) {
    const CommandOutcome outcome = RunCommandLine(commandLine, output, timeLimitMs);
    return outcome.started && !outcome.timedOut;
}

InterpreterLine ReadInterpreterLine(std::string_view line) {
    InterpreterLine result;
    std::string text(line);
    // The interpreter drops a leading quote together with the last quote of
    // the line, keeping whatever follows that last quote.
    const size_t first = text.find_first_not_of(" \t");
    if (first != std::string::npos && text[first] == '"') {
        const size_t last = text.find_last_of('"');
        if (last != first) text.erase(last, 1);
        text.erase(first, 1);
    }
    // A trailing "> nul" outside any quotes: blanks may stand around the '>'.
    const size_t end = text.find_last_not_of(" \t\r\n");
    if (end != std::string::npos && end >= 3 &&
        strncasecmp(text.c_str() + end - 2, "nul", 3) == 0) {
        size_t gt = end - 2;
        while (gt > 0 && IsBlank(text[gt - 1])) --gt;
        if (gt > 0 && text[gt - 1] == '>' &&
            std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(gt - 1), '"') % 2 ==
                0) {
            size_t cut = gt - 1;
            while (cut > 0 && IsBlank(text[cut - 1])) --cut;
            text.erase(cut);
            result.discardStandardOutput = true;
        }
    }
    result.commandLine = std::move(text);
    return result;
}

int RunInterpreterLine(std::string_view line, int32_t timeLimitMs) {
    const InterpreterLine read = ReadInterpreterLine(line);
    const std::vector<std::string> args = SplitCommandLine(read.commandLine);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (read.discardStandardOutput)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ChildOutput printed;
    printed.Redirect(&actions, !read.discardStandardOutput);
    pid_t pid = 0;
    const bool started = Spawn(args, &actions, &pid);
    posix_spawn_file_actions_destroy(&actions);
    if (!started) return -1;
    CommandOutcome outcome;
    WaitUntil(pid, Clock::now() + std::chrono::milliseconds(std::max(0, timeLimitMs)), outcome);
    printed.Collect();
    return outcome.timedOut ? -1 : outcome.exitCode;
}

std::string ToolPathBeside(const std::string& executablePath, const std::string& fileName) {
    const size_t slash = executablePath.find_last_of('/');
    if (slash == std::string::npos) return executablePath;
    return executablePath.substr(0, slash + 1) + fileName;
}

std::string ToolPathBesideExecutable(const std::string& fileName) {
    const std::string exe = ExecutablePath();
    if (exe.empty()) return {};
    return ToolPathBeside(exe, fileName);
}

}  // namespace sheetmend
