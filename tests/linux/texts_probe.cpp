// Lets the end-to-end driver read what the Linux program shows, as the Windows
// probe does for quorvel.exe. Loaded as a Qt generic plugin
// (QT_QPA_GENERIC_PLUGINS=quorveltexts), it writes $QUORVEL_TEXTS whenever
// the screen's texts change: one visible window a line, its title, then the
// texts of its labels and line edits, tab-separated.
#include <QApplication>
#include <QGenericPlugin>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>

class TextsProbe : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "texts_probe.json")

public:
    QObject* create(const QString&, const QString&) override {
        auto* timer = new QTimer;
        connect(timer, &QTimer::timeout, timer, [last = QString()]() mutable {
            QString shown;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (!window->isVisible()) continue;
                shown += window->windowTitle();
                for (QWidget* child : window->findChildren<QWidget*>()) {
                    const auto* label = qobject_cast<QLabel*>(child);
                    const auto* edit = qobject_cast<QLineEdit*>(child);
                    const QString text = label ? label->text() : edit ? edit->text() : QString();
                    if (!text.isEmpty() && child->isVisible()) shown += u'\t' + text;
                }
                shown += u'\n';
            }
            if (shown == last) return;
            last = shown;
            QSaveFile file(qEnvironmentVariable("QUORVEL_TEXTS"));
            if (!file.open(QIODevice::WriteOnly)) return;
            file.write(shown.toUtf8());
            file.commit();
        });
        timer->start(50);
        return timer;
    }
};

#include "texts_probe.moc"
