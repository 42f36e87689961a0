// Implemented features:
// - Save As dialog proposing "output.wav", WAV and all-files filters, overwrite prompt
#include "save_dialog.h"

#include <commdlg.h>

static_assert(sizeof(OPENFILENAMEW) == 152, "the dialog record must have its 64-bit layout");

std::wstring browseSavePath(HWND owner) {
    wchar_t fileName[MAX_PATH] = L"output.wav";

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(OPENFILENAMEW);
    dialog.hwndOwner = owner;
    // Pairs of description and pattern, the list ended by an empty string.
    dialog.lpstrFilter = L"WAV files\0*.wav\0All files\0*.*\0\0";
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = MAX_PATH;
    // No default extension: a name typed without ".wav" is used as typed.
    dialog.Flags = OFN_OVERWRITEPROMPT;

    if (GetSaveFileNameW(&dialog) == 0) {
        return std::wstring();
    }
    return std::wstring(fileName);
}
