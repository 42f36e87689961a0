#pragma once
// One WAV file of a take, through the output-file port: at every moment a
// valid WAV of everything written so far. Samples go to disk in stretches and
// the header is rewritten after each, so a crash or a kill loses only what
// had not yet been written. When a write fails, the file is cut back to its
// last good header and kept: what it holds is still a playable prefix of the
// take. Recording thread only.
#include <cstdint>
#include <filesystem>
#include <memory>

#include "recording/output_file.h"
#include "recording/take.h"

// Largest take in samples: 44 header bytes and the data stay within
// 4,294,967,295 bytes, the largest file FAT32 (most USB sticks) can hold; an
// odd last sample is never written, since takes end on whole frames.
constexpr uint64_t MAX_TAKE_SAMPLES = (0xFFFFFFFFull - 44) / 2;
static_assert(44 + MAX_TAKE_SAMPLES * 2 <= 0xFFFFFFFFull && MAX_TAKE_SAMPLES * 2 + 36 <= 0xFFFFFFFFull);

// A whole take written at once (saved elsewhere, recovered) rewrites its
// header after every stretch of this many bytes, so that a program killed
// while it writes gigabytes leaves a WAV of what was written.
constexpr uint64_t HEADER_INTERVAL_BYTES = uint64_t{64} << 20;

class TakeFile {
public:
    // Makes the file at `path` as `mode` says and writes the header of an
    // empty take. error() says NotOpened (or Exists) when there is no file.
    TakeFile(std::filesystem::path path, CreateMode mode, uint32_t sampleRate, int channels);
    ~TakeFile();

    const std::filesystem::path& path() const { return path_; }
    // None while the file holds what it should; else the first failure.
    FileError error() const { return error_; }
    // This attempt made (or emptied) a file at the path.
    bool opened() const { return file_ != nullptr; }

    // Appends the samples of `take` not yet in the file, then checks that the
    // file is still the one at its path. False, and nothing more is tried,
    // once anything failed.
    bool update(const Take& take);
    // The last update, then the file is closed. True only when the file at
    // the path holds the whole take.
    bool finish(const Take& take);
    // After a failure other than Gone, tries again where it stopped (the user
    // made room, or chose this very file again).
    bool retry(const Take& take);

    // Samples the file at the path holds as a valid WAV: after a failure,
    // the prefix that was kept; 0 when the file was deleted or moved.
    uint64_t samplesKept() const;
    // True when the path names this very file.
    bool namedBy(const std::filesystem::path& other) const;
    // Removes the file if the path still names it: the take is safe
    // elsewhere, or the user let it go.
    void remove();

private:
    FileError writeHeader(uint64_t samples);
    bool fail(FileError error);

    std::filesystem::path path_;
    std::unique_ptr<OutputFile> file_;
    uint32_t sampleRate_;
    int channels_;
    uint64_t written_ = 0;    // samples written after the header
    uint64_t described_ = 0;  // samples the header on disk describes
    bool headerWritten_ = false;
    FileError error_ = FileError::None;
};
