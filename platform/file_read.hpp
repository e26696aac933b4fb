// Opening the files that the user chooses or the tool keeps: only a regular file
// is opened (a pipe or device would hold the window until someone wrote to it),
// and never more is read than the caller can take.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// True for a regular file and for a path where nothing is yet (the open then
// says why it fails, or creates the file). Anything else is refused: opening a
// pipe waits for its other end, a device or folder is no file to read or write.
bool IsRegularFileOrMissing(const std::string& path);

// fopen of `path` for reading with `mode` ("r" or "rb") when
// IsRegularFileOrMissing; null when the open fails (errno says why), and with
// errno EINVAL when the path names something else, even if it became so after
// the check, or when `mode` is not for reading (files are written through
// WriteWholeFile).
FileHandle OpenRegularFile(const std::string& path, const char* mode);

// Reads the first `maxBytes` bytes of the file at `path` (all of a shorter one)
// into `data`. False with `error` saying why when the file is not a regular
// file or cannot be opened or read; `data` is then left as it was.
bool ReadFileStart(const std::string& path, size_t maxBytes, std::vector<char>* data,
                   std::string* error);
