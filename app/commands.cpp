#include "app/commands.h"

#include <chrono>

#include "base/messages.h"
#include "base/shared_state.h"
#include "base/thread_start.h"
#include "base/window_port.h"
#include "recording/recording_thread.h"

CaptureSourceFactory captureSourceFactory;

namespace {

void joinRecordingThread() {
    if (recordingThread.joinable()) recordingThread.join();
}

// Common end of every take the window hears about: join, then close if a
// close request was waiting for this moment.
void finishTake(WindowPort& window) {
    isRecording = false;
    const bool joined = recordingThread.joinable();
    joinRecordingThread();
    recordingThreadActive = false;
    if (!takeWrittenTo.empty()) savePath = takeWrittenTo;
    window.setStatusText(takeEndStatus());
    if (joined) window.setTakeUnsaved(false);
    if (pendingClose) {
        pendingClose = false;
        window.destroyWindow();
    }
}

void answerSave(std::vector<std::wstring> places) {
    {
        std::lock_guard<std::mutex> lock(saveAnswerMutex);
        saveAnswer = std::move(places);
    }
    saveAnswerCv.notify_all();
}

// The take could not be written and waits in memory on the recording thread:
// ask until the user names a place that works or really wants it gone.
// Saving is the safe way out, so it is what Enter chooses.
void onSaveFailed(WindowPort& window) {
    window.setStatusText(takeEndStatus());
    // A session that ended meanwhile has answered for the user.
    while (recordingThreadActive) {
        if (window.askYesNo(L"Could not write " + savePath +
                                L" (disk full, folder missing or not writable).\n\n"
                                L"The take is still in memory. Save it somewhere else?",
                            L"Take not saved", true)) {
            const std::wstring path = window.browseSavePath();
            if (path.empty()) continue;
            savePath = path;
            window.setStatusText(L"Saving to: " + path);
            answerSave({path});
            return;
        }
        if (window.askYesNo(L"Discard the take? It has not been saved and will be lost.", L"Discard take",
                            false)) {
            answerSave({});
            return;
        }
    }
}

// Where a take that waits for a place goes when nobody can be asked any more:
// beside the chosen file, else in the documents folder.
std::vector<std::wstring> recoveryPlaces(WindowPort& window) {
    std::wstring name = savePath;
    const std::wstring extension = L".wav";
    if (name.size() >= extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
        name.resize(name.size() - extension.size());
    name += L".recovered.wav";
    std::vector<std::wstring> places{name};
    const std::wstring folder = window.documentsFolder();
    if (!folder.empty()) {
        const size_t slash = name.find_last_of(L"/\\");
        const wchar_t* separator = folder.find(L'\\') == std::wstring::npos ? L"/" : L"\\";
        places.push_back(folder + separator + (slash == std::wstring::npos ? name : name.substr(slash + 1)));
    }
    places.push_back(L"");  // and no further: nobody can be asked again
    return places;
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
    case TakeOutcome::RateChanged:
        remarks = L"the audio device changed its sample rate: recording stopped";
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

// The status while a take records.
std::wstring recordingStatus() {
    if (takeFileFailed) return L"Recording... could not write " + savePath + L": the take is kept in memory";
    return L"Recording...";
}

}  // namespace

std::wstring takeEndStatus() {
    switch (lastTakeOutcome.load()) {
    case TakeOutcome::Saved:
    case TakeOutcome::SizeLimit:
    case TakeOutcome::OutOfMemory:
    case TakeOutcome::DeviceLost:
    case TakeOutcome::RateChanged:
        return L"Saved to: " + savePath + savedRemarks();
    case TakeOutcome::WriteFailed:
        return L"Take not saved: could not write " + savePath;
    case TakeOutcome::Discarded:
        return L"Take discarded: nothing saved";
    case TakeOutcome::OpenFailed:
        return L"Cannot open file for writing: " + savePath;
    case TakeOutcome::ThreadFailed:
        return THREAD_REFUSED_TEXT;
    case TakeOutcome::NoDevice:
        return L"Nothing recorded: no audio capture device is connected";
    case TakeOutcome::AccessDenied:
        return L"Nothing recorded: Windows does not allow this program to use the microphone "
               L"(Settings > Privacy & security > Microphone)";
    case TakeOutcome::DeviceInUse:
        return L"Nothing recorded: the audio capture device is in use by another program";
    case TakeOutcome::FormatUnsupported:
        return L"Nothing recorded: the audio device's format is not supported";
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
    // Both set before the thread exists: it finds isRecording set, and a close
    // request right after this finds the take running and waits for its file.
    isRecording = true;
    recordingThreadActive = true;
    joinRecordingThread();  // a finished thread nobody joined must not be overwritten
    try {
        recordingThread = startThread(recordAudioToWav, savePath, hwndMain, captureSourceFactory);
    } catch (const std::system_error&) {
        // As if the device had failed: nothing started, Start works as before.
        isRecording = false;
        recordingThreadActive = false;
        window.showErrorBox(THREAD_REFUSED_TEXT, L"Error");
        window.setStatusText(THREAD_REFUSED_TEXT);
        return;
    }
    window.setTakeUnsaved(true);
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
    if (recordingThreadActive) answerSave({});
    joinRecordingThread();
}

void onEndSession(WindowPort& window) {
    isRecording = false;
    if (!recordingThreadActive && !recordingThread.joinable()) return;
    // Taken by the recording thread only if its file fails: nobody is left to
    // ask where else to put the take, and it must not be lost.
    if (recordingThreadActive) answerSave(recoveryPlaces(window));
    pendingClose = false;
    finishTake(window);
}

void onSaveSessionState() {
    if (recordingThreadActive) bringTakeFileUpToDate(std::chrono::seconds(1));
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
    case WM_APP_WRITE_FAILED:
        if (recordingThreadActive) window.setStatusText(recordingStatus());
        return true;
    case WM_APP_RECONNECTING:
        if (recordingThreadActive) window.setStatusText(L"Recording... reconnecting to the audio device");
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
        if (recordingThreadActive || recordingThread.joinable()) finishTake(window);
        return true;
    default:
        return false;
    }
}
