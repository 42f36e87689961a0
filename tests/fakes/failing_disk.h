#pragma once
// The platform's real files, except in the folder a test names: there a file
// takes `room` bytes and then refuses the rest of a write with `failure` (a
// full disk, a size limit); a path named "read-only.wav" cannot be opened at
// all. Every header
// written is checked against the samples before it: `faults` says where the
// file would have lied.
#include <cstring>
#include <string>

#include "recording/output_file.h"
#include "recording/wav_writer.h"

struct FailingDisk {
    std::filesystem::path folder = "failing";
    uint64_t room = UINT64_MAX;
    FileError failure = FileError::DiskFull;
    std::string faults;
};
inline FailingDisk failingDisk;

class FailingFile final : public OutputFile {
public:
    explicit FailingFile(std::unique_ptr<OutputFile> real) : real_(std::move(real)) {}
    FileError write(uint64_t offset, const void* data, size_t bytes) override {
        FailingDisk& disk = failingDisk;
        const uint64_t fits = offset >= disk.room ? 0 : std::min<uint64_t>(bytes, disk.room - offset);
        if (fits != 0 && real_->write(offset, data, static_cast<size_t>(fits)) != FileError::None)
            return FileError::Failed;
        if (fits < bytes) return disk.failure;
        end_ = std::max(end_, offset + bytes);
        if (offset == 0 && bytes == sizeof(WAVHeader)) {
            uint32_t described;
            std::memcpy(&described, static_cast<const char*>(data) + 40, 4);
            if (sizeof(WAVHeader) + described > end_) disk.faults += "a header beyond the samples; ";
        }
        return FileError::None;
    }
    FileError truncate(uint64_t size) override {
        end_ = size;
        return real_->truncate(size);
    }
    FileError check() override { return real_->check(); }
    bool namedBy(const std::filesystem::path& path) override { return real_->namedBy(path); }
    FileError close() override { return real_->close(); }
    void remove() override { real_->remove(); }

private:
    std::unique_ptr<OutputFile> real_;
    uint64_t end_ = 0;
};

inline std::unique_ptr<OutputFile> openOnFailingDisk(const std::filesystem::path& path, CreateMode mode,
                                                     FileError& error) {
    if (path.filename() == "read-only.wav") return error = FileError::NotOpened, nullptr;
    std::unique_ptr<OutputFile> file = openSystemOutputFile(path, mode, error);
    if (file && path.parent_path() == failingDisk.folder)
        return std::make_unique<FailingFile>(std::move(file));
    return file;
}
