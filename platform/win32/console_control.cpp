#include "console_control.h"

#include <atomic>

#include "main_window.h"

namespace {

// Windows ends the process when the handler of CTRL_CLOSE_EVENT has run for
// the hung-application time-out (5 s by default; logoff and shutdown allow as
// much): the handler waits for the window thread a little less than that.
constexpr UINT END_SESSION_WAIT_MS = 4500;

// Written by the window thread, read by the handler's threads.
std::atomic<HWND> controlledWindow{nullptr};

BOOL WINAPI onConsoleControl(DWORD event) {
    const HWND window = controlledWindow.load();
    if (window == nullptr) return FALSE;  // the default handler ends the process
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
        // The process ends when this returns: the window thread finishes the take's file first.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_APP_END_SESSION, 0, 0, SMTO_NORMAL, END_SESSION_WAIT_MS, &ignored);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

}  // namespace

ConsoleControl::ConsoleControl(HWND window) {
    controlledWindow = window;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

ConsoleControl::~ConsoleControl() {
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    controlledWindow = nullptr;
}
