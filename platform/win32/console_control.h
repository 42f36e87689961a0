#pragma once
// Implemented features:
// - the console's control events (the program is console-subsystem, so
//   Windows opens a console beside the window): Ctrl+C and Ctrl+Break close
//   the program as the window's close does; closing the console, logoff and
//   shutdown end a running take and finish its file before the handler
//   returns and the system ends the process
#include <windows.h>

// Installs the handler for the window's lifetime. Window thread; the handler
// itself runs on a thread the system creates for each event.
class ConsoleControl {
public:
    explicit ConsoleControl(HWND window);
    ~ConsoleControl();
    ConsoleControl(const ConsoleControl&) = delete;
    ConsoleControl& operator=(const ConsoleControl&) = delete;
};
