// Temporary files of one run. All of them live in one private folder
// (mode 0700) made on first use under $TMPDIR or /tmp; every name handed out is
// remembered by the thread that asked for it and deleted by that thread's
// CleanupTempFiles; the folder itself goes at the end of the run
// (RemoveTempDirectory, also registered with atexit). Safe to use from
// several threads at once.
#pragma once

#include <cstddef>
#include <string>

namespace sheetmend {

// A new unique path "<private folder>/qrvxNNNN.tmp<extension>" (no file is
// left there). Returns "" when no temporary folder can be made.
std::string MakeTempPath(const std::string& extension);

// The same with the original's buffer contract: with capacity 0 nothing
// happens and 0 is returned; otherwise the path (cut to capacity - 1
// characters) is written to the buffer and its length returned.
size_t MakeTempPath(size_t capacity, char* buffer, const char* extension);

// Deletes every file handed out to this thread so far (failures ignored) and
// forgets them.
void CleanupTempFiles();

// CleanupTempFiles, then removes the private folder with anything left in it.
void RemoveTempDirectory();

// The private folder of this run ("" if it could not be made); creates it.
std::string TempFilesDirectory();

}  // namespace sheetmend
