// Implemented features:
// - window class "QuorvelApp" and the fixed-size main window
// - the two buttons, the status line and the three owner-drawn panels
// - WndProc: create, destroy, close, owner draw, commands and the WM_APP_* messages
#include "main_window.h"

#include "app/commands.h"
#include "base/messages.h"
#include "app/window_layout.h"
#include "gdi_canvas.h"
#include "panels/panels.h"
#include "resource_ids.h"
#include "win32_window_port.h"

HWND hwndStart = nullptr;
HWND hwndStop = nullptr;
HWND hwndStatus = nullptr;
HWND hwndVolumeMeter = nullptr;
HWND hwndWaveform = nullptr;
HWND hwndSpectrum = nullptr;

static_assert(WM_APP == WM_APP_BASE, "posted message numbers are offsets from WM_APP");

namespace {

Win32WindowPort* mainPort = nullptr;

constexpr DWORD CHILD_STYLE = WS_CHILD | WS_VISIBLE;

HWND createControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int x, int y,
                   int width, int height, int controlId) {
    return CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), nullptr, nullptr);
}

// Where the handle of each child control is kept; null for an unknown id.
HWND* controlSlot(int controlId) {
    switch (controlId) {
    case IDC_START:
        return &hwndStart;
    case IDC_STOP:
        return &hwndStop;
    case IDC_STATUS:
        return &hwndStatus;
    case IDC_VOLUME_METER:
        return &hwndVolumeMeter;
    case IDC_WAVEFORM:
        return &hwndWaveform;
    case IDC_SPECTRUM:
        return &hwndSpectrum;
    default:
        return nullptr;
    }
}

void createControls(HWND window) {
    for (const ControlLayout& control : MAIN_WINDOW_CONTROLS) {
        const bool button = control.controlId == IDC_START || control.controlId == IDC_STOP;
        // A long status is cut in its middle, so its outcome and the file name stay readable.
        const DWORD style = button ? BS_PUSHBUTTON : control.text ? SS_LEFT | SS_PATHELLIPSIS : SS_OWNERDRAW;
        *controlSlot(control.controlId) =
            createControl(window, button ? L"BUTTON" : L"STATIC", control.text, CHILD_STYLE | style,
                          control.x, control.y, control.width, control.height, control.controlId);
    }
}

LRESULT drawItem(WPARAM controlId, const DRAWITEMSTRUCT& item) {
    GdiCanvas canvas(item.hDC);
    const Rect rect{item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
    return drawPanel(static_cast<int>(controlId), canvas, rect) ? TRUE : FALSE;
}

}  // namespace

void setMainWindowPort(Win32WindowPort* port) { mainPort = port; }

HWND controlWindow(int controlId) {
    HWND* slot = controlSlot(controlId);
    return slot ? *slot : nullptr;
}

void registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUORVEL));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = WINDOW_CLASS_NAME;
    RegisterClassW(&windowClass);
}

HWND createMainWindow(HINSTANCE instance) {
    return CreateWindowExW(0, WINDOW_CLASS_NAME, WINDOW_CAPTION, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, WINDOW_WIDTH, WINDOW_HEIGHT, nullptr, nullptr, instance, nullptr);
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        createControls(window);
        mainPort->attach(window);
        return 0;
    case WM_DESTROY:
        onDestroy();
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        // Never to DefWindowProcW: the window closes only once a running take is written.
        onCloseRequest(*mainPort);
        return 0;
    case WM_DRAWITEM:
        return drawItem(wParam, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_COMMAND:
        onCommand(*mainPort, LOWORD(wParam));
        return 0;
    default:
        if (message >= WM_APP && onAppMessage(*mainPort, message)) {
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
