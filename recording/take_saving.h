#pragma once
// Where a take lives on disk, from the chosen file's creation to the last
// byte: the growing file, kept up to date while the take runs; what is left
// of it when a write fails (a valid WAV of the part written, kept until the
// whole take is safe elsewhere or let go); the places the window names
// afterwards; and the recovery names used when nobody can be asked.
// Recording thread only, except bringTakeFileUpToDate.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/shared_state.h"
#include "recording/take.h"
#include "recording/take_file.h"

class WindowPort;

// The file of a recovered take: "<name>.recovered.wav" beside `chosen`, the
// `n`-th try "<name>.recovered-<n>.wav"; ".wav" in any case is replaced.
// Spelled as the window spells `chosen`.
std::wstring recoveredName(const std::wstring& chosen, int n);

class TakeSaving {
public:
    TakeSaving(WindowPort* window, uint32_t sampleRate, int channels);
    ~TakeSaving();

    // Creates the chosen file, emptying an existing one. False when it cannot
    // be opened or its name cannot be encoded: then nothing was touched.
    bool open(const std::wstring& path);

    // Once a second and when another thread asks: the samples so far go to
    // the file. The first failure is told to the window at once; the take
    // goes on in memory.
    void keepUpToDate(const Take& take, std::chrono::steady_clock::time_point now);

    // After capture: the whole take in the chosen file, or, when that fails,
    // wherever the window answers until a place takes it or the take is let
    // go. Returns how the take ended (`captured` when it is saved).
    TakeOutcome finish(const Take& take, TakeOutcome captured);

private:
    void tellTrouble();
    bool saveTo(const std::filesystem::path& place, CreateMode mode, const Take& take);
    void serveRequests(const Take& take);

    WindowPort* window_;
    uint32_t sampleRate_;
    int channels_;
    std::wstring chosen_;                    // the path the user chose, as the window spells it
    std::optional<TakeFile> file_;           // the chosen file, or what is left of it
    FileError lastError_ = FileError::None;  // of the last attempt to save elsewhere
    bool troubleTold_ = false;
    std::chrono::steady_clock::time_point lastUpdate_;
};

// Any thread but the recording thread: asks the running take to write every
// sample captured so far and its header now. True once that is done; false
// when `longest` passed first (no take running, or its file already failed).
bool bringTakeFileUpToDate(std::chrono::milliseconds longest);
