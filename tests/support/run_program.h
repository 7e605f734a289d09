// Runs the sheetmend binary as a user would and collects what it prints.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace sheetmend::testing {

struct ProgramResult {
    int status = -1;  // exit status 0..255, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string BuildDir() {
    const char* dir = std::getenv("SHEETMEND_BUILD_DIR");
    return dir ? dir : ".";
}

inline std::string SheetmendBinary() { return BuildDir() + "/cli/sheetmend"; }

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs `program` with `args` (no shell) in `workDir` ("" = current folder).
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workDir = "") {
    ProgramResult r;
    char outName[] = "/tmp/sheetmend-out-XXXXXX";
    char errName[] = "/tmp/sheetmend-err-XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(outFd);
    close(errFd);
    r.out = ReadText(outName);
    r.err = ReadText(errName);
    unlink(outName);
    unlink(errName);
    return r;
}

inline ProgramResult RunSheetmend(const std::vector<std::string>& args, const std::string& workDir = "") {
    return RunProgram(SheetmendBinary(), args, workDir);
}

}  // namespace sheetmend::testing
