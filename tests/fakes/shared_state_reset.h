#pragma once
// Puts the process-wide recorder state back to its start-up values between tests.
#include "app/shared_state.h"
#include "recording/live_feed.h"

inline void resetSharedState() {
    isRecording = false;
    recordingThreadActive = false;
    currentLevel = 0.0f;
    pendingClose = false;
    dominantFreqHz = 0.0f;
    lastTakeOutcome = TakeOutcome::Saved;
    globalSampleRate = 44100;
    hwndMain = nullptr;
    savePath = L"output.wav";
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.clear();
    }
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrumBuffer.clear();
    }
    std::lock_guard<std::mutex> lock(fftMutex);
    fftQueue = {};
}
