#pragma once
// Implemented features: the modal Save As dialog and the Yes/No question,
// both over the main window. Window thread only; posted items are still
// handled while either is open.
#include <string>

class QWidget;

// Proposes "output.wav"; the chosen full path, or empty on cancel.
std::wstring askSavePath(QWidget& parent);
// True for Yes; `yesIsDefault` chooses the button Enter presses.
bool askYesNo(QWidget& parent, const std::wstring& text, const std::wstring& caption, bool yesIsDefault);
