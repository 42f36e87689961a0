// Implemented features: the program entry. Sets the capture source factory
// and the main window's port before anything else can use them, shows the
// window and runs the event loop until the core destroys the window.
#include <QApplication>
#include <QIcon>

#include "app/shared_state.h"
#include "platform/linux/main_window.h"
#include "platform/linux/pulse_capture_source.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Window lists match the window to its menu entry by this id; X11 task bars
    // show the window icon itself.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_APP_ID));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(QUORVEL_APP_ID), QIcon(QStringLiteral(":/quorvel-256.png"))));
    // The window decides when the program ends (after the last take is written).
    QApplication::setQuitOnLastWindowClosed(false);
    captureSourceFactory = makePulseCaptureSource;

    MainWindow window;
    hwndMain = &window.port();
    window.show();
    QApplication::exec();
    hwndMain = nullptr;
    return 0;
}
