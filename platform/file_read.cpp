#include "platform/file_read.hpp"

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
    return FileHandle(IsRegularFileOrMissing(path) ? std::fopen(path.c_str(), mode) : nullptr);
}

bool ReadFileStart(const std::string& path, size_t maxBytes, std::vector<char>* data,
                   std::string* error) {
    // A missing file is left to the open, which says so.
    if (!IsRegularFileOrMissing(path)) {
        *error = "not a regular file";
        return false;
    }
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    std::vector<char> read(maxBytes);
    const size_t got = std::fread(read.data(), 1, read.size(), file.get());
    if (std::ferror(file.get())) {
        *error = std::strerror(errno);
        return false;
    }
    read.resize(got);
    *data = std::move(read);
    return true;
}
