// Prints what quorvel.exe shows, for the end-to-end driver (the Linux program
// has a Qt plugin that writes the same): one visible top-level window a line,
// its title, then the texts of its static and edit controls, tab-separated,
// in UTF-8. A static that elides its text in the middle is read as it shows it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring shown;

// What a static with SS_PATHELLIPSIS shows of its text: measured, not drawn,
// with its own font (the system font when it was given none) in its width.
// DT_MODIFYSTRING may lengthen the string by up to four characters.
std::wstring pathElided(HWND control, const wchar_t* text) {
    DWORD_PTR font = 0;
    SendMessageTimeoutW(control, WM_GETFONT, 0, 0, SMTO_NORMAL, 5000, &font);
    RECT rect{};
    GetClientRect(control, &rect);
    std::wstring elided = std::wstring(text).append(4, L'\0');
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font != 0 ? HGDIOBJ(font) : GetStockObject(SYSTEM_FONT));
    DrawTextW(dc, elided.data(), -1, &rect, DT_CALCRECT | DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    SelectObject(dc, old);
    DeleteDC(dc);
    return elided.c_str();
}

BOOL CALLBACK addControlText(HWND control, LPARAM) {
    wchar_t className[16] = {}, text[1024] = {};
    GetClassNameW(control, className, 16);
    if (lstrcmpiW(className, L"Static") != 0 && lstrcmpiW(className, L"Edit") != 0) return TRUE;
    // Asked by message: an edit's text lives in its own process, and a window
    // whose thread does not answer within the time limit shows no text at all.
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 1024, LPARAM(text), SMTO_NORMAL, 5000, &copied);
    const bool path = (GetWindowLongW(control, GWL_STYLE) & SS_ELLIPSISMASK) == SS_PATHELLIPSIS;
    if (text[0] != 0) shown += L"\t" + (path ? pathElided(control, text) : std::wstring(text));
    return TRUE;
}

BOOL CALLBACK addWindow(HWND window, LPARAM) {
    wchar_t title[256] = {};
    if (!IsWindowVisible(window) || GetWindowTextW(window, title, 256) == 0) return TRUE;
    shown += title;
    EnumChildWindows(window, addControlText, 0);
    shown += L"\n";
    return TRUE;
}

}  // namespace

int main() {
    EnumWindows(addWindow, 0);
    std::string utf8(shown.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, shown.data(), int(shown.size()), utf8.data(),
                                    int(utf8.size()), nullptr, nullptr));
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
}
