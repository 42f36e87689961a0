// Implemented features:
// - reads what the end-to-end test cannot see through X: the main window's
//   status line, whether its two buttons are enabled, the text of the error
//   box and the file name that the Save As dialog proposes
//
// usage: window_probe.exe status | buttons | errorbox | savename
// Prints one UTF-8 line; exit code 2 when the window asked about does not exist.
#include <windows.h>

#include <dlgs.h>

#include <cstdio>
#include <string>

namespace {

HWND findMainWindow() { return FindWindowW(L"QuorvelApp", L"Quorvel: Thread-Safe GUI 64K FFT"); }

// The status line is the one child without a control id.
BOOL CALLBACK findStatus(HWND child, LPARAM result) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (GetDlgCtrlID(child) == 0 && lstrcmpiW(className, L"Static") == 0) {
        *reinterpret_cast<HWND*>(result) = child;
        return FALSE;
    }
    return TRUE;
}

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

// Concatenates the texts of a message box's static controls (icon and message).
BOOL CALLBACK collectStaticText(HWND child, LPARAM result) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (lstrcmpiW(className, L"Static") == 0) {
        wchar_t text[1024] = {};
        GetWindowTextW(child, text, 1024);
        *reinterpret_cast<std::wstring*>(result) += text;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "savename") {
        HWND dialog = FindWindowW(L"#32770", L"Save As");
        if (dialog == nullptr) {
            std::puts("no window");
            return 2;
        }
        // The file-name box is combo cmb13 in the explorer-style dialog. Asked
        // by message, with a time limit, because an edit's text lives in its process.
        HWND nameBox = GetDlgItem(dialog, cmb13);
        if (nameBox == nullptr) nameBox = GetDlgItem(dialog, edt1);
        wchar_t text[1024] = {};
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(nameBox, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                            &copied);
        std::printf("%s\n", toUtf8(text).c_str());
        return 0;
    }
    if (what == "errorbox") {
        HWND box = FindWindowW(L"#32770", L"Error");
        if (box == nullptr) {
            std::puts("no window");
            return 2;
        }
        std::wstring text;
        EnumChildWindows(box, collectStaticText, reinterpret_cast<LPARAM>(&text));
        std::printf("%s\n", toUtf8(text).c_str());
        return 0;
    }
    HWND window = findMainWindow();
    if (window == nullptr) {
        std::puts("no window");
        return 2;
    }
    if (what == "status") {
        HWND status = nullptr;
        EnumChildWindows(window, findStatus, reinterpret_cast<LPARAM>(&status));
        // GetWindowTextW does not wait for the window's thread, which may be busy joining a take.
        wchar_t text[1024] = {};
        if (status != nullptr) GetWindowTextW(status, text, 1024);
        std::printf("%s\n", toUtf8(text).c_str());
        return 0;
    }
    if (what == "buttons") {
        std::printf("start=%s stop=%s\n", IsWindowEnabled(GetDlgItem(window, 1)) ? "enabled" : "disabled",
                    IsWindowEnabled(GetDlgItem(window, 2)) ? "enabled" : "disabled");
        return 0;
    }
    std::puts("usage: window_probe status|buttons");
    return 1;
}
