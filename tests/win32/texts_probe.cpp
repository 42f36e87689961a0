// Prints what quorvel.exe shows, for the end-to-end driver (the Linux program
// has a Qt plugin that writes the same): one visible top-level window a line,
// its title, then the texts of its static and edit controls, tab-separated,
// in UTF-8.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring shown;

BOOL CALLBACK addControlText(HWND control, LPARAM) {
    wchar_t className[16] = {}, text[1024] = {};
    GetClassNameW(control, className, 16);
    if (lstrcmpiW(className, L"Static") != 0 && lstrcmpiW(className, L"Edit") != 0) return TRUE;
    // Asked by message: an edit's text lives in its own process, and a window
    // whose thread does not answer within the time limit shows no text at all.
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 1024, LPARAM(text), SMTO_NORMAL, 5000, &copied);
    if (text[0] != 0) shown += std::wstring(L"\t") + text;
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
