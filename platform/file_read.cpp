#include "platform/file_read.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool IsRegularFileOrMissing(const std::string& path) {
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    return type == std::filesystem::file_type::regular ||
           type == std::filesystem::file_type::not_found;
}

bool ReadFileStart(const std::string& path, size_t maxBytes, std::vector<char>* data,
                   std::string* error) {
    // A missing file is left to the open, which says so.
    if (!IsRegularFileOrMissing(path)) {
        *error = "not a regular file";
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
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
