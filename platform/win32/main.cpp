// Implemented features:
// - WinMain: class registration, the main window, the message loop, exit code 0
// - console-subsystem entry point that calls WinMain with the start-up show command
// - WASAPI as the capture source of every take
// - themed buttons and dialogs (Common Controls 6, requested by the manifest)
#include <windows.h>

#include <commctrl.h>

#include "base/shared_state.h"
#include "main_window.h"
#include "wasapi_capture_source.h"
#include "win32_window_port.h"

namespace {

// The command line after the program name, as WinMain expects it.
LPSTR commandLineArguments() {
    LPSTR line = GetCommandLineA();
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"') {
            ++line;
        }
        if (*line == '"') {
            ++line;
        }
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t') {
            ++line;
        }
    }
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    return line;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previousInstance*/, LPSTR /*commandLine*/,
                   int showCommand) {
    // Lives until the loop ends; by then WM_DESTROY has joined every thread that posts to it.
    Win32WindowPort mainWindow;
    captureSourceFactory = makeWasapiCaptureSource;
    hwndMain = &mainWindow;
    setMainWindowPort(&mainWindow);

    // With the manifest's Common Controls 6 dependency this registers the
    // themed button class that the window's buttons are created from.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    registerMainWindowClass(instance);
    HWND window = createMainWindow(instance);
    mainWindow.attach(window);
    ShowWindow(window, showCommand);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    hwndMain = nullptr;
    setMainWindowPort(nullptr);
    return 0;
}

int main() {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int showCommand =
        (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
    return WinMain(GetModuleHandleW(nullptr), nullptr, commandLineArguments(), showCommand);
}
