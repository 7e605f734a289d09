#include "platform/temp_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/temp_dir.h"

namespace sheetmend {

namespace {

// The folder and the name counter are shared by every thread; the list of
// names handed out is kept per thread, so that one pair cleaning up after its
// external step deletes only its own files while other pairs run.
struct TempState {
    std::mutex lock;
    std::string dir;
    std::vector<std::pair<std::thread::id, std::string>> files;  // who asked, and the name
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
    std::lock_guard<std::mutex> hold(s.lock);
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
        std::lock_guard<std::mutex> hold(s.lock);
        std::snprintf(name, sizeof name, "qrvx%04X.tmp", ++s.counter & 0xFFFFFu);
        std::string path = dir + "/" + name + extension;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            s.files.emplace_back(std::this_thread::get_id(), path);
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
    std::lock_guard<std::mutex> hold(s.lock);
    const std::thread::id me = std::this_thread::get_id();
    std::erase_if(s.files, [me](const std::pair<std::thread::id, std::string>& f) {
        if (f.first != me) return false;
        unlink(f.second.c_str());
        return true;
    });
}

void RemoveTempDirectory() {
    CleanupTempFiles();
    TempState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
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
