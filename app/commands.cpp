#include "app/commands.h"

#include "app/messages.h"
#include "app/shared_state.h"
#include "app/thread_start.h"
#include "app/window_port.h"
#include "recording/recording_thread.h"

namespace {

void joinRecordingThread() {
    if (recordingThread.joinable()) recordingThread.join();
}

// Common end of every take the window hears about: join, then close if a
// close request was waiting for this moment.
void finishTake(WindowPort& window, const std::wstring& status) {
    window.setStatusText(status);
    isRecording = false;
    joinRecordingThread();
    recordingThreadActive = false;
    if (pendingClose) {
        pendingClose = false;
        window.destroyWindow();
    }
}

}  // namespace

std::wstring takeEndStatus() {
    switch (lastTakeOutcome.load()) {
    case TakeOutcome::Saved:
        return L"Saved to: " + savePath;
    case TakeOutcome::SizeLimit:
        return L"Stopped at the 4 GB WAV size limit. Saved to: " + savePath;
    case TakeOutcome::OutOfMemory:
        return L"Out of memory: recording stopped. Saved to: " + savePath;
    case TakeOutcome::DeviceLost:
        return L"The audio device was lost: recording stopped. Saved to: " + savePath;
    case TakeOutcome::WriteFailed:
        return L"Could not write " + savePath + L" (disk full or not writable): take not saved";
    case TakeOutcome::OpenFailed:
        return L"Cannot open file for writing: " + savePath;
    case TakeOutcome::ThreadFailed:
        return THREAD_REFUSED_TEXT;
    case TakeOutcome::DeviceFailed:
        break;
    }
    return L"Cannot open the audio capture device: nothing recorded";
}

void onStart(WindowPort& window) {
    if (isRecording || recordingThreadActive) return;
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.clear();
    }
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrumBuffer.clear();
    }
    // Modal: the end-of-take message of the previous take may be handled in
    // here, which joins its thread before a new one is stored below.
    const std::wstring path = window.browseSavePath();
    if (path.empty()) return;
    savePath = path;
    // Set before the thread exists, so that it finds it set.
    isRecording = true;
    joinRecordingThread();  // a finished thread nobody joined must not be overwritten
    try {
        recordingThread = startThread(recordAudioToWav, savePath, hwndMain, captureSourceFactory());
    } catch (const std::system_error&) {
        // As if the device had failed: nothing started, Start works as before.
        isRecording = false;
        window.showErrorBox(THREAD_REFUSED_TEXT, L"Error");
        window.setStatusText(THREAD_REFUSED_TEXT);
    }
}

void onStop() {
    if (isRecording) isRecording = false;
}

void onCommand(WindowPort& window, int controlId) {
    if (controlId == IDC_START)
        onStart(window);
    else if (controlId == IDC_STOP)
        onStop();
}

void onCloseRequest(WindowPort& window) {
    isRecording = false;
    if (recordingThreadActive) {
        window.setStatusText(L"Waiting for recording thread to finish...");
        window.enableButton(IDC_START, false);
        window.enableButton(IDC_STOP, false);
        pendingClose = true;
    } else {
        window.destroyWindow();
    }
}

void onDestroy() {
    isRecording = false;
    joinRecordingThread();
}

bool onAppMessage(WindowPort& window, uint32_t message) {
    switch (message) {
    case WM_APP_UPDATE_VISUALS:
        window.invalidatePanel(IDC_WAVEFORM);
        window.invalidatePanel(IDC_VOLUME_METER);
        window.invalidatePanel(IDC_SPECTRUM);
        return true;
    case WM_APP_RECORDING_STARTED:
        window.setStatusText(L"Recording...");
        return true;
    case WM_APP_RECORDING_DONE:
    case WM_APP_RECORDING_FAILED:
        finishTake(window, takeEndStatus());
        return true;
    default:
        return false;
    }
}
