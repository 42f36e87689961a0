#pragma once
// The output-file port: the few things a take needs from the file system, at
// the level of a file that must never lie about what it holds. Each platform
// implements it once over its own file handles; the tests wrap the real one to
// make a disk fill up or a file go away.
//
// Threads: a file is opened, used and closed on one thread (the recording
// thread), whatever thread made the opener.
// Ownership: the file owns its handle; the destructor closes it (without
// removing anything) if close() or remove() did not.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

// Why a file operation failed, as far as the platform can tell.
enum class FileError {
    None,
    Exists,     // an exclusive creation found a file at the path
    NotOpened,  // the path cannot be opened for writing (no folder, no right, read-only file, bad name)
    DiskFull,   // no space left (or the quota is used up)
    TooLarge,   // the file may not grow this large on its drive (or by the process's limit)
    Gone,       // the file was deleted or moved away, or its drive or share went away
    Failed,     // anything else the system reported
};

class OutputFile {
public:
    virtual ~OutputFile() = default;

    // Writes all `bytes` at `offset`, growing the file as needed. A partial
    // write is a failure: what landed past the last good size is for the
    // caller to cut off.
    virtual FileError write(uint64_t offset, const void* data, size_t bytes) = 0;
    // Cuts (or extends with zeros) the file to `size` bytes.
    virtual FileError truncate(uint64_t size) = 0;
    // None while the open file is still the one the path names and its drive
    // is there; Gone once it was deleted, moved or replaced, or its drive or
    // share went away. Cheap enough to ask once a second.
    virtual FileError check() = 0;
    // True when `path` names this very file (another spelling of its own
    // path, a link to it).
    virtual bool namedBy(const std::filesystem::path& path) = 0;
    // Hands what the system still buffers to the file system and closes the
    // file; the error of the last write-back is reported here.
    virtual FileError close() = 0;
    // Deletes the file if the path still names it, and closes it. Never
    // touches a file that took its place.
    virtual void remove() = 0;
};

// How a file is made: Replace empties an existing file (the user chose it,
// and confirmed the overwrite); CreateNew refuses one with Exists.
enum class CreateMode { Replace, CreateNew };

// Opens `path` for writing as `mode` says; null, with `error` set, when it
// cannot. Never removes or changes a file it could not open.
using OutputFileOpener = std::unique_ptr<OutputFile> (*)(const std::filesystem::path& path, CreateMode mode,
                                                         FileError& error);

// The platform's own files; each program links one implementation.
std::unique_ptr<OutputFile> openSystemOutputFile(const std::filesystem::path& path, CreateMode mode,
                                                 FileError& error);

// What takes open their files with: set by the platform before the first take
// (openSystemOutputFile), and by the tests.
extern OutputFileOpener openOutputFile;
