// The Qt main window in-process (offscreen): its fixed layout, messages
// posted from other threads, and what a user sees when a take cannot be
// written. The Save As dialog and the error box are answered by a timer
// the way a user would answer them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/messages.h"
#include "app/shared_state.h"
#include "platform/linux/main_window.h"
#include "platform/linux/pulse_capture_source.h"
#include "shared_state_reset.h"

namespace {

QPushButton* button(QWidget& window, const QString& text) {
    for (QPushButton* b : window.findChildren<QPushButton*>()) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

QLabel* statusLine(QWidget& window) { return window.findChild<QLabel*>(); }

// Runs the event loop until `done` holds or `seconds` pass.
bool processUntil(const std::function<bool()>& done, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Answers whichever modal window is open: the Save As dialog with `path`
// (empty: Cancel), an error box by noting it and pressing OK.
class ModalAnswerer {
public:
    explicit ModalAnswerer(QString path) : path_(std::move(path)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start(20);
    }
    std::vector<QString> errorBoxes;  // "caption: text"
    int dialogs = 0;

private:
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            ++dialogs;
            if (path_.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path_);
            static_cast<QDialog*>(dialog)->accept();  // runs QFileDialog's own checks
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            errorBoxes.push_back(
                box->windowTitle() + QStringLiteral(": ") + box->text() +
                (box->icon() == QMessageBox::Critical ? QString() : QStringLiteral(" (no error icon)")));
            box->accept();
        }
    }

    QString path_;
    QTimer timer_;
};

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        captureSourceFactory = makePulseCaptureSource;
        window_ = std::make_unique<MainWindow>();
        hwndMain = &window_->port();
        window_->show();
    }
    void TearDown() override {
        window_->close();  // through the close request, as the title bar's button
        window_.reset();
        // Destruction ended the application's event loop for good; a fresh
        // exec() clears that so the next test's dialogs can run.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        resetSharedState();
    }
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, ControlsSitAtTheirFixedPlacesWhateverTheWindowSize) {
    MainWindow& w = *window_;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Quorvel: Thread-Safe GUI 64K FFT"));
    EXPECT_EQ(w.size(), QSize(384, 231));
    ASSERT_NE(statusLine(w), nullptr);
    EXPECT_EQ(statusLine(w)->text(), QStringLiteral("Ready"));

    const std::vector<QRect> expected = {
        {20, 20, 140, 30}, {180, 20, 80, 30},  {20, 60, 340, 20},
        {20, 90, 340, 20}, {20, 120, 340, 40}, {20, 170, 340, 40},
    };
    for (const QSize size : {QSize(384, 231), QSize(900, 700), QSize(200, 100)}) {
        w.resize(size);
        QCoreApplication::processEvents();
        std::vector<QRect> actual;
        for (QWidget* child : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            actual.push_back(child->geometry());
        }
        EXPECT_EQ(actual, expected) << size.width() << "x" << size.height();
    }
    EXPECT_EQ(button(w, QStringLiteral("Start Recording"))->geometry(), expected[0]);
    EXPECT_EQ(button(w, QStringLiteral("Stop"))->geometry(), expected[1]);
}

TEST_F(MainWindowTest, MessagesFromOtherThreadsArriveInPostingOrder) {
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([this] {
            for (int i = 0; i < 200; ++i) window_->port().postMessage(WM_APP_UPDATE_VISUALS);
        });
    }
    // Handled in the other order, these would leave "Recording..." behind.
    posters.emplace_back([this] {
        window_->port().postMessage(WM_APP_RECORDING_STARTED);
        window_->port().postMessage(WM_APP_RECORDING_DONE);
    });
    for (std::thread& t : posters) t.join();
    const QString ended = QString::fromStdWString(takeEndStatus());
    EXPECT_TRUE(processUntil([&] { return statusLine(*window_)->text() == ended; }))
        << statusLine(*window_)->text().toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(statusLine(*window_)->text(), ended);
    EXPECT_FALSE(window_->port().takePostedItem().has_value());
}

TEST_F(MainWindowTest, CancelStartsNothing) {
    ModalAnswerer answerer{QString()};
    button(*window_, QStringLiteral("Start Recording"))->click();
    EXPECT_EQ(answerer.dialogs, 1);
    EXPECT_FALSE(isRecording.load());
    EXPECT_FALSE(recordingThread.joinable());
    EXPECT_EQ(statusLine(*window_)->text(), QStringLiteral("Ready"));
}

TEST_F(MainWindowTest, UnwritablePathShowsTheErrorBoxAndNoSavedStatus) {
    if (std::getenv("PULSE_SERVER") == nullptr) GTEST_SKIP() << "PULSE_SERVER is not set";
    ModalAnswerer answerer{QStringLiteral("/nonexistent/dir/x.wav")};
    button(*window_, QStringLiteral("Start Recording"))->click();
    ASSERT_TRUE(processUntil([&] { return !answerer.errorBoxes.empty() && !recordingThreadActive; }));
    EXPECT_EQ(answerer.errorBoxes,
              std::vector<QString>{QStringLiteral("Error: Cannot open file for writing")});
    const QString status = statusLine(*window_)->text();
    EXPECT_FALSE(status.startsWith(QStringLiteral("Saved to: "))) << status.toStdString();
    EXPECT_NE(status, QStringLiteral("Recording..."));
    EXPECT_FALSE(std::filesystem::exists("/nonexistent/dir/x.wav"));
    // The window is ready for the next take.
    EXPECT_FALSE(recordingThread.joinable());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
