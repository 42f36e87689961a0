#pragma once
// Implemented features:
// - the modal Save As dialog that asks for the path of a take
#include <windows.h>

#include <string>

// The chosen full path, or an empty string when the user cancels or the
// dialog fails. Proposes "output.wav" every time.
std::wstring browseSavePath(HWND owner);
