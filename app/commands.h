#pragma once
// The window thread's side of a take: commands, close request, end-of-take
// messages and destruction. Window thread only; every handler returns 0 to
// the platform.
#include <cstdint>
#include <string>

#include "recording/capture_source.h"

class WindowPort;

// Makes the capture source of each take (on its recording thread). Set by the
// platform before the window exists.
extern CaptureSourceFactory captureSourceFactory;

// WM_COMMAND with the control id in the low 16 bits of wParam.
void onCommand(WindowPort& window, int controlId);
void onStart(WindowPort& window);
void onStop();
// WM_CLOSE: ends a take first and closes once its file is written.
void onCloseRequest(WindowPort& window);
// WM_DESTROY: joins any recording thread. The platform then ends its loop.
void onDestroy();

// The session or the system is ending the program (logoff, shutdown, a
// console closed, SIGTERM): ends a running take at once and returns once its
// file is finished. A take that waits for a place after a failed save is
// saved next to the chosen file as "<name>.recovered.wav", else in the
// documents folder. The window stays; the caller ends the program.
void onEndSession(WindowPort& window);
// The session asks programs to save their data but may still be cancelled:
// the take's file is brought up to date (every sample so far and its header)
// and the take goes on. Returns once that is done, or after a second at most.
void onSaveSessionState();

// Handles the WM_APP_* messages; false for any other message.
bool onAppMessage(WindowPort& window, uint32_t message);

// Status line after a take, from lastTakeOutcome and savePath.
std::wstring takeEndStatus();
