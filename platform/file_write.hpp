// Writing the files the tool keeps or makes. The tool runs as root: a file it
// writes must lose nothing and go nowhere else. So the whole text goes to a new
// file in the same folder, every write and the close are checked and the data
// is on the disk before the new file is renamed over the old one; a symbolic
// link, folder, pipe or device in the file's place is refused and left as it is.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

enum class FileWriteFailure {
    None,
    Refused,   // the path names no regular file (a link, folder, pipe, device)
    NotMade,   // the new file could not be made in the folder
    NotSaved,  // a write, the flush, the close or the rename failed
};

struct FileWriteOutcome {
    FileWriteFailure failure = FileWriteFailure::None;
    std::string reason;  // why, in words, when it failed
    bool ok() const { return failure == FileWriteFailure::None; }
};

// Replaces the file at `path` with `data`, or makes it. An existing file keeps
// its permissions (and its owner, where the process may give it). On any
// failure the old file stays as it was and no new file is left behind.
FileWriteOutcome WriteWholeFile(const std::string& path, std::string_view data);

// The system call that writes to the new file; tests put in one that fails, as
// a full disk would. Returns the one it replaces.
using FileWriteCall = ssize_t (*)(int fd, const void* data, size_t bytes);
FileWriteCall SetFileWriteCall(FileWriteCall call);
