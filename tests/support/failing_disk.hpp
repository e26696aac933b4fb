// A disk that fills up: for the test's scope the files the tool writes take a
// few bytes and then every write fails with "No space left on device".
#pragma once

#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/file_write.hpp"

namespace testsupport {

class FailingDisk {
  public:
    FailingDisk() : replaced_(SetFileWriteCall(&Write)) { room() = kRoomBytes; }
    ~FailingDisk() { SetFileWriteCall(replaced_); }
    FailingDisk(const FailingDisk&) = delete;
    FailingDisk& operator=(const FailingDisk&) = delete;

  private:
    static constexpr size_t kRoomBytes = 5;
    static std::atomic<size_t>& room() {
        static std::atomic<size_t> bytes{0};
        return bytes;
    }
    static ssize_t Write(int fd, const void* data, size_t bytes) {
        const size_t left = room().load();
        if (left == 0) {
            errno = ENOSPC;
            return -1;
        }
        const ssize_t written = ::write(fd, data, bytes < left ? bytes : left);
        if (written > 0) room() -= static_cast<size_t>(written);
        return written;
    }

    FileWriteCall replaced_;
};

}  // namespace testsupport
