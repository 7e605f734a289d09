// Output names claimed by this process. Claiming a name creates an empty file
// under it exclusively (O_EXCL), so neither another pair of this run nor
// another process writing into the same folder can take the name too; the
// file finally written replaces that empty placeholder, and a claim whose pair
// wrote nothing there is removed again. A process that is killed leaves its
// empty placeholders behind.
#pragma once

#include <string>
#include <vector>

namespace sheetmend {

// Turns `path` into the first of path, path000, path001, ... (the number goes
// before the extension) that no file holds, and claims it. A name that cannot
// be created for another reason than being taken (a missing or read-only
// folder) is handed back unclaimed, for the writer to report. False when a
// million names are all taken.
bool ClaimFreeName(std::string& path);

// Removes the placeholder if it is still this process's empty claim, and
// forgets it.
void ReleaseClaim(const std::string& path);

// Makes the temporary file a result is written into before it is renamed
// into place (mkostemp on `name`, a template ending in XXXXXX), and keeps its
// name so that an interrupted run can remove it. -1 when it cannot be made,
// with errno ECANCELED once the claims are closed.
int MakeUnfinishedFile(std::vector<char>& name);
// The unfinished file was renamed into place or deleted.
void ForgetUnfinishedFile(const std::string& path);

// ReleaseClaim for every claim still held, and removes every unfinished file.
// With `close`, for a run that is being interrupted, no name is claimed and
// no unfinished file made after this.
void ReleaseAllClaims(bool close = false);

}  // namespace sheetmend
