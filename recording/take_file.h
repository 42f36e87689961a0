#pragma once
// The take's WAV file while the take grows: the samples go to disk about once
// a second and the header is rewritten after each write, so that the file is
// at every moment a valid WAV of everything written so far. What a crash or a
// kill loses is the last second at most. Recording thread only.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>

#include "recording/take.h"

// Opens the file a take is written to, truncating it; null when it cannot be
// created. Tests put a stream that fails part-way in its place.
extern std::unique_ptr<std::ostream> (*openTakeFile)(const std::filesystem::path& path);

class TakeFile {
public:
    // Writes the header of an empty take at once.
    TakeFile(std::unique_ptr<std::ostream> file, uint32_t sampleRate, int channels);

    // Appends the samples of `take` not yet in the file, then rewrites the
    // header for all of them. False, and nothing more is ever written, once
    // any write has failed.
    bool update(const Take& take);
    // The last update, then the file is closed. False when the file does not
    // hold the whole take.
    bool finish(const Take& take);

    bool failed() const { return failed_; }

private:
    void writeHeader();

    std::unique_ptr<std::ostream> file_;
    uint32_t sampleRate_;
    int channels_;
    uint64_t written_ = 0;  // samples in the file
    bool failed_ = false;
};
