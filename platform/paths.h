// Path helpers shared by every part of Sheetmend.
//
// Paths are taken apart and joined the way the program always has: a drive
// (always empty on Linux), a directory that keeps its trailing '/', a name, and
// an extension that starts at the last '.' of the final component and keeps the
// dot. SplitPath and MakePath are inverse to each other for every path.
#pragma once

#include <string>
#include <string_view>

namespace sheetmend {

struct PathParts {
    std::string drive;  // always empty here; kept so callers read like the original
    std::string dir;    // "" or ends with '/'
    std::string name;   // final component without its extension
    std::string ext;    // "" or ".xyz" (from the last dot of the final component)
};

PathParts SplitPath(std::string_view path);

// Joins the parts: drive, dir (a '/' is added when it does not end in one),
// name, ext (a '.' is added when it does not start with one). Empty parts are
// left out.
std::string MakePath(std::string_view drive, std::string_view dir, std::string_view name,
                     std::string_view ext);

// True when the path starts with '/'.
bool IsAbsolutePath(std::string_view path);

// The path made absolute against the current directory and normalised
// lexically ("." and ".." folded, repeated '/' collapsed); symbolic links are
// not resolved. An empty path gives the current directory.
std::string AbsolutePath(std::string_view path);

// Lexical normalisation of a path without consulting the file system.
std::string NormalizePath(std::string_view path);

// File-system queries used across the program.
bool FileExists(const std::string& path);       // a regular file (or link to one)
bool DirectoryExists(const std::string& path);  // a directory (or link to one)
bool PathExists(const std::string& path);       // anything at all

}  // namespace sheetmend
