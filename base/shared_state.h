#pragma once
// The process-wide values through which the window thread, the recording
// thread and the spectrum worker meet. Guarded vectors are touched only under
// their mutex and only to copy, append, trim or clear; every flag and number
// that crosses threads is atomic. The one nesting allowed is fftMutex taken
// inside waveformMutex (the live feed).
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <thread>
#include <vector>

class WindowPort;

constexpr size_t FFT_SIZE = 65536;           // transform length and FFT block length
constexpr size_t MAX_WAVEFORM_SIZE = 65536;  // samples kept in the display history

// How the last take ended, written by the recording thread before it posts
// WM_APP_RECORDING_DONE or WM_APP_RECORDING_FAILED, read by the window then.
enum class TakeOutcome : int {
    Saved,              // the whole take is in the file
    SizeLimit,          // ended at the largest size a WAV header can describe; saved
    OutOfMemory,        // memory ran out while the take grew; what was captured is saved
    DeviceLost,         // the capture device or sound server went away for good; what was captured is saved
    RateChanged,        // the device came back at another sample rate; what was captured is saved
    WriteFailed,        // header, samples or close failed; the take waits in memory for another path
    Discarded,          // the file could not be written and the user let the take go
    Unsaved,            // the session ended and no place could take the take; its file keeps what it had
    OpenFailed,         // the output file could not be opened (or its name encoded)
    DeviceFailed,       // the capture device could not be set up
    NoDevice,           // no capture device is connected
    AccessDenied,       // the system's privacy settings refuse the microphone
    DeviceInUse,        // another program holds the device exclusively
    FormatUnsupported,  // the device's samples are of a kind the take cannot convert
    ThreadFailed,       // the system refused a thread; nothing recorded
};

// Written by the recording thread once per take, before it starts the worker
// that reads it; thread creation orders the two.
extern int32_t globalSampleRate;

// The main window as the other threads reach it. Set before any other thread exists.
extern WindowPort* hwndMain;

extern std::atomic<bool> isRecording;
extern std::atomic<bool> recordingThreadActive;
extern std::atomic<float> currentLevel;  // 0.0 .. 1.0
extern std::atomic<bool> pendingClose;
extern std::atomic<float> dominantFreqHz;  // hertz
extern std::atomic<TakeOutcome> lastTakeOutcome;
// Reports of lost input during the current take (not counting its first packet).
extern std::atomic<uint32_t> inputGaps;
// Whole seconds since the device last delivered, once that is 2 s or more; 0 while sound flows.
extern std::atomic<uint32_t> deviceSilentSeconds;

// What went wrong with the take's file during the take, which then goes on
// in memory only; and how much of the take that file still holds as a valid
// WAV. Recording thread writes, the window reads for the status line.
enum class TakeFileTrouble : int {
    None,
    WriteFailed,  // a full disk, a drive that refused the write
    SizeLimit,    // the file may not grow larger on its drive
    Gone,         // the file or its folder was deleted or moved, or its drive went away
};
extern std::atomic<TakeFileTrouble> takeFileTrouble;
extern std::atomic<double> takeFileKeptSeconds;

// The devices of the current take as the system names them: the one it began
// on and the one it records now (they differ once a reconnect found another),
// and the last refusal met while the take waited for a device (Saved: none).
// The recording thread writes under takeDeviceMutex; the window reads.
struct TakeDevices {
    std::wstring first, now;
    bool monitorFirst = false;
};
extern TakeDevices takeDevices;
extern std::mutex takeDeviceMutex;
extern std::atomic<TakeOutcome> reconnectRefusal;
// Where the last take was written in the end (the chosen file, another place
// the user named, or a recovery place). Written by the recording thread before
// it posts WM_APP_RECORDING_DONE; read by the window thread after the join.
extern std::wstring takeWrittenTo;

// The window's answer to WM_APP_SAVE_FAILED: the paths to try, in order, until
// the take is written to one of them; none (and not final) to discard it.
// A final answer comes when nobody can be asked any more (the session is
// ending): its paths are recovery names, never replacing an existing file,
// and when none of them takes the take, the take's own file keeps what it
// holds. Set by the window thread, taken by the recording thread, which waits
// on saveAnswerCv.
struct SaveAnswer {
    std::vector<std::wstring> places;
    bool final = false;
};
extern std::optional<SaveAnswer> saveAnswer;
extern std::mutex saveAnswerMutex;
extern std::condition_variable saveAnswerCv;

// The Save As dialog proposes this name for every take, never the last one
// chosen; savePath starts as it.
constexpr wchar_t PROPOSED_FILE_NAME[] = L"output.wav";

// Window thread only.
extern std::thread recordingThread;
// Set once the window is closing for good (a close, the session's end): no
// take starts after it, even from a Save As dialog that was open meanwhile.
extern bool windowClosing;
extern std::wstring savePath;

extern std::vector<int16_t> waveformBufferL;  // guarded by waveformMutex, oldest first
extern std::vector<float> spectrumBuffer;     // guarded by spectrumMutex, 32,768 bins or empty
extern std::mutex waveformMutex;
extern std::mutex spectrumMutex;

// Recording thread only while a take runs.
extern std::string utf8Path;

// Spectrum worker only.
extern std::vector<float> blackmanWin;

extern std::queue<std::vector<int16_t>> fftQueue;  // guarded by fftMutex, at most 4 blocks
extern std::mutex fftMutex;
extern std::condition_variable fftCv;
extern std::atomic<bool> fftRunning;
extern std::thread fftThread;  // recording thread only
