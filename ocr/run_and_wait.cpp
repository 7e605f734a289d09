// posix_spawn with an environment of our own making: the engine gets its
// TESSDATA_PREFIX this way, so nothing process-wide changes and several pages
// can be recognised at once.
#include "ocr/run_and_wait.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/child_output.h"
#include "platform/console.h"
#include "platform/interrupt_cleanup.h"
#include "platform/process.h"

extern char** environ;

namespace sheetmend::ocr {

std::vector<std::string> EnvironmentWith(const std::vector<EnvironmentSetting>& settings) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        bool replaced = false;
        for (const EnvironmentSetting& s : settings) {
            const size_t n = s.first.size();
            if (std::strncmp(*e, s.first.c_str(), n) == 0 && (*e)[n] == '=') replaced = true;
        }
        if (!replaced) env.emplace_back(*e);
    }
    for (const EnvironmentSetting& s : settings) env.push_back(s.first + "=" + s.second);
    return env;
}

int32_t RunArguments(const std::vector<std::string>& arguments,
                     const std::vector<EnvironmentSetting>& environment, bool discardStandardOutput,
                     bool wait) {
    if (arguments.empty() || arguments[0].empty()) return -1;
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::vector<std::string> env = EnvironmentWith(environment);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (discardStandardOutput)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // A program that is not waited for cannot hand its text to the sink.
    ChildOutput printed;
    if (wait) printed.Redirect(&actions, !discardStandardOutput);
    // What we printed so far comes before anything the program prints.
    ConsoleFlush();
    pid_t pid = 0;
    const int started =
        posix_spawnp(&pid, argv[0], &actions, ChildSpawnAttributes(), argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;
    if (!wait) return kStartedWithoutWaiting;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    printed.Collect();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int32_t RunAndWait(const std::string& commandLine, int32_t /*showMode*/, bool wait) {
    if (commandLine.empty()) return -1;
    return RunArguments(SplitCommandLine(commandLine), {}, false, wait);
}

}  // namespace sheetmend::ocr
