#pragma once
// Implemented features: the main window with its fixed layout of two
// buttons, the status line and three panels; dispatch of posted items and
// of the close request to the core.
#include <QWidget>

#include "platform/linux/qt_window_port.h"

class QLabel;
class QPushButton;
class PanelWidget;

class MainWindow final : public QWidget {
public:
    MainWindow();

    // The port the core reaches this window through.
    QtWindowPort& port() { return port_; }

    // Window thread only, for the port.
    void setStatusText(const QString& text);
    void enableButton(int controlId, bool enabled);
    void invalidatePanel(int controlId);
    // Runs the core's destruction, hides the window and ends the event loop
    // with exit code 0. Later calls do nothing.
    void destroyForGood();

protected:
    // Qt hands every event type of ours here; the posted items are the only one.
    void customEvent(QEvent* event) override;
    // Every close request (title bar, window manager, Alt+F4) goes to the
    // core; the window closes only when the core destroys it.
    void closeEvent(QCloseEvent* event) override;

private:
    void handlePostedItem();

    QtWindowPort port_;
    QPushButton* startButton_;
    QPushButton* stopButton_;
    QLabel* status_;
    PanelWidget* volumeMeter_;
    PanelWidget* waveform_;
    PanelWidget* spectrum_;
    bool destroyed_ = false;
};
