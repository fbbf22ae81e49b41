// Output files that are either complete under their final name or not there:
// each is written under a hidden temporary name in its destination folder and
// renamed into place once written and synced.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

// A failed write with the system's error number (errno), so that the caller
// can tell errors that will repeat for every file from those of one file.
class WriteError : public HostError {
public:
    WriteError(const std::string& message, int error_number) : HostError(message), error_number_(error_number) {}
    int errorNumber() const { return error_number_; }

private:
    int error_number_;
};

// True for errors that every further write into the same place will meet:
// no space, quota, read-only file system, permission.
bool repeatsForEveryFile(int error_number);

// Writes `path` through `write`, which is handed a temporary path in the same
// folder and throws on failure. The temporary file is synced and renamed onto
// `path` only when `write` succeeded; otherwise it is removed and `path` keeps
// whatever it held before. WriteError when creating, syncing or renaming fails.
void replaceFile(const std::string& path, const std::function<void(const std::string& temp_path)>& write);

// Creates and removes a temporary file in `folder`; WriteError naming the
// folder and the reason when that fails.
void checkFolderWritable(const std::string& folder);

// Removes the temporary files of writes in progress. Only calls unlink(), so
// a signal handler may call it before the process ends.
void removeTemporaryFilesNow() noexcept;

// Removes the temporary files that an earlier, killed writer of any of
// `paths` left in their folders (replaceFile's ".<name>.tev-XXXXXX" for
// those names only: other files, and temporaries of other names, stay).
// Returns the paths removed.
std::vector<std::string> removeLeftTemporaries(const std::vector<std::string>& paths);

}  // namespace TEV::Host::Cli
