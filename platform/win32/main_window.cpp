#include "main_window.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <memory>

#include "app/commands.h"
#include "app/window_layout.h"
#include "base/messages.h"
#include "panel_palette.h"
#include "panels/panels.h"
#include "resource_ids.h"
#include "save_dialog.h"

static_assert(WM_APP == WM_APP_BASE, "posted message numbers are offsets from WM_APP");
static_assert(WM_APP_END_SESSION > WM_APP_RECONNECTING, "the window's own message follows the core's");

namespace {

constexpr wchar_t WINDOW_CLASS_NAME[] = L"QuorvelApp";
// Shown by the system beside the program while a take keeps it from shutting down.
constexpr wchar_t SHUTDOWN_BLOCK_REASON[] = L"Saving the take";
// The timer that gives the level's value to screen readers at most four times a second.
constexpr UINT_PTR LEVEL_VALUE_TIMER = 1;
constexpr UINT LEVEL_VALUE_PERIOD_MS = 250;

// The text of a child control: the layout's for the buttons and the status
// line; a panel's is never drawn and serves as its name for screen readers.
const wchar_t* controlText(const ControlLayout& control) {
    switch (control.controlId) {
    case IDC_VOLUME_METER:
        return LEVEL_PANEL_NAME;
    case IDC_WAVEFORM:
        return WAVEFORM_PANEL_NAME;
    case IDC_SPECTRUM:
        return SPECTRUM_PANEL_NAME;
    default:
        return control.text;
    }
}

DWORD controlStyle(int controlId) {
    switch (controlId) {
    case IDC_START:
    case IDC_STOP:
        return BS_PUSHBUTTON | WS_TABSTOP;
    case IDC_STATUS:
        // A long status is cut in its middle, so its outcome and the file name stay readable.
        return SS_LEFT | SS_PATHELLIPSIS;
    default:
        return SS_OWNERDRAW;
    }
}

struct CoTaskMemFreeDeleter {
    void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUORVEL));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = WINDOW_CLASS_NAME;
    RegisterClassW(&windowClass);
    CreateWindowExW(0, WINDOW_CLASS_NAME, WINDOW_CAPTION, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                    WINDOW_WIDTH, WINDOW_HEIGHT, nullptr, nullptr, instance, this);
}

MainWindow::~MainWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
}

void MainWindow::show(int showCommand) {
    ShowWindow(window_, showCommand);
    SetFocus(hwndStart);
}

LRESULT CALLBACK MainWindow::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    // Null for the few messages that come before WM_NCCREATE.
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = self->handleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) self->window_ = nullptr;
    return result;
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        createControls();
        palette_ = currentPanelPalette();
        levelAnnotation_.setRole(hwndVolumeMeter, ROLE_SYSTEM_PROGRESSBAR);
        publishLevelValue();
        return 0;
    case WM_DESTROY:
        KillTimer(window_, LEVEL_VALUE_TIMER);
        levelAnnotation_.clear(hwndVolumeMeter);
        spectrumAnnotation_.clear(hwndSpectrum);
        onDestroy();
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        // Never to DefWindowProcW: the window closes only once a running take is written.
        onCloseRequest(*this);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The process may end as soon as this returns: the take's file is finished first.
        if (wParam != FALSE) onEndSession(*this);
        // An installer or an update (the Restart Manager) ends this program
        // alone, and the session goes on: the program closes itself, as after
        // the user's close, and exits 0.
        if (wParam != FALSE && (lParam & ENDSESSION_CLOSEAPP) != 0) DestroyWindow(window_);
        return 0;
    case WM_APP_END_SESSION:
        onEndSession(*this);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus == hwndStart || focus == hwndStop) lastFocus_ = focus;
        }
        break;  // on activation DefWindowProcW focuses the window, which passes it on below
    case WM_SETFOCUS:
        SetFocus(lastFocus_ != nullptr ? lastFocus_ : hwndStart);
        return 0;
    case WM_DRAWITEM: {
        const int controlId = static_cast<int>(wParam);
        const bool panel =
            controlId == IDC_VOLUME_METER || controlId == IDC_WAVEFORM || controlId == IDC_SPECTRUM;
        return panel && panelBuffer_.paint(controlId, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam),
                                           palette_)
                   ? TRUE
                   : FALSE;
    }
    case WM_COMMAND:
        onCommand(*this, LOWORD(wParam));
        return 0;
    case WM_SYSCOLORCHANGE:
        updatePalette();
        break;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETHIGHCONTRAST) updatePalette();
        break;
    case WM_TIMER:
        if (wParam != LEVEL_VALUE_TIMER) break;
        KillTimer(window_, LEVEL_VALUE_TIMER);
        levelValueDue_ = false;
        publishLevelValue();
        return 0;
    default:
        if (message >= WM_APP && onAppMessage(*this, message)) {
            if (message == WM_APP_UPDATE_SPECTRUM)
                spectrumAnnotation_.setText(hwndSpectrum, PROPID_ACC_DESCRIPTION, peakLabel());
            // The level changes with every packet: its value follows a little later, in one step.
            if ((message == WM_APP_UPDATE_VISUALS || message == WM_APP_UPDATE_LEVEL) && !levelValueDue_)
                levelValueDue_ = SetTimer(window_, LEVEL_VALUE_TIMER, LEVEL_VALUE_PERIOD_MS, nullptr) != 0;
            return 0;
        }
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::createControls() {
    for (const ControlLayout& control : MAIN_WINDOW_CONTROLS) {
        const bool button = control.controlId == IDC_START || control.controlId == IDC_STOP;
        const HWND child = CreateWindowExW(0, button ? L"BUTTON" : L"STATIC", controlText(control),
                                           WS_CHILD | WS_VISIBLE | controlStyle(control.controlId), control.x,
                                           control.y, control.width, control.height, window_,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.controlId)),
                                           nullptr, nullptr);
        switch (control.controlId) {
        case IDC_START:
            hwndStart = child;
            break;
        case IDC_STOP:
            hwndStop = child;
            break;
        case IDC_STATUS:
            hwndStatus = child;
            break;
        case IDC_VOLUME_METER:
            hwndVolumeMeter = child;
            break;
        case IDC_WAVEFORM:
            hwndWaveform = child;
            break;
        case IDC_SPECTRUM:
            hwndSpectrum = child;
            break;
        }
    }
}

void MainWindow::updatePalette() {
    palette_ = currentPanelPalette();
    for (const int panel : {IDC_VOLUME_METER, IDC_WAVEFORM, IDC_SPECTRUM}) invalidatePanel(panel);
}

void MainWindow::publishLevelValue() {
    levelAnnotation_.setText(hwndVolumeMeter, PROPID_ACC_VALUE, std::to_wstring(levelPercent()) + L"%");
}

HWND MainWindow::control(int controlId) const {
    switch (controlId) {
    case IDC_START:
        return hwndStart;
    case IDC_STOP:
        return hwndStop;
    case IDC_STATUS:
        return hwndStatus;
    case IDC_VOLUME_METER:
        return hwndVolumeMeter;
    case IDC_WAVEFORM:
        return hwndWaveform;
    case IDC_SPECTRUM:
        return hwndSpectrum;
    default:
        return nullptr;
    }
}

void MainWindow::postMessage(uint32_t message) { PostMessageW(window_, message, 0, 0); }

void MainWindow::showErrorBox(const std::wstring& text, const std::wstring& caption) {
    // No owner: an owned box would talk to the window thread, which may be
    // joining the recording thread that shows it.
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
}

void MainWindow::setStatusText(const std::wstring& text) { SetWindowTextW(hwndStatus, text.c_str()); }

void MainWindow::enableButton(int controlId, bool enabled) {
    if (const HWND button = control(controlId); button != nullptr)
        EnableWindow(button, enabled ? TRUE : FALSE);
}

void MainWindow::invalidatePanel(int controlId) {
    // No erase: the paint covers the whole panel in one copy.
    if (const HWND panel = control(controlId); panel != nullptr) InvalidateRect(panel, nullptr, FALSE);
}

void MainWindow::destroyWindow() { DestroyWindow(window_); }

std::wstring MainWindow::browseSavePath() { return ::browseSavePath(window_); }

bool MainWindow::askYesNo(const std::wstring& text, const std::wstring& caption, bool yesIsDefault) {
    const UINT defaultButton = yesIsDefault ? MB_DEFBUTTON1 : MB_DEFBUTTON2;
    return MessageBoxW(window_, text.c_str(), caption.c_str(), MB_ICONWARNING | MB_YESNO | defaultButton) ==
           IDYES;
}

void MainWindow::setTakeUnsaved(bool unsaved) {
    // Both must come from the thread that created the window.
    if (unsaved) {
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        ShutdownBlockReasonCreate(window_, SHUTDOWN_BLOCK_REASON);
    } else {
        SetThreadExecutionState(ES_CONTINUOUS);
        ShutdownBlockReasonDestroy(window_);
    }
}

std::vector<std::wstring> MainWindow::recoveryFolders() {
    std::vector<std::wstring> folders;
    for (const KNOWNFOLDERID& known : {FOLDERID_Profile, FOLDERID_Documents}) {
        wchar_t* path = nullptr;
        const HRESULT result = SHGetKnownFolderPath(known, KF_FLAG_DEFAULT, nullptr, &path);
        // Freed whether the call succeeded or not.
        const std::unique_ptr<wchar_t, CoTaskMemFreeDeleter> owned(path);
        if (SUCCEEDED(result) && path != nullptr) folders.emplace_back(path);
    }
    wchar_t temp[MAX_PATH + 1];
    if (const DWORD length = GetTempPathW(MAX_PATH + 1, temp); length != 0 && length <= MAX_PATH) {
        std::wstring folder(temp, length);
        if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        folders.push_back(folder);
    }
    return folders;
}
