// Prints what quorvel.exe shows, for the end-to-end driver (the Linux program
// has a Qt plugin that writes the same): one visible top-level window a line,
// its title, then the texts of its static and edit controls, tab-separated,
// in UTF-8. A static that elides its text in the middle is read as it shows it.
// Given a word, it does what else the driver needs of a Windows program:
//   reader    what a screen reader reads of the main window's controls, as
//             one does (MSAA): role, name, description, value a line
//   closeapp  ends the program as an installer's Restart Manager does
//   support   exits 77, saying why, if this system lacks what the program
//             uses and the driver then cannot check (dynamic annotation,
//             high contrast)
#include <windows.h>

#include <oleacc.h>

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

void addAccessible(HWND control) {
    IAccessible* object = nullptr;
    VARIANT self{}, role{};
    self.vt = VT_I4;  // CHILDID_SELF
    wchar_t roleText[64] = L"";
    if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, IID_IAccessible, (void**)&object))) return;
    if (SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4)
        GetRoleTextW(role.lVal, roleText, 64);
    shown += roleText;
    for (auto get :
         {&IAccessible::get_accName, &IAccessible::get_accDescription, &IAccessible::get_accValue}) {
        BSTR text = nullptr;
        shown += L"\t" + std::wstring((object->*get)(self, &text) == S_OK && text ? text : L"");
        SysFreeString(text);
    }
    shown += L"\n";
    object->Release();
}

// Empty when the system has both, else what it lacks. High contrast is set as it is.
std::wstring missingSupport() {
    IAccPropServices* services = nullptr;
    HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
    HIGHCONTRASTW contrast{sizeof(contrast), 0, nullptr};
    const bool annotation = SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                                       IID_IAccPropServices, (void**)&services)) &&
                            SUCCEEDED(services->SetHwndPropStr(window, DWORD(OBJID_CLIENT), CHILDID_SELF,
                                                               PROPID_ACC_VALUE, L"1%"));
    const bool contrastSet = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
                             SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(contrast), &contrast, 0);
    return std::wstring(
               annotation ? L"" : L"no dynamic annotation: the level's value and the peak are not read; ") +
           (contrastSet ? L"" : L"no SPI_SETHIGHCONTRAST: the panels are never seen in high contrast");
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    const HWND quorvel = FindWindowW(L"QuorvelApp", nullptr);
    const std::string word = argc > 1 ? argv[1] : "";
    if (word == "reader")
        for (HWND c = GetWindow(quorvel, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
            addAccessible(c);
    else if (word == "closeapp" && SendMessageW(quorvel, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP) != FALSE)
        SendMessageW(quorvel, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    else if (word == "support")
        shown = missingSupport();
    else if (word.empty())
        EnumWindows(addWindow, 0);
    std::string utf8(shown.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, shown.data(), int(shown.size()), utf8.data(),
                                    int(utf8.size()), nullptr, nullptr));
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return word == "support" && !shown.empty() ? 77 : 0;
}
