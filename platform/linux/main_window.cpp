// Implemented features:
//  - caption, controls, texts and pixel positions as the Windows build has
//    them; positions stay put when the window is resized
//  - client area of 384 x 231, the client area of a 400 x 270 Windows frame
//  - button clicks as commands, posted items as WM_APP_* messages or error
//    boxes, the close request through the core
//  - the window port: status, buttons, repaints, dialogs, destruction, the
//    sleep inhibitor and the documents folder
#include "platform/linux/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

#include <map>

#include "app/commands.h"
#include "app/window_layout.h"
#include "base/messages.h"
#include "platform/linux/dialogs.h"
#include "platform/linux/panel_widget.h"
#include "platform/linux/sleep_inhibitor.h"

MainWindow::MainWindow()
    : posted_(*this),
      startButton_(new QPushButton(this)),
      stopButton_(new QPushButton(this)),
      status_(new QLabel(this)),
      volumeMeter_(new PanelWidget(IDC_VOLUME_METER, this)),
      waveform_(new PanelWidget(IDC_WAVEFORM, this)),
      spectrum_(new PanelWidget(IDC_SPECTRUM, this)) {
    setWindowTitle(QString::fromWCharArray(WINDOW_CAPTION));
    resize(CLIENT_WIDTH, CLIENT_HEIGHT);

    const std::map<int, QWidget*> controls{{IDC_START, startButton_}, {IDC_STOP, stopButton_},
                                           {IDC_STATUS, status_},     {IDC_VOLUME_METER, volumeMeter_},
                                           {IDC_WAVEFORM, waveform_}, {IDC_SPECTRUM, spectrum_}};
    for (const ControlLayout& control : MAIN_WINDOW_CONTROLS) {
        controls.at(control.controlId)->setGeometry(control.x, control.y, control.width, control.height);
        if (!control.text) continue;
        const QString text = QString::fromWCharArray(control.text);
        if (control.controlId == IDC_STATUS)
            status_->setText(text);
        else
            static_cast<QPushButton*>(controls.at(control.controlId))->setText(text);
    }
    status_->setTextFormat(Qt::PlainText);  // a path is never markup
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Plain push buttons: no default button, nothing triggered by Enter.
    for (QPushButton* button : {startButton_, stopButton_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(startButton_, &QPushButton::clicked, this, [this] { onCommand(*this, IDC_START); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { onCommand(*this, IDC_STOP); });
}

MainWindow::~MainWindow() = default;

void MainWindow::postMessage(uint32_t message) { posted_.post(PostedItem{message, false, {}, {}}); }

void MainWindow::showErrorBox(const std::wstring& text, const std::wstring& caption) {
    posted_.post(PostedItem{0, true, text, caption});
}

// A long status is cut in its middle, so its outcome and the file name stay
// readable; the whole text is the tooltip.
void MainWindow::setStatusText(const std::wstring& text) {
    const QString shown = QString::fromStdWString(text);
    status_->setToolTip(shown);
    status_->setText(status_->fontMetrics().elidedText(shown, Qt::ElideMiddle, status_->width()));
}

void MainWindow::enableButton(int controlId, bool enabled) {
    if (controlId == IDC_START) startButton_->setEnabled(enabled);
    if (controlId == IDC_STOP) stopButton_->setEnabled(enabled);
}

// Painted at once rather than at the event loop's next turn: the core asks
// only as often as a panel may be repainted, and the turn would cost the
// window thread a wake-up of its own event queue each time.
void MainWindow::invalidatePanel(int controlId) {
    if (controlId == IDC_VOLUME_METER) volumeMeter_->repaint();
    if (controlId == IDC_WAVEFORM) waveform_->repaint();
    if (controlId == IDC_SPECTRUM) spectrum_->repaint();
}

void MainWindow::destroyWindow() {
    if (destroyed_) return;
    destroyed_ = true;
    onDestroy();
    hide();
    QCoreApplication::exit(0);
}

std::wstring MainWindow::browseSavePath() { return askSavePath(*this); }

bool MainWindow::askYesNo(const std::wstring& text, const std::wstring& caption, bool yesIsDefault) {
    return ::askYesNo(*this, text, caption, yesIsDefault);
}

void MainWindow::setTakeUnsaved(bool unsaved) {
    if (unsaved)
        sleepInhibitor_ = std::make_unique<SleepInhibitor>();
    else
        sleepInhibitor_.reset();
}

std::vector<std::wstring> MainWindow::recoveryFolders() {
    std::vector<std::wstring> folders;
    for (const QString& folder :
         {QDir::homePath(), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
          QDir::tempPath()})
        if (!folder.isEmpty() && QDir(folder).exists()) folders.push_back(folder.toStdWString());
    return folders;
}

// The event itself was made on the posting thread; only Qt looks at it. The
// item travels through the queue, whose mutex orders the hand-over.
void MainWindow::customEvent(QEvent*) {
    std::optional<PostedItem> item = posted_.take();
    if (!item || destroyed_) return;
    if (item->isErrorBox) {
        QMessageBox::critical(this, QString::fromStdWString(item->caption),
                              QString::fromStdWString(item->text));
        return;
    }
    onAppMessage(*this, item->message);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!destroyed_) onCloseRequest(*this);
    if (destroyed_) {
        event->accept();
    } else {
        event->ignore();
    }
}
