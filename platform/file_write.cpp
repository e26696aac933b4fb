#include "platform/file_write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace {

std::atomic<FileWriteCall> writeCall{&::write};

FileWriteOutcome Failed(FileWriteFailure failure, const std::string& reason) {
    return {failure, reason};
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new file of a name nobody else uses, beside the target, with the mode a
// plain create would give (the process's umask applies).
int MakeNewFile(const std::string& path, std::string* tempPath) {
    std::random_device seed;
    std::mt19937 generator(seed());
    const std::string stem = Folder(path) + "/." + BaseName(path) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = stem + std::to_string(generator() % 1000000000u);
        const int fd =
            ::open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool WriteAll(int fd, std::string_view data) {
    const FileWriteCall call = writeCall.load();
    while (!data.empty()) {
        const ssize_t written = call(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The rename is on the disk only once the folder is; a failure here loses no
// data, so it is not reported.
void SyncFolder(const std::string& path) {
    const int fd = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

FileWriteOutcome WriteWholeFile(const std::string& path, std::string_view data) {
    struct stat old {};
    const bool exists = ::lstat(path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return Failed(FileWriteFailure::NotMade, std::strerror(errno));
    if (exists && S_ISLNK(old.st_mode)) {
        return Failed(FileWriteFailure::Refused, "it is a symbolic link");
    }
    if (exists && !S_ISREG(old.st_mode)) {
        return Failed(FileWriteFailure::Refused, "it is not a regular file");
    }

    std::string tempPath;
    const int fd = MakeNewFile(path, &tempPath);
    if (fd < 0) return Failed(FileWriteFailure::NotMade, std::strerror(errno));
    if (exists) {
        // The file stays whose it was and as readable as it was.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
        }
        [[maybe_unused]] const int kept = ::fchmod(fd, old.st_mode & 07777);
    }
    bool saved = WriteAll(fd, data) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && saved) {
        saved = false;
        error = errno;
    }
    if (saved && ::rename(tempPath.c_str(), path.c_str()) != 0) {
        saved = false;
        error = errno;
    }
    if (!saved) {
        ::unlink(tempPath.c_str());
        return Failed(FileWriteFailure::NotSaved, std::strerror(error));
    }
    SyncFolder(path);
    return {};
}

FileWriteCall SetFileWriteCall(FileWriteCall call) {
    return writeCall.exchange(call);
}
