#include "platform/output_claims.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/paths.h"

namespace sheetmend {

namespace {

struct Claim {
    std::string path;
    dev_t device;
    ino_t inode;
};

struct Claims {
    std::mutex lock;
    std::vector<Claim> held;
    std::vector<std::string> unfinished;
    bool closed = false;
};

Claims& Registry() {
    static Claims* claims = new Claims;  // used until the very end of the run
    return *claims;
}

// Tries to create `path` exclusively: 1 claimed, 0 taken, -1 not creatable.
// The registry is held from the creation to the record, so an interrupted
// run never misses a placeholder it made.
int TryClaim(const std::string& path) {
    Claims& c = Registry();
    std::lock_guard<std::mutex> hold(c.lock);
    if (c.closed) return -1;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? 0 : -1;
    struct stat st;
    const bool known = fstat(fd, &st) == 0;
    close(fd);
    if (!known) {
        unlink(path.c_str());
        return -1;
    }
    c.held.push_back(Claim{path, st.st_dev, st.st_ino});
    return 1;
}

void RemoveIfEmptyClaim(const Claim& claim) {
    struct stat st;
    if (lstat(claim.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
        st.st_dev == claim.device && st.st_ino == claim.inode)
        unlink(claim.path.c_str());
}

}  // namespace

bool ClaimFreeName(std::string& path) {
    const PathParts parts = SplitPath(path);
    std::string candidate = path;
    for (int i = -1; i < 1000000; ++i) {
        if (i >= 0) {
            char number[16];
            std::snprintf(number, sizeof number, "%03d", i);
            candidate = MakePath(parts.drive, parts.dir, parts.name + number, parts.ext);
        }
        const int r = TryClaim(candidate);
        if (r == 0) continue;
        // Not creatable at all: keep the name when nothing is there, so the
        // writer reports why it cannot write it.
        if (r < 0 && PathExists(candidate)) continue;
        path = candidate;
        return true;
    }
    return false;
}

void ReleaseClaim(const std::string& path) {
    Claims& c = Registry();
    std::lock_guard<std::mutex> hold(c.lock);
    for (size_t i = 0; i < c.held.size(); ++i) {
        if (c.held[i].path != path) continue;
        RemoveIfEmptyClaim(c.held[i]);
        c.held.erase(c.held.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
}

int MakeUnfinishedFile(std::vector<char>& name) {
    Claims& c = Registry();
    std::lock_guard<std::mutex> hold(c.lock);
    if (c.closed) {
        errno = ECANCELED;
        return -1;
    }
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) c.unfinished.emplace_back(name.data());
    return fd;
}

void ForgetUnfinishedFile(const std::string& path) {
    Claims& c = Registry();
    std::lock_guard<std::mutex> hold(c.lock);
    std::erase(c.unfinished, path);
}

void ReleaseAllClaims(bool close) {
    Claims& c = Registry();
    std::lock_guard<std::mutex> hold(c.lock);
    if (close) c.closed = true;
    for (const Claim& claim : c.held) RemoveIfEmptyClaim(claim);
    c.held.clear();
    for (const std::string& path : c.unfinished) unlink(path.c_str());
    c.unfinished.clear();
}

}  // namespace sheetmend
