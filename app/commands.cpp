#include "app/commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwctype>

#include "base/messages.h"
#include "base/shared_state.h"
#include "base/thread_start.h"
#include "base/window_port.h"
#include "panels/panels.h"
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

void answerSave(SaveAnswer answer) {
    {
        std::lock_guard<std::mutex> lock(saveAnswerMutex);
        saveAnswer = std::move(answer);
    }
    saveAnswerCv.notify_all();
}

// "12.3 s" of a take.
std::wstring seconds(double value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%.1f s", value);
    return text;
}

// What became of the take's own file, outcome first.
std::wstring fileTrouble() {
    switch (takeFileTrouble.load()) {
    case TakeFileTrouble::Gone:
        return savePath + L" was deleted or moved";
    case TakeFileTrouble::SizeLimit:
        return savePath + L" reached the largest file its drive can hold";
    case TakeFileTrouble::WriteFailed:
    case TakeFileTrouble::None:
        break;
    }
    return L"could not write " + savePath;
}

// Where the part of the take written before the trouble is, if anywhere.
std::wstring keptPart() {
    const double kept = takeFileKeptSeconds;
    return kept > 0 ? savePath + L" keeps its first " + seconds(kept) : std::wstring();
}

// The take could not be written and waits in memory on the recording thread:
// ask until the user names a place that works or really wants it gone.
// Saving is the safe way out, so it is what Enter chooses.
void onSaveFailed(WindowPort& window) {
    window.setStatusText(takeEndStatus());
    // A session that ended meanwhile has answered for the user.
    while (recordingThreadActive) {
        std::wstring trouble = fileTrouble();
        trouble[0] = static_cast<wchar_t>(std::towupper(trouble[0]));
        if (takeFileTrouble == TakeFileTrouble::WriteFailed)
            trouble += L" (disk full, folder missing or not writable)";
        const std::wstring kept = keptPart();
        if (window.askYesNo(trouble + L"." + (kept.empty() ? L"" : L" " + kept + L".") +
                                L"\n\nThe whole take is still in memory. Save it somewhere else?",
                            L"Take not saved", true)) {
            const std::wstring path = window.browseSavePath();
            if (path.empty()) continue;
            savePath = path;
            window.setStatusText(L"Saving to: " + path);
            answerSave({{path}});
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
// beside the chosen file, else in the home, documents and temporary folders,
// each once (other file systems, when the chosen one is full or gone). The
// recording thread makes recovery names of these.
SaveAnswer recoveryPlaces(WindowPort& window) {
    const size_t slash = savePath.find_last_of(L"/\\");
    const std::wstring name = slash == std::wstring::npos ? savePath : savePath.substr(slash + 1);
    const std::wstring chosenFolder = slash == std::wstring::npos ? L"" : savePath.substr(0, slash);
    SaveAnswer answer{{savePath}, true};
    std::vector<std::wstring> folders{chosenFolder};
    for (const std::wstring& folder : window.recoveryFolders()) {
        if (folder.empty() || std::find(folders.begin(), folders.end(), folder) != folders.end()) continue;
        folders.push_back(folder);
        const wchar_t* separator = folder.find(L'\\') == std::wstring::npos ? L"/" : L"\\";
        answer.places.push_back(folder + separator + name);
    }
    return answer;
}

// The part of a refusal's status after "Nothing recorded: ".
std::wstring refusalReason(TakeOutcome refusal) {
    switch (refusal) {
    case TakeOutcome::NoDevice:
        return L"no audio capture device is connected";
    case TakeOutcome::AccessDenied:
        return L"Windows does not allow this program to use the microphone "
               L"(Settings > Privacy & security > Microphone)";
    case TakeOutcome::DeviceInUse:
        return L"the audio capture device is in use by another program";
    case TakeOutcome::FormatUnsupported:
        return L"the audio device's format is not supported";
    default:
        break;
    }
    return L"cannot open the audio capture device";
}

// "now from <device>: the <device> went away" once a reconnect found another device.
std::wstring deviceSwitch() {
    std::lock_guard<std::mutex> lock(takeDeviceMutex);
    if (takeDevices.now == takeDevices.first) return {};
    return L"now from " + takeDevices.now + L": the " + takeDevices.first + L" went away";
}

// The device that was lost, by name, and the last refusal met while waiting for it.
std::wstring deviceLost() {
    std::wstring name;
    {
        std::lock_guard<std::mutex> lock(takeDeviceMutex);
        name = takeDevices.now;
    }
    std::wstring text = name.empty() ? L"the audio device was lost: recording stopped"
                                     : L"the audio device \"" + name + L"\" was lost: recording stopped";
    if (const TakeOutcome refusal = reconnectRefusal; refusal != TakeOutcome::Saved)
        text += L"; " + refusalReason(refusal);
    return text;
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
        remarks = deviceLost();
        break;
    case TakeOutcome::RateChanged:
        remarks = L"the audio device changed its sample rate: recording stopped";
        break;
    default:
        break;
    }
    if (const std::wstring switched = deviceSwitch();
        !switched.empty() && lastTakeOutcome != TakeOutcome::DeviceLost) {
        if (!remarks.empty()) remarks += L"; ";
        remarks += switched;
    }
    if (const uint32_t gaps = inputGaps.load(); gaps != 0) {
        if (!remarks.empty()) remarks += L"; ";
        remarks += std::to_wstring(gaps) + (gaps == 1 ? L" gap in the input" : L" gaps in the input");
    }
    return remarks.empty() ? remarks : L" (" + remarks + L")";
}

// The status while a take records.
std::wstring recordingStatus() {
    if (takeFileTrouble != TakeFileTrouble::None) {
        const std::wstring kept = keptPart();
        return L"Recording... " + fileTrouble() + L": the take is kept in memory" +
               (kept.empty() ? L"" : L", " + kept);
    }
    const std::wstring switched = deviceSwitch();
    return switched.empty() ? L"Recording..." : L"Recording... " + switched;
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
    case TakeOutcome::Unsaved: {
        const std::wstring kept = keptPart();
        return L"Take not saved: no place could take it; " + (kept.empty() ? L"nothing of it is left" : kept);
    }
    case TakeOutcome::OpenFailed:
        return L"Cannot open file for writing: " + savePath;
    case TakeOutcome::ThreadFailed:
        return THREAD_REFUSED_TEXT;
    case TakeOutcome::NoDevice:
    case TakeOutcome::AccessDenied:
    case TakeOutcome::DeviceInUse:
    case TakeOutcome::FormatUnsupported:
    case TakeOutcome::DeviceFailed:
        break;
    }
    return L"Nothing recorded: " + refusalReason(lastTakeOutcome);
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
    // A close or the session's end may have come while the dialog was open.
    if (path.empty() || windowClosing) return;
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
    if (isRecording) stopRecording();
}

void onCommand(WindowPort& window, int controlId) {
    if (controlId == IDC_START)
        onStart(window);
    else if (controlId == IDC_STOP)
        onStop();
}

void onCloseRequest(WindowPort& window) {
    stopRecording();
    windowClosing = true;
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
    stopRecording();
    windowClosing = true;
    // A take that is waiting, or about to wait, for a place to be saved cannot
    // be asked about any more: its file keeps what it holds.
    if (recordingThreadActive) answerSave({{}, true});
    joinRecordingThread();
}

void onEndSession(WindowPort& window) {
    stopRecording();
    windowClosing = true;
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
        [[fallthrough]];
    case WM_APP_UPDATE_LEVEL:
        if (levelMeterOutdated()) window.invalidatePanel(IDC_VOLUME_METER);
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
