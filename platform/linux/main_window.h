#pragma once
// Implemented features: the main window with its fixed layout of two
// buttons, the status line and three panels; the core's window port itself
// (posted items, dialogs, the sleep inhibitor of an unsaved take); dispatch
// of posted items and of the close request to the core.
#include <QWidget>

#include <memory>

#include "base/window_port.h"
#include "platform/linux/posted_items.h"

class QLabel;
class QPushButton;
class PanelWidget;
class SleepInhibitor;

class MainWindow final : public QWidget, public WindowPort {
public:
    MainWindow();
    ~MainWindow() override;

    // Any thread; neither waits for the window thread.
    void postMessage(uint32_t message) override;
    // The window thread shows the box when it gets to it.
    void showErrorBox(const std::wstring& text, const std::wstring& caption) override;

    void setStatusText(const std::wstring& text) override;
    void enableButton(int controlId, bool enabled) override;
    void invalidatePanel(int controlId) override;
    // Runs the core's destruction, hides the window and ends the event loop
    // with exit code 0. Later calls do nothing.
    void destroyWindow() override;
    std::wstring browseSavePath() override;
    bool askYesNo(const std::wstring& text, const std::wstring& caption, bool yesIsDefault) override;
    void setTakeUnsaved(bool unsaved) override;
    // Home, documents and temporary folders, those that exist.
    std::vector<std::wstring> recoveryFolders() override;

protected:
    // Qt hands every event type of ours here; the posted items are the only one.
    void customEvent(QEvent* event) override;
    // Every close request (title bar, window manager, Alt+F4) goes to the
    // core; the window closes only when the core destroys it.
    void closeEvent(QCloseEvent* event) override;

private:
    PostedItems posted_;
    QPushButton* startButton_;
    QPushButton* stopButton_;
    QLabel* status_;
    PanelWidget* volumeMeter_;
    PanelWidget* waveform_;
    PanelWidget* spectrum_;
    // Held from Start until the take's file is finished.
    std::unique_ptr<SleepInhibitor> sleepInhibitor_;
    bool destroyed_ = false;
};
