// Implemented features:
// - Save As dialog proposing "output.wav", WAV and all-files filters, overwrite prompt
#include "save_dialog.h"

#include <commdlg.h>

#include <cwchar>

#include "app/window_layout.h"

static_assert(sizeof(OPENFILENAMEW) == 152, "the dialog record must have its 64-bit layout");

std::wstring browseSavePath(HWND owner) {
    wchar_t fileName[MAX_PATH] = {};
    std::wcsncpy(fileName, PROPOSED_FILE_NAME, MAX_PATH - 1);
    // Pairs of description and pattern, each ended by a NUL, the list by an empty string.
    std::wstring filter;
    for (const FileFilter& type : SAVE_FILTERS) {
        filter.append(type.description).push_back(L'\0');
        filter.append(type.pattern).push_back(L'\0');
    }

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(OPENFILENAMEW);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();  // c_str() adds the final NUL
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = MAX_PATH;
    dialog.Flags = OFN_OVERWRITEPROMPT;

    if (GetSaveFileNameW(&dialog) == 0) {
        return std::wstring();
    }
    return std::wstring(fileName);
}
