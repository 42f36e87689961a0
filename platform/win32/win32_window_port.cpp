// Implemented features:
// - posting the data-less WM_APP_* messages to the main window from any thread
// - the ownerless error box, status line, button enabling and panel invalidation
// - destroying the main window and the Save As dialog owned by it
#include "win32_window_port.h"

#include "main_window.h"
#include "save_dialog.h"

void Win32WindowPort::postMessage(uint32_t message) { PostMessageW(window_, message, 0, 0); }

void Win32WindowPort::showErrorBox(const std::wstring& text, const std::wstring& caption) {
    // No owner: an owned box would talk to the window thread, which may be
    // joining the recording thread that shows it.
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
}

void Win32WindowPort::setStatusText(const std::wstring& text) { SetWindowTextW(hwndStatus, text.c_str()); }

void Win32WindowPort::enableButton(int controlId, bool enabled) {
    HWND button = controlWindow(controlId);
    if (button != nullptr) {
        EnableWindow(button, enabled ? TRUE : FALSE);
    }
}

void Win32WindowPort::invalidatePanel(int controlId) {
    HWND panel = controlWindow(controlId);
    if (panel != nullptr) {
        InvalidateRect(panel, nullptr, TRUE);
    }
}

void Win32WindowPort::destroyWindow() { DestroyWindow(window_); }

std::wstring Win32WindowPort::browseSavePath() { return ::browseSavePath(window_); }

bool Win32WindowPort::askYesNo(const std::wstring& text, const std::wstring& caption) {
    // No is the default button: Enter alone never lets a take go.
    return MessageBoxW(window_, text.c_str(), caption.c_str(), MB_ICONWARNING | MB_YESNO | MB_DEFBUTTON2) ==
           IDYES;
}
