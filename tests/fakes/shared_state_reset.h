#pragma once
// Puts the process-wide recorder state back to its start-up values between tests.
#include "base/shared_state.h"

inline void resetSharedState() {
    isRecording = recordingThreadActive = pendingClose = windowClosing = false;
    takeFileTrouble = TakeFileTrouble::None;
    currentLevel = dominantFreqHz = 0.0f;
    lastTakeOutcome = TakeOutcome::Saved;
    hwndMain = nullptr;
    std::scoped_lock lock(waveformMutex, spectrumMutex, fftMutex);
    waveformBufferL.clear();
    spectrumBuffer.clear();
    fftQueue = {};
}
