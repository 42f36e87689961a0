// Implemented features:
//  - the output-file port over a file descriptor: positioned writes that go
//    on after a signal or a short write, truncation, close with write-back
//  - exclusive creation (O_EXCL) for names that must not replace anything
//  - a file that is deleted, moved or replaced is told by comparing the open
//    file with what its path names now (link count, device and inode)
//  - errno told apart: a full disk or quota, a size limit (EFBIG, also from
//    RLIMIT_FSIZE: SIGXFSZ is ignored so that it arrives as EFBIG), the
//    file's drive gone (EIO, ENODEV, ENXIO, ESTALE)
#include "recording/output_file.h"

#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FileError errorOf(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return FileError::DiskFull;
    case EFBIG:
        return FileError::TooLarge;
    case EIO:
    case ENODEV:
    case ENXIO:
    case ESTALE:
        return FileError::Gone;
    default:
        return FileError::Failed;
    }
}

class PosixOutputFile final : public OutputFile {
public:
    PosixOutputFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {
        struct stat opened {};
        if (::fstat(fd_, &opened) == 0) device_ = opened.st_dev, inode_ = opened.st_ino;
    }
    ~PosixOutputFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    FileError write(uint64_t offset, const void* data, size_t bytes) override {
        const auto* next = static_cast<const char*>(data);
        while (bytes != 0) {
            const ssize_t written = ::pwrite(fd_, next, bytes, static_cast<off_t>(offset));
            if (written < 0 && errno == EINTR) continue;
            if (written < 0) return errorOf(errno);
            if (written == 0) return FileError::DiskFull;
            next += written, offset += static_cast<uint64_t>(written), bytes -= static_cast<size_t>(written);
        }
        return FileError::None;
    }

    FileError truncate(uint64_t size) override {
        while (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
            if (errno != EINTR) return errorOf(errno);
        return FileError::None;
    }

    FileError check() override {
        struct stat opened {};
        if (::fstat(fd_, &opened) != 0 || opened.st_nlink == 0 || !namedBy(path_)) return FileError::Gone;
        return FileError::None;
    }

    bool namedBy(const std::filesystem::path& path) override {
        struct stat named {};
        return ::stat(path.c_str(), &named) == 0 && named.st_dev == device_ && named.st_ino == inode_;
    }

    FileError close() override {
        const int fd = std::exchange(fd_, -1);
        // A network or FUSE file system reports a failed write-back here.
        return ::close(fd) == 0 || errno == EINTR ? FileError::None : errorOf(errno);
    }

    void remove() override {
        if (check() == FileError::None) ::unlink(path_.c_str());
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    }

private:
    int fd_;
    std::filesystem::path path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace

std::unique_ptr<OutputFile> openSystemOutputFile(const std::filesystem::path& path, CreateMode mode,
                                                 FileError& error) {
    // A file past the process's size limit would otherwise end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == CreateMode::CreateNew ? O_EXCL : O_TRUNC);
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno == EEXIST && mode == CreateMode::CreateNew ? FileError::Exists : FileError::NotOpened;
        return nullptr;
    }
    error = FileError::None;
    return std::make_unique<PosixOutputFile>(fd, path);
}
