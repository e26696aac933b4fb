#include "platform/file_read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

bool IsRegularFileOrMissing(const std::string& path) {
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    return type == std::filesystem::file_type::regular ||
           type == std::filesystem::file_type::not_found;
}

FileHandle OpenRegularFile(const std::string& path, const char* mode) {
    if (mode[0] != 'r' || !IsRegularFileOrMissing(path)) {
        errno = EINVAL;
        return nullptr;
    }
    // Opened without waiting, and looked at again once open: a pipe put in the
    // file's place after the check above must not hold the caller either.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    FileHandle file(::fdopen(fd, mode));
    if (!file) ::close(fd);
    return file;
}

bool ReadFileStart(const std::string& path, size_t maxBytes, std::vector<char>* data,
                   std::string* error) {
    FileHandle file = OpenRegularFile(path, "rb");
    if (!file) {
        *error = errno == EINVAL ? "not a regular file" : std::strerror(errno);
        return false;
    }
    // In pieces, so that a short file costs no more than its size however high
    // the limit.
    constexpr size_t kPiece = size_t{64} << 10;
    std::vector<char> read;
    while (read.size() < maxBytes) {
        const size_t before = read.size();
        const size_t want = std::min(kPiece, maxBytes - before);
        read.resize(before + want);
        const size_t got = std::fread(read.data() + before, 1, want, file.get());
        read.resize(before + got);
        if (got < want) break;
    }
    if (std::ferror(file.get())) {
        *error = std::strerror(errno);
        return false;
    }
    *data = std::move(read);
    return true;
}
