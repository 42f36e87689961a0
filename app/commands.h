#pragma once
// The window thread's side of a take: commands, close request, end-of-take
// messages and destruction. Window thread only; every handler returns 0 to
// the platform.
#include <cstdint>
#include <string>

class WindowPort;

// WM_COMMAND with the control id in the low 16 bits of wParam.
void onCommand(WindowPort& window, int controlId);
void onStart(WindowPort& window);
void onStop();
// WM_CLOSE: ends a take first and closes once its file is written.
void onCloseRequest(WindowPort& window);
// WM_DESTROY: joins any recording thread. The platform then ends its loop.
void onDestroy();

// Handles the WM_APP_* messages; false for any other message.
bool onAppMessage(WindowPort& window, uint32_t message);

// Status line after a take, from lastTakeOutcome and savePath.
std::wstring takeEndStatus();
