#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace sheetmend {

PathParts SplitPath(std::string_view path) {
    PathParts parts;
    size_t slash = path.find_last_of('/');
    std::string_view file = path;
    if (slash != std::string_view::npos) {
        parts.dir = std::string(path.substr(0, slash + 1));
        file = path.substr(slash + 1);
    }
    size_t dot = file.find_last_of('.');
    if (dot == std::string_view::npos) {
        parts.name = std::string(file);
    } else {
        parts.name = std::string(file.substr(0, dot));
        parts.ext = std::string(file.substr(dot));
    }
    return parts;
}

std::string MakePath(std::string_view drive, std::string_view dir, std::string_view name,
                     std::string_view ext) {
    std::string out;
    out.reserve(drive.size() + dir.size() + name.size() + ext.size() + 2);
    out += drive;
    if (!dir.empty()) {
        out += dir;
        if (dir.back() != '/') out += '/';
    }
    out += name;
    if (!ext.empty()) {
        if (ext.front() != '.') out += '.';
        out += ext;
    }
    return out;
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

std::string NormalizePath(std::string_view path) {
    const bool absolute = IsAbsolutePath(path);
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos) j = path.size();
        std::string_view part = path.substr(i, j - i);
        if (part.empty() || part == ".") {
            // skip
        } else if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out = absolute ? "/" : "";
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) out += '/';
        out += parts[k];
    }
    if (out.empty()) out = ".";
    return out;
}

std::string AbsolutePath(std::string_view path) {
    if (IsAbsolutePath(path)) return NormalizePath(path);
    std::string cwd;
    std::vector<char> buf(4096);
    while (getcwd(buf.data(), buf.size()) == nullptr) {
        if (buf.size() > (1u << 20)) return NormalizePath(path);
        buf.resize(buf.size() * 2);
    }
    cwd = buf.data();
    return NormalizePath(cwd + "/" + std::string(path));
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace sheetmend
