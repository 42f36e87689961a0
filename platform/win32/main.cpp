// Implemented features:
// - WinMain: the COM apartment, the main window, the console's control
//   handler, the message loop with dialog-style keyboard navigation, exit code 0
// - console-subsystem entry point that calls WinMain with the start-up show command
// - WASAPI as the capture source of every take
// - themed buttons and dialogs (Common Controls 6, requested by the manifest)
#include <windows.h>

#include <commctrl.h>

#include <cstdio>

#include "app/commands.h"
#include "base/shared_state.h"
#include "com_apartment.h"
#include "console_control.h"
#include "main_window.h"
#include "recording/output_file.h"
#include "recording/text_encoding.h"
#include "wasapi_capture_source.h"

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

// Enter and Escape would reach the window as the commands IDOK and IDCANCEL,
// whose numbers are those of Start and Stop: they stay plain keys, as in the
// Linux program, and Space presses the focused button.
bool isEnterOrEscape(const MSG& message) {
    return (message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR) &&
           (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previousInstance*/, LPSTR /*commandLine*/,
                   int showCommand) {
    // The Save As dialog and the accessibility services are COM objects; a
    // thread with windows and a message loop is a single-threaded apartment.
    const ComApartment apartment(COINIT_APARTMENTTHREADED);
    captureSourceFactory = makeWasapiCaptureSource;
    openOutputFile = openSystemOutputFile;
    // With the manifest's Common Controls 6 dependency this registers the
    // themed button class that the window's buttons are created from.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // Lives until the loop ends; by then WM_DESTROY has joined every thread that posts to it.
    MainWindow mainWindow(instance);
    if (mainWindow.handle() == nullptr) return 1;
    hwndMain = &mainWindow;
    const ConsoleControl consoleControl(mainWindow.handle());
    mainWindow.show(showCommand);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab and Shift+Tab move the focus between the buttons, Space presses one.
        if (!isEnterOrEscape(message) && IsDialogMessageW(mainWindow.handle(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    hwndMain = nullptr;
    // The session ended with a take no place could take: whoever ended it should know what is left.
    if (lastTakeOutcome == TakeOutcome::Unsaved) {
        std::fprintf(stderr, "quorvel: %s\n", ws2s(takeEndStatus()).c_str());
        return 1;
    }
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
