// The take's file on a real Linux file system: what the disk refuses, and a
// file that someone deletes or moves while the take runs.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>

#include "recording/take_file.h"

namespace {

TEST(TakeFileOnLinux, ASizeLimitKeepsAValidPrefixAndAFileThatGoesIsNoticed) {
    openOutputFile = openSystemOutputFile;
    Take take;
    const std::vector<int16_t> samples(64, 7);
    take.append(samples.data(), samples.size());

    // The process may not write past 100 bytes: the drive's largest file, as far as the take can tell.
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const rlimit small{100, before.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    TakeFile limited("limited.wav", CreateMode::Replace, 48000, 2);
    EXPECT_FALSE(limited.update(take));
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(limited.error(), FileError::TooLarge);
    EXPECT_EQ(std::filesystem::file_size("limited.wav"), 44u);  // the header alone: a valid, empty WAV

    // Deleted, or moved away and another file put in its place.
    for (const bool replaced : {false, true}) {
        TakeFile file("going.wav", CreateMode::Replace, 48000, 2);
        EXPECT_TRUE(file.update(take));
        if (replaced) {
            std::filesystem::rename("going.wav", "moved.wav");
            TakeFile("going.wav", CreateMode::Replace, 48000, 2);
        } else {
            std::filesystem::remove("going.wav");
        }
        EXPECT_FALSE(file.finish(take)) << replaced;
        EXPECT_EQ(file.error(), FileError::Gone);
        file.remove();  // never the file that took its place
        EXPECT_EQ(std::filesystem::exists("going.wav"), replaced);
    }
    // A recovered take never replaces a file.
    EXPECT_EQ(TakeFile("moved.wav", CreateMode::CreateNew, 48000, 2).error(), FileError::Exists);
}

}  // namespace
