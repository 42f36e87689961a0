#include "recording/take_file.h"

#include <algorithm>
#include <sstream>

#include "recording/wav_writer.h"

OutputFileOpener openOutputFile = nullptr;

TakeFile::TakeFile(std::filesystem::path path, CreateMode mode, uint32_t sampleRate, int channels)
    : path_(std::move(path)), sampleRate_(sampleRate), channels_(channels) {
    FileError why = FileError::NotOpened;
    if (openOutputFile) file_ = openOutputFile(path_, mode, why);
    if (!file_) {
        error_ = why;
        return;
    }
    if (const FileError error = writeHeader(0); error != FileError::None) fail(error);
}

TakeFile::~TakeFile() = default;

FileError TakeFile::writeHeader(uint64_t samples) {
    std::ostringstream header;
    writeWavHeader(header, static_cast<int32_t>(sampleRate_), 16, channels_, samples * sizeof(int16_t));
    const std::string bytes = header.str();
    const FileError error = file_->write(0, bytes.data(), bytes.size());
    if (error == FileError::None) described_ = samples, headerWritten_ = true;
    return error;
}

// Cuts off whatever the failed write left past the last good header, so the
// file on disk is exactly the WAV that header describes. A file that is gone
// has nothing left to keep.
bool TakeFile::fail(FileError error) {
    error_ = error;
    if (error != FileError::Gone && file_) {
        // Without a good header there is no WAV to keep: the file is left empty.
        file_->truncate(headerWritten_ ? sizeof(WAVHeader) + described_ * sizeof(int16_t) : 0);
        if (headerWritten_) writeHeader(described_);
        written_ = described_;
    }
    return false;
}

bool TakeFile::update(const Take& take) {
    if (error_ != FileError::None) return false;
    while (written_ < take.size()) {
        const uint64_t end =
            std::min<uint64_t>(take.size(), written_ + HEADER_INTERVAL_BYTES / sizeof(int16_t));
        FileError error = FileError::None;
        uint64_t at = sizeof(WAVHeader) + written_ * sizeof(int16_t);
        take.forEachBlock(
            [&](const int16_t* samples, size_t count) {
                if (error != FileError::None) return;
                error = file_->write(at, samples, count * sizeof(int16_t));
                at += count * sizeof(int16_t);
            },
            written_, end);
        if (error != FileError::None) return fail(error);
        written_ = end;
        if (error = writeHeader(written_); error != FileError::None) return fail(error);
    }
    if (const FileError error = file_->check(); error != FileError::None) return fail(error);
    return true;
}

bool TakeFile::finish(const Take& take) {
    if (!update(take)) return false;
    if (const FileError error = file_->close(); error != FileError::None) {
        file_.reset();
        error_ = error;
        // The system could not write back what it held: nothing says what the file holds.
        described_ = 0;
        return false;
    }
    file_.reset();
    return true;
}

bool TakeFile::retry(const Take& take) {
    if (!file_ || error_ == FileError::Gone) return false;
    error_ = FileError::None;
    return finish(take);
}

uint64_t TakeFile::samplesKept() const {
    return error_ == FileError::Gone || error_ == FileError::NotOpened || error_ == FileError::Exists
               ? 0
               : described_;
}

bool TakeFile::namedBy(const std::filesystem::path& other) const { return file_ && file_->namedBy(other); }

void TakeFile::remove() {
    if (file_) file_->remove();
    file_.reset();
    described_ = 0;
}
