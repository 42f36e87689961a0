// Implemented features:
//  - the output-file port over a file handle: positioned writes, truncation
//    (end-of-file information), close
//  - the file is shared for reading only: while the take runs it can be
//    neither deleted nor renamed, and it is removed through a handle whose
//    identity (volume and file index) is checked first, never by a path
//    that may name another file by then
//  - exclusive creation (CREATE_NEW) for names that must not replace anything
//  - errors told apart: a full disk, a file too large for its drive
//    (ERROR_FILE_TOO_LARGE, e.g. FAT32's 4 GiB - 1), a removed drive or a
//    lost network share (the handle then fails every call)
#include "recording/output_file.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace {

// winerror.h has it; mingw-w64's does not.
constexpr DWORD DISK_QUOTA_EXCEEDED = 1295;

FileError errorOf(DWORD error) {
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case DISK_QUOTA_EXCEEDED:
        return FileError::DiskFull;
    case ERROR_FILE_TOO_LARGE:
        return FileError::TooLarge;
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_INVALID:
    case ERROR_NOT_READY:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_BAD_NETPATH:
    case ERROR_NETWORK_UNREACHABLE:
        return FileError::Gone;
    default:
        return FileError::Failed;
    }
}

// One WriteFile call takes at most this many bytes.
constexpr size_t WRITE_CHUNK = size_t{1} << 30;

// A file's identity on its volume; zero for a handle that cannot tell.
struct FileIdentity {
    DWORD volume = 0, high = 0, low = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return {};
    return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Opens whatever `path` names now, with `access` only and sharing everything,
// so that it opens even beside our own handle.
HANDLE openNamed(const std::filesystem::path& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class Win32OutputFile final : public OutputFile {
public:
    Win32OutputFile(HANDLE file, std::filesystem::path path)
        : file_(file), path_(std::move(path)), identity_(identityOf(file)) {}
    ~Win32OutputFile() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }

    FileError write(uint64_t offset, const void* data, size_t bytes) override {
        const auto* next = static_cast<const char*>(data);
        while (bytes != 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD written = 0;
            const auto count = static_cast<DWORD>(std::min(bytes, WRITE_CHUNK));
            if (!WriteFile(file_, next, count, &written, &at)) return errorOf(GetLastError());
            if (written == 0) return FileError::DiskFull;
            next += written, offset += written, bytes -= written;
        }
        return FileError::None;
    }

    FileError truncate(uint64_t size) override {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        return SetFileInformationByHandle(file_, FileEndOfFileInfo, &end, sizeof(end))
                   ? FileError::None
                   : errorOf(GetLastError());
    }

    // Nobody can delete or rename the file through Windows while this handle
    // is open; what is left is its drive or share going away, which fails the
    // handle, and a file system below Windows' own (a share's server, Wine's
    // host) removing it, which leaves the path naming something else.
    FileError check() override {
        FILE_STANDARD_INFO info{};
        if (!GetFileInformationByHandleEx(file_, FileStandardInfo, &info, sizeof(info))) {
            const FileError error = errorOf(GetLastError());
            return error == FileError::Failed ? FileError::Gone : error;
        }
        return info.DeletePending || !namedBy(path_) ? FileError::Gone : FileError::None;
    }

    bool namedBy(const std::filesystem::path& path) override {
        const HANDLE other = openNamed(path, 0);
        if (other == INVALID_HANDLE_VALUE) return false;
        const bool same = identity_ != FileIdentity{} && identityOf(other) == identity_;
        CloseHandle(other);
        return same;
    }

    FileError close() override {
        const HANDLE file = std::exchange(file_, INVALID_HANDLE_VALUE);
        return CloseHandle(file) ? FileError::None : errorOf(GetLastError());
    }

    // Deleted through a handle of its own, once it is certain the path still
    // names this file.
    void remove() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
        const HANDLE named = openNamed(path_, DELETE);
        if (named == INVALID_HANDLE_VALUE) return;
        if (identity_ != FileIdentity{} && identityOf(named) == identity_) {
            FILE_DISPOSITION_INFO disposition{TRUE};
            SetFileInformationByHandle(named, FileDispositionInfo, &disposition, sizeof(disposition));
        }
        CloseHandle(named);
    }

private:
    HANDLE file_;
    std::filesystem::path path_;
    FileIdentity identity_;
};

}  // namespace

std::unique_ptr<OutputFile> openSystemOutputFile(const std::filesystem::path& path, CreateMode mode,
                                                 FileError& error) {
    // Shared for reading only: others may read the growing take (sharing
    // writes with it), but nobody can delete, rename or write it meanwhile.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    mode == CreateMode::CreateNew ? CREATE_NEW : CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD why = GetLastError();
        error = mode == CreateMode::CreateNew && (why == ERROR_FILE_EXISTS || why == ERROR_ALREADY_EXISTS)
                    ? FileError::Exists
                    : FileError::NotOpened;
        return nullptr;
    }
    error = FileError::None;
    return std::make_unique<Win32OutputFile>(file, path);
}
