#pragma once
// Implemented features:
// - the main window's class, its six child controls and its window procedure
#include <windows.h>

class Win32WindowPort;

constexpr wchar_t WINDOW_CLASS_NAME[] = L"QuorvelApp";

// The child controls, created while the main window handles WM_CREATE.
// Window thread only.
extern HWND hwndStart;
extern HWND hwndStop;
extern HWND hwndStatus;
extern HWND hwndVolumeMeter;
extern HWND hwndWaveform;
extern HWND hwndSpectrum;

// The port the window procedure hands to the core; set before the window is created.
void setMainWindowPort(Win32WindowPort* port);

// The child control with this id, or null.
HWND controlWindow(int controlId);

void registerMainWindowClass(HINSTANCE instance);
HWND createMainWindow(HINSTANCE instance);

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
