#pragma once
// Implemented features:
// - the core's WindowPort over the main window and its child controls
#include <windows.h>

#include "base/window_port.h"

class Win32WindowPort final : public WindowPort {
public:
    // The main window: set while it handles WM_CREATE, so that the core can
    // reach it before CreateWindowExW returns, and again when that call returns.
    void attach(HWND window) { window_ = window; }
    HWND window() const { return window_; }

    void postMessage(uint32_t message) override;
    void showErrorBox(const std::wstring& text, const std::wstring& caption) override;
    void setStatusText(const std::wstring& text) override;
    void enableButton(int controlId, bool enabled) override;
    void invalidatePanel(int controlId) override;
    void destroyWindow() override;
    std::wstring browseSavePath() override;
    bool askYesNo(const std::wstring& text, const std::wstring& caption) override;

private:
    // Read by the recording thread and the spectrum worker when they post;
    // written only before they exist and after they have been joined.
    HWND window_ = nullptr;
};
