// Reading the files that the user chooses: only a regular file is read (a pipe
// or device would hold the window until someone wrote to it), and never more
// than the caller can take.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// True for a regular file and for a path where nothing is yet (the open then
// says why it fails, or creates the file). Anything else is refused: opening a
// pipe waits for its other end, a device or folder is no file to read or write.
bool IsRegularFileOrMissing(const std::string& path);

// Reads the first `maxBytes` bytes of the file at `path` (all of a shorter one)
// into `data`. False with `error` saying why when the file is not a regular
// file or cannot be opened or read; `data` is then left as it was.
bool ReadFileStart(const std::string& path, size_t maxBytes, std::vector<char>* data,
                   std::string* error);
