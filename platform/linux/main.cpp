// Implemented features: the program entry. Sets the capture source factory
// and the main window's port before anything else can use them, shows the
// window and runs the event loop until the core destroys the window.
// SIGTERM, SIGINT and SIGHUP finish a running take's file and then end the
// program with status 0 (1, with a line on standard error, when a take could
// be saved nowhere); a session manager's request to save brings the file up
// to date while the take goes on.
#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <xcb/xcb.h>

#include <cstdio>

#include "app/commands.h"
#include "base/shared_state.h"
#include "recording/output_file.h"
#include "recording/take.h"
#include "recording/text_encoding.h"
#include "platform/linux/large_pages.h"
#include "platform/linux/main_window.h"
#include "platform/linux/pulse_capture_source.h"
#include "platform/linux/termination_signals.h"

int main(int argc, char* argv[]) {
    // Before any thread exists, so that none of them takes a signal meant for the window.
    holdTerminationSignals();
    // The panels are small and repainted many times a second. Their pixels go
    // to the X server over the socket: through shared memory every flush
    // needs an answer from the server, which wakes a second thread of ours
    // to take it.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication application(argc, argv);
    // A repaint's images (80 KB for the level and the waveform) are more than a
    // quarter of the socket's default send buffer, and a socket takes more only
    // while less than a quarter is unread: the window thread would wait for the
    // X server once per repaint. Asking for the default size gets twice that
    // (the kernel doubles what it is asked for), which holds a whole repaint.
    if (auto* x11 = application.nativeInterface<QNativeInterface::QX11Application>()) {
        const int defaultSize = 212992;
        setsockopt(xcb_get_file_descriptor(x11->connection()), SOL_SOCKET, SO_SNDBUF, &defaultSize,
                   sizeof defaultSize);
    }
    // Window lists match the window to its menu entry by this id; X11 task bars
    // show the window icon itself.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_APP_ID));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(QUORVEL_APP_ID), QIcon(QStringLiteral(":/quorvel-256.png"))));
    // The window decides when the program ends (after the last take is written).
    QApplication::setQuitOnLastWindowClosed(false);
    captureSourceFactory = [] {
        // Called on the thread that captures and writes the take: named, so
        // that top, perf and strace tell it from the window's.
        prctl(PR_SET_NAME, "quorvel-capture");
        return makePulseCaptureSource();
    };
    openOutputFile = openSystemOutputFile;
    adviseTakeMemory = adviseLargePages;

    MainWindow window;
    hwndMain = &window;
    // The logout may still be cancelled: the take goes on, its file up to date.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, [] { onSaveSessionState(); });
    TerminationSignals terminationSignals([&window] {
        onEndSession(window);
        window.destroyWindow();
    });
    window.show();
    QApplication::exec();
    hwndMain = nullptr;
    // The session ended with a take no place could take: whoever ended it should know what is left.
    if (lastTakeOutcome == TakeOutcome::Unsaved) {
        std::fprintf(stderr, "quorvel: %s\n", ws2s(takeEndStatus()).c_str());
        return 1;
    }
    return 0;
}
