#include "save_dialog.h"

#include <commdlg.h>

#include <cwchar>
#include <vector>

#include "app/window_layout.h"

static_assert(sizeof(OPENFILENAMEW) == 152, "the dialog record must have its 64-bit layout");

namespace {

// The longest path Windows handles, in characters with its final NUL; the
// manifest declares the program long-path aware.
constexpr DWORD PATH_BUFFER_LENGTH = 32768;

}  // namespace

std::wstring browseSavePath(HWND owner) {
    std::vector<wchar_t> fileName(PATH_BUFFER_LENGTH, L'\0');
    std::wcsncpy(fileName.data(), PROPOSED_FILE_NAME, fileName.size() - 1);
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
    dialog.lpstrFile = fileName.data();
    dialog.nMaxFile = PATH_BUFFER_LENGTH;
    // A name typed without an extension gets ".wav" whichever type is chosen:
    // "All files" has no extension of its own to give it.
    dialog.lpstrDefExt = L"wav";
    // The folder browsed to stays the dialog's: the process's current
    // directory would otherwise keep it open (and undeletable) until exit.
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;

    if (GetSaveFileNameW(&dialog) != 0) return std::wstring(fileName.data());
    // Zero for a cancel; any other code is a failure the user must hear of.
    if (const DWORD error = CommDlgExtendedError(); error != 0) {
        wchar_t text[160];
        std::swprintf(text, 160,
                      L"The Save As dialog failed (error 0x%04lX): try a shorter path or another name.",
                      static_cast<unsigned long>(error));
        MessageBoxW(owner, text, L"Error", MB_ICONERROR | MB_OK);
    }
    return std::wstring();
}
