#pragma once
// Implemented features:
// - the modal Save As dialog that asks for the path of a take, long paths included
#include <windows.h>

#include <string>

// The chosen full path, or an empty string when the user cancels. When the
// dialog itself fails (a path longer than even its long buffer, say), an
// error box owned by `owner` says so before the empty string is returned.
// Proposes "output.wav" every time.
std::wstring browseSavePath(HWND owner);
