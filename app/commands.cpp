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

void answerSave(const std::wstring& answer) {
    {
        std::lock_guard<std::mutex> lock(saveAnswerMutex);
        saveAnswer = answer;
    }
    saveAnswerCv.notify_all();
}

// The take could not be written and waits in memory on the recording thread:
// ask until the user names a place that works or really wants it gone.
void onSaveFailed(WindowPort& window) {
    window.setStatusText(takeEndStatus());
    while (true) {
        if (window.askYesNo(L"Could not write " + savePath +
                                L" (disk full, folder missing or not writable).\n\n"
                                L"The take is still in memory. Save it somewhere else?",
                            L"Take not saved")) {
            const std::wstring path = window.browseSavePath();
            if (path.empty()) continue;
            savePath = path;
            window.setStatusText(L"Saving to: " + path);
            answerSave(path);
            return;
        }
        if (window.askYesNo(L"Discard the take? It has not been saved and will be lost.", L"Discard take")) {
            answerSave(L"");
            return;
        }
    }
}

// What went wrong on the way, after the path of a saved take.
std::wstring savedRemarks() {
    std::wstring remarks;
    switch (lastTakeOutcome.load()) {
    case TakeOutcome::SizeLimit:
        remarks = L"stopped at the 4 GB WAV size limit";
        break;
    case TakeOutcome::OutOfMemory:
        remarks = L"out of memory: recording stopped";
        break;
    case TakeOutcome::DeviceLost:
        remarks = L"the audio device was lost: recording stopped";
        break;
    default:
        break;
    }
    if (const uint32_t gaps = inputGaps.load(); gaps != 0) {
        if (!remarks.empty()) remarks += L"; ";
        remarks += std::to_wstring(gaps) + (gaps == 1 ? L" gap in the input" : L" gaps in the input");
    }
    return remarks.empty() ? remarks : L" (" + remarks + L")";
}

}  // namespace

std::wstring takeEndStatus() {
    switch (lastTakeOutcome.load()) {
    case TakeOutcome::Saved:
    case TakeOutcome::SizeLimit:
    case TakeOutcome::OutOfMemory:
    case TakeOutcome::DeviceLost:
        return L"Saved to: " + savePath + savedRemarks();
    case TakeOutcome::WriteFailed:
        return L"Take not saved: could not write " + savePath;
    case TakeOutcome::Discarded:
        return L"Take discarded: nothing saved";
    case TakeOutcome::OpenFailed:
        return L"Cannot open file for writing: " + savePath;
    case TakeOutcome::ThreadFailed:
        return THREAD_REFUSED_TEXT;
    case TakeOutcome::DeviceFailed:
        break;
    }
    return L"Nothing recorded: cannot open the audio capture device";
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
    // The emptied views show at once, not with the new take's first news.
    for (int panel : {IDC_VOLUME_METER, IDC_WAVEFORM, IDC_SPECTRUM}) window.invalidatePanel(panel);
    // Modal: the end-of-take message of the previous take may be handled in
    // here, which joins its thread before a new one is stored below.
    const std::wstring path = window.browseSavePath();
    if (path.empty()) return;
    savePath = path;
    {
        std::lock_guard<std::mutex> lock(saveAnswerMutex);
        saveAnswer.reset();  // an answer nobody took (the window was going away) is stale now
    }
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
    // A take that is waiting, or about to wait, for a place to be saved cannot
    // be asked about any more.
    if (recordingThreadActive) answerSave(L"");
    joinRecordingThread();
}

bool onAppMessage(WindowPort& window, uint32_t message) {
    switch (message) {
    case WM_APP_UPDATE_VISUALS:
        window.invalidatePanel(IDC_WAVEFORM);
        window.invalidatePanel(IDC_VOLUME_METER);
        return true;
    case WM_APP_UPDATE_SPECTRUM:
        window.invalidatePanel(IDC_SPECTRUM);
        return true;
    case WM_APP_RECORDING_STARTED:
        window.setStatusText(L"Recording...");
        return true;
    case WM_APP_RECORDING_STALLED:
        window.setStatusText(L"Recording... nothing has arrived from the device for " +
                             std::to_wstring(deviceSilentSeconds.load()) + L" s");
        return true;
    case WM_APP_SAVE_FAILED:
        onSaveFailed(window);
        return true;
    case WM_APP_RECORDING_DONE:
    case WM_APP_RECORDING_FAILED:
        finishTake(window, takeEndStatus());
        return true;
    default:
        return false;
    }
}
