// Implemented features:
//  - thread-safe, ordered, non-blocking posting of WM_APP_* messages
//  - an error box requested from any thread, shown later by the window thread
//  - status text, button enabling, panel repaint requests, window destruction
//  - the Save As dialog: Qt's own (not the desktop's) so that it behaves the
//    same on every desktop and under a bare X server
#include "platform/linux/qt_window_port.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include <utility>

#include "app/window_layout.h"
#include "platform/linux/main_window.h"

namespace {

// Qt's form of the core's filters: "WAV files (*.wav)". "*.*" would hide
// files without a dot here, so all files are "*".
QStringList saveFilters() {
    QStringList filters;
    for (const FileFilter& type : SAVE_FILTERS) {
        const QString pattern = QString::fromWCharArray(type.pattern);
        filters << QStringLiteral("%1 (%2)").arg(
            QString::fromWCharArray(type.description),
            pattern == QStringLiteral("*.*") ? QStringLiteral("*") : pattern);
    }
    return filters;
}

}  // namespace

QEvent::Type QtWindowPort::postedItemEventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QtWindowPort::QtWindowPort(MainWindow& window) : window_(window) {}

void QtWindowPort::postMessage(uint32_t message) { post(PostedItem{message, false, {}, {}}); }

void QtWindowPort::showErrorBox(const std::wstring& text, const std::wstring& caption) {
    post(PostedItem{0, true, text, caption});
}

void QtWindowPort::post(PostedItem item) {
    auto* event = new QEvent(postedItemEventType());
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        posted_.push_back(std::move(item));
    }
    // Takes ownership of the event; safe from any thread and never blocks
    // for longer than Qt's own queue lock.
    QCoreApplication::postEvent(&window_, event);
}

std::optional<PostedItem> QtWindowPort::takePostedItem() {
    std::lock_guard<std::mutex> lock(postedMutex_);
    if (posted_.empty()) return std::nullopt;
    PostedItem item = std::move(posted_.front());
    posted_.pop_front();
    return item;
}

void QtWindowPort::setStatusText(const std::wstring& text) {
    window_.setStatusText(QString::fromStdWString(text));
}

void QtWindowPort::enableButton(int controlId, bool enabled) { window_.enableButton(controlId, enabled); }

void QtWindowPort::invalidatePanel(int controlId) { window_.invalidatePanel(controlId); }

void QtWindowPort::destroyWindow() { window_.destroyForGood(); }

bool QtWindowPort::askYesNo(const std::wstring& text, const std::wstring& caption) {
    // No is the default button: Enter alone never lets a take go.
    return QMessageBox::question(&window_, QString::fromStdWString(caption), QString::fromStdWString(text),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

std::wstring QtWindowPort::browseSavePath() {
    QFileDialog dialog(&window_);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = saveFilters();
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.front());
    // Overwrite confirmation is on unless DontConfirmOverwrite is set; no
    // default suffix, so a name typed without ".wav" is used as typed.
    dialog.selectFile(QString::fromWCharArray(PROPOSED_FILE_NAME));
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return {};
    return chosen.front().toStdWString();
}
