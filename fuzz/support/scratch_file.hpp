// A file of this process's own in the temporary folder, for targets whose code
// under test reads from a path: each input is written to it before the run.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace fuzzsupport {

class ScratchFile {
  public:
    explicit ScratchFile(const char* stem) {
        std::string pattern = std::string("/tmp/") + stem + "-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        ::close(fd);
        path_ = pattern;
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }
    void write(std::span<const uint8_t> bytes) const {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::perror(path_.c_str());
            std::abort();
        }
        std::fclose(f);
    }

  private:
    std::string path_;
};

}  // namespace fuzzsupport
