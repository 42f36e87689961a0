#pragma once
// The window port: what the core needs from the main window. Each platform
// implements it once; the tests use a recording fake.
#include <string>
#include <vector>

#include <cstdint>

class WindowPort {
public:
    virtual ~WindowPort() = default;

    // Any thread. Queues one data-less message for the window thread and
    // returns at once; messages arrive in the order they were posted.
    virtual void postMessage(uint32_t message) = 0;

    // Any thread (the recording thread uses it). Shows a modal error notice
    // with an OK button. It must never wait for the window thread, because the
    // window thread may at that moment be joining the caller; it may block the
    // caller until the user has closed the notice.
    virtual void showErrorBox(const std::wstring& text, const std::wstring& caption) = 0;

    // Window thread only from here on.
    virtual void setStatusText(const std::wstring& text) = 0;
    virtual void enableButton(int controlId, bool enabled) = 0;
    // Marks a panel for repainting; repeated requests before the paint give one paint.
    virtual void invalidatePanel(int controlId) = 0;
    // Destroys the main window; the platform calls onDestroy before this returns.
    virtual void destroyWindow() = 0;
    // Modal Save As dialog proposing "output.wav"; the chosen full path, or
    // an empty string on cancel or failure. Posted messages are still handled
    // while it is open.
    virtual std::wstring browseSavePath() = 0;
    // Modal question with Yes and No buttons, `yesIsDefault` choosing the one
    // Enter presses; true for Yes. Posted messages are still handled while it
    // is open.
    virtual bool askYesNo(const std::wstring& text, const std::wstring& caption, bool yesIsDefault) = 0;
    // True from the moment a take starts until its file is finished, saved
    // elsewhere or discarded, false then: while true the system should not
    // sleep for idleness, and a session that ends is told a take is being
    // saved. Called once for each change.
    virtual void setTakeUnsaved(bool unsaved) = 0;
    // Where a take that could not be saved where the user chose goes when
    // the session ends, after the chosen file's own folder: the home folder,
    // the documents folder and the system's temporary folder, in that order,
    // those that exist.
    virtual std::vector<std::wstring> recoveryFolders() = 0;
};
