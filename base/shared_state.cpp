#include "base/shared_state.h"

// Defined in one translation unit so that construction (and, in reverse,
// destruction at exit) follows the order below.
int32_t globalSampleRate = 44100;
WindowPort* hwndMain = nullptr;

std::atomic<bool> isRecording{false};
std::atomic<bool> recordingThreadActive{false};
std::atomic<float> currentLevel{0.0f};
std::atomic<bool> pendingClose{false};
std::atomic<float> dominantFreqHz{0.0f};
std::atomic<TakeOutcome> lastTakeOutcome{TakeOutcome::Saved};
std::atomic<uint32_t> inputGaps{0};
std::atomic<uint32_t> deviceSilentSeconds{0};
std::atomic<TakeFileTrouble> takeFileTrouble{TakeFileTrouble::None};
std::atomic<double> takeFileKeptSeconds{0.0};
TakeDevices takeDevices;
std::mutex takeDeviceMutex;
std::atomic<TakeOutcome> reconnectRefusal{TakeOutcome::Saved};
std::wstring takeWrittenTo;
std::optional<SaveAnswer> saveAnswer;
std::mutex saveAnswerMutex;
std::condition_variable saveAnswerCv;

std::thread recordingThread;
bool windowClosing = false;
bool (*threadStartRefused)() = nullptr;
std::wstring savePath = PROPOSED_FILE_NAME;
std::vector<int16_t> waveformBufferL;
std::vector<float> spectrumBuffer;
std::mutex waveformMutex;
std::mutex spectrumMutex;
std::string utf8Path = "output.wav";
std::vector<float> blackmanWin;
std::queue<std::vector<int16_t>> fftQueue;
std::mutex fftMutex;
std::condition_variable fftCv;
std::atomic<bool> fftRunning{false};
std::thread fftThread;
