// Implemented features:
//  - the Save As dialog: Qt's own (not the desktop's) so that it behaves the
//    same on every desktop and under a bare X server
//  - the question box with the default button the core asks for
#include "platform/linux/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/window_layout.h"

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

std::wstring askSavePath(QWidget& parent) {
    QFileDialog dialog(&parent);
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

bool askYesNo(QWidget& parent, const std::wstring& text, const std::wstring& caption, bool yesIsDefault) {
    const QMessageBox::StandardButton answer = QMessageBox::question(
        &parent, QString::fromStdWString(caption), QString::fromStdWString(text),
        QMessageBox::Yes | QMessageBox::No, yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
    return answer == QMessageBox::Yes;
}
