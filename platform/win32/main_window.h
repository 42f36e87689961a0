#pragma once
// Implemented features:
// - window class "QuorvelApp" and the fixed-size main window: two buttons, the
//   status line and three owner-drawn panels named for screen readers
// - WndProc: create, destroy, close, owner draw, commands, the WM_APP_*
//   messages and the end of the session (WM_QUERYENDSESSION, WM_ENDSESSION;
//   closed after the take when an installer or an update asks, ENDSESSION_CLOSEAPP)
// - the panels in the system's colours while high contrast is on, following
//   every change of the setting
// - for screen readers: the level meter as a progress bar whose value is the
//   level in percent, refreshed at most every 250 ms; the spectrum's peak
//   label as its description
// - keyboard: both buttons are tab stops; the focus starts on Start and goes
//   back to the last focused button whenever the window is active again
// - the core's WindowPort: posting from any thread, boxes, Save As, status,
//   buttons, panels, no idle sleep and a shutdown block reason while a take
//   is unsaved, the documents folder
#include <windows.h>

#include <string>

#include "accessible_annotation.h"
#include "base/window_port.h"
#include "panel_buffer.h"

// Sent, never posted, by a thread that must not return before a running
// take's file is finished (the console's control handler): the window thread
// ends the take as for WM_ENDSESSION and then answers 0.
constexpr UINT WM_APP_END_SESSION = WM_APP + 0x100;

class MainWindow final : public WindowPort {
public:
    // Registers the class and creates the window with its controls, not yet
    // shown. The calling thread becomes the window thread: it must run the
    // message loop, and every member below except postMessage and
    // showErrorBox is for it alone.
    explicit MainWindow(HINSTANCE instance);
    // Destroys the window if the loop ended without it.
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Null once the window is destroyed.
    HWND handle() const { return window_; }
    // First display, with the focus on Start.
    void show(int showCommand);

    void postMessage(uint32_t message) override;
    void showErrorBox(const std::wstring& text, const std::wstring& caption) override;
    void setStatusText(const std::wstring& text) override;
    void enableButton(int controlId, bool enabled) override;
    void invalidatePanel(int controlId) override;
    void destroyWindow() override;
    std::wstring browseSavePath() override;
    bool askYesNo(const std::wstring& text, const std::wstring& caption, bool yesIsDefault) override;
    void setTakeUnsaved(bool unsaved) override;
    std::vector<std::wstring> recoveryFolders() override;

private:
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    // The palette for the current colour setting, and the panels repainted in it.
    void updatePalette();
    // The level meter's value for screen readers, "0%" to "100%".
    void publishLevelValue();
    // The child control with this id (IDC_STATUS for the status line), or null.
    HWND control(int controlId) const;

    // Set while WM_NCCREATE is handled, before any other thread exists, and
    // cleared at WM_NCDESTROY, after WM_DESTROY has joined them all: the
    // recording thread and the spectrum worker read it when they post.
    HWND window_ = nullptr;
    // The child controls, created while the window handles WM_CREATE.
    HWND hwndStart = nullptr;
    HWND hwndStop = nullptr;
    HWND hwndStatus = nullptr;
    HWND hwndVolumeMeter = nullptr;
    HWND hwndWaveform = nullptr;
    HWND hwndSpectrum = nullptr;
    // The button that had the focus when the window was last deactivated.
    HWND lastFocus_ = nullptr;
    PanelBuffer panelBuffer_;
    PanelPalette palette_ = DEFAULT_PANEL_PALETTE;
    AccessibleAnnotation levelAnnotation_;
    AccessibleAnnotation spectrumAnnotation_;
    // Set from a level change until the level's value is next given to screen readers.
    bool levelValueDue_ = false;
};
