#include "platform/temp_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/temp_dir.h"

namespace sheetmend {

namespace {

struct TempState {
    std::string dir;
    std::vector<std::string> files;
    unsigned counter = 0;
    bool registered = false;
};

TempState& State() {
    static TempState* state = new TempState;  // lives until exit; read by the atexit hook
    return *state;
}

void RemoveAtExit() { RemoveTempDirectory(); }

}  // namespace

std::string TempFilesDirectory() {
    TempState& s = State();
    if (!s.dir.empty()) return s.dir;
    std::string tmpl = TempDirectory() + "sheetmend-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return {};
    s.dir = buf.data();
    if (!s.registered) {
        std::atexit(RemoveAtExit);
        s.registered = true;
    }
    return s.dir;
}

std::string MakeTempPath(const std::string& extension) {
    const std::string dir = TempFilesDirectory();
    if (dir.empty()) return {};
    TempState& s = State();
    for (;;) {
        char name[32];
        std::snprintf(name, sizeof name, "qrvx%04X.tmp", ++s.counter & 0xFFFFFu);
        std::string path = dir + "/" + name + extension;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            s.files.push_back(path);
            return path;
        }
    }
}

size_t MakeTempPath(size_t capacity, char* buffer, const char* extension) {
    if (capacity == 0 || !buffer) return 0;
    std::string path = MakeTempPath(extension ? extension : "");
    if (path.size() > capacity - 1) path.resize(capacity - 1);
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return path.size();
}

void CleanupTempFiles() {
    TempState& s = State();
    for (const std::string& f : s.files) unlink(f.c_str());
    s.files.clear();
}

void RemoveTempDirectory() {
    CleanupTempFiles();
    TempState& s = State();
    if (s.dir.empty()) return;
    // Anything an external program left behind goes too.
    if (DIR* d = opendir(s.dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            unlink((s.dir + "/" + e->d_name).c_str());
        }
        closedir(d);
    }
    rmdir(s.dir.c_str());
    s.dir.clear();
}

}  // namespace sheetmend
