// What the end-to-end run cannot reach: the layout at other window sizes,
// messages posted from many threads at once, what screen readers are told,
// the sleep inhibitor against logind's mock on a private bus, and the
// QPainter canvas's pixels (lines without their end pixel, exact fills, text
// below its anchor).
#include <gtest/gtest.h>

#include <QTest>
#include <QtDBus>
#include <QtWidgets>

#include <fstream>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "app/commands.h"
#include "base/messages.h"
#include "fake_capture_source.h"
#include "platform/linux/main_window.h"
#include "platform/linux/qpainter_canvas.h"
#include "recording/take_file.h"

// Readable failures.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

// Runs the event loop until `condition` holds, for 10 s at most; its last value.
bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 10000); }

TEST(QtWindow, ControlsKeepTheirPlacesWhateverTheWindowSize) {
    MainWindow window;
    EXPECT_EQ(window.size(), QSize(384, 231));
    const std::vector<QRect> expected = {{20, 20, 140, 30}, {180, 20, 80, 30},  {20, 60, 340, 20},
                                         {20, 90, 340, 20}, {20, 120, 340, 40}, {20, 170, 340, 40}};
    window.resize(900, 700);
    QCoreApplication::processEvents();
    std::vector<QRect> actual;
    for (const QWidget* child : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        actual.push_back(child->geometry());
    EXPECT_EQ(actual, expected);
}

TEST(QtWindow, MessagesFromOtherThreadsArriveInPostingOrder) {
    MainWindow window;
    recordingThreadActive = true;  // the window hears of a take's end only while one runs
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 200; ++i) window.postMessage(WM_APP_UPDATE_VISUALS);
        });
    // Handled in the other order, these would leave the stall notice behind.
    posters.emplace_back([&] {
        window.postMessage(WM_APP_RECORDING_STALLED);
        window.postMessage(WM_APP_RECORDING_DONE);
    });
    for (std::thread& t : posters) t.join();
    const QLabel* status = window.findChild<QLabel*>();
    EXPECT_TRUE(waitFor([&] { return status->text() == QString::fromStdWString(takeEndStatus()); }))
        << status->text().toStdString();
}

TEST(QtWindow, ScreenReadersHearPanelNamesAndThePeakLabel) {
    MainWindow window;
    const auto read = [&](QAccessible::Text text) {
        QStringList texts;
        for (QWidget* panel : window.findChildren<QWidget*>().mid(3)) {  // level, waveform, spectrum
            panel->grab();                                               // painted, as on screen
            texts << QAccessible::queryAccessibleInterface(panel)->text(text);
        }
        return texts.join('|').toStdString();
    };
    EXPECT_EQ(read(QAccessible::Name), "Level|Waveform|Spectrum");
    EXPECT_EQ(read(QAccessible::Description), "||");  // no spectrum, no label
    std::unique_lock<std::mutex> lock(spectrumMutex);
    spectrumBuffer = {0.1f, 1.0f, 0.2f};
    lock.unlock();
    for (const auto& [hz, label] : {std::pair{440.0f, "||Peak: 440.0 Hz"}, {997.0f, "||Peak: 997.0 Hz"}}) {
        dominantFreqHz = hz;
        EXPECT_EQ(read(QAccessible::Description), label);
    }
    lock.lock();
    spectrumBuffer.clear();
}

// A program the test starts, killed when the test is done with it. Spawned,
// not forked as QProcess does: under ThreadSanitizer a forked child that runs
// until exec in our memory leaves this thread's sanitizer state changed.
struct Helper {
    explicit Helper(std::vector<const char*> argv) {
        argv.push_back(nullptr);  // posix_spawnp reads argv and never writes it
        if (posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ) != 0)
            pid = -1;
    }
    ~Helper() {
        if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
    pid_t pid = -1;
};

// The inhibitors logind's mock holds, each one's fields joined by spaces; or why it did not answer.
QString heldInhibitors() {
    const QDBusMessage reply = QDBusConnection::systemBus().call(
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "ListInhibitors"));
    if (reply.type() != QDBusMessage::ReplyMessage) return reply.errorMessage();
    QStringList held;
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    for (list.beginArray(); !list.atEnd(); list.endStructure()) {
        QStringList fields;
        for (list.beginStructure(); !list.atEnd();) fields << list.asVariant().toString();
        held << fields.join(' ');
    }
    list.endArray();
    return held.join(", ");
}

TEST(SleepInhibitor, HeldFromStartUntilTheTakeIsFinishedSavedOrDiscarded) {
    // The private session bus ctest starts us on also stands for the system
    // bus, where logind's mock runs; no portal answers on it.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    // Debian's python3-dbusmock is installed for Debian's own interpreter.
    Helper logind({"/usr/bin/python3", "-m", "dbusmock", "--template", "logind"});
    ASSERT_TRUE(waitFor([] { return heldInhibitors().isEmpty(); }))
        << heldInhibitors().toStdString()
        << " (needs dbus-run-session and python3-dbusmock: scripts/install-deps.sh)";
    openTakeFile = [](const std::filesystem::path& path) -> std::unique_ptr<std::ostream> {
        auto file = std::make_unique<std::ofstream>(path, std::ios::binary);
        if (path.filename() == "full.wav") file->setstate(std::ios::badbit);  // a disk that takes nothing
        return file->is_open() ? std::move(file) : nullptr;
    };
    // Answers a take's dialogs as a user would: Save As with `path`, the discard
    // question with Yes and any other with No; notes each question's default button.
    QTemporaryDir folder;
    QString path;
    QStringList defaults;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);  // typed in
            static_cast<QDialog*>(dialog)->accept();                       // and Save pressed
        } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            defaults << (box->defaultButton() == box->button(QMessageBox::Yes) ? "Yes" : "No");
            box->button(box->text().startsWith("Discard") ? QMessageBox::Yes : QMessageBox::No)->click();
        }
    });
    user.start(20);
    // File, how the device opens, the status while it runs (none: never started)
    // and after, the default of each question asked in turn.
    const std::tuple<const char*, OpenResult, QString, QString, QStringList> takes[] = {
        {"0.wav", OpenResult::Opened, "Recording...", "Saved to: ", {}},
        {"1.wav", OpenResult::Failed, "", "Nothing recorded: cannot open the audio capture device", {}},
        {"full.wav",
         OpenResult::Opened,
         "Recording... could not write ",
         "Take discarded: nothing saved",
         {"Yes", "No"}},
    };
    for (const auto& [file, opens, during, after, asked] : takes) {
        SCOPED_TRACE(file);
        FakeDevice device;
        device.opens = {opens};
        device.stopWhenDrained = false;  // the take goes on until Stop
        device.packets = {packetOf<float>({0.5f, -0.5f})};
        captureSourceFactory = device.factory();
        MainWindow window;
        hwndMain = &window;
        path = folder.filePath(file);
        defaults.clear();
        const QLabel* status = window.findChild<QLabel*>();
        const auto expectShownAndHeld = [&](const QString& text, const QString& held) {
            EXPECT_TRUE(waitFor([&] { return status->toolTip().startsWith(text); }))
                << status->toolTip().toStdString();
            EXPECT_TRUE(waitFor([&] { return heldInhibitors() == held; })) << heldInhibitors().toStdString();
        };
        window.findChildren<QPushButton*>().at(0)->click();
        if (!during.isEmpty()) {
            expectShownAndHeld(during, "sleep:idle Quorvel Recording a take block 1000 123456");
            window.findChildren<QPushButton*>().at(1)->click();
        }
        expectShownAndHeld(after, "");
        EXPECT_EQ(defaults, asked);
        onDestroy();
    }
    hwndMain = nullptr;
    captureSourceFactory = nullptr;
}

const QColor FACE(236, 236, 236);
constexpr Color INK{255, 40, 40};
using Points = std::vector<QPoint>;

// The pixels a drawing inks on a 40 x 20 button face.
Points inked(const std::function<void(Canvas&)>& draw) {
    QImage image(40, 20, QImage::Format_RGB32);
    QPainter painter(&image);
    QPainterCanvas canvas(painter, FACE);
    canvas.fillBackground(Rect{0, 0, 40, 20});
    draw(canvas);
    painter.end();
    Points points;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            if (image.pixelColor(x, y) != FACE) points.emplace_back(x, y);
    return points;
}

Points line(int x0, int y0, int x1, int y1, PenStyle style = PenStyle::Solid) {
    return inked([&](Canvas& c) {
        c.selectPen(style, 1, INK);
        c.moveTo(x0, y0);
        c.lineTo(x1, y1);
        c.restorePen();
    });
}

TEST(QPainterCanvas, LinesAndFillsLandOnTheExpectedPixels) {
    // Lines stop short of their end pixel; fills leave out the right and bottom edges.
    EXPECT_EQ(line(2, 5, 6, 5), (Points{{2, 5}, {3, 5}, {4, 5}, {5, 5}}));
    EXPECT_EQ(line(7, 1, 7, 4), (Points{{7, 1}, {7, 2}, {7, 3}}));
    EXPECT_EQ(line(3, 3, 4, 4), (Points{{3, 3}}));
    EXPECT_EQ(line(3, 3, 3, 3), Points{});
    EXPECT_EQ(inked([](Canvas& c) {
                  c.fillRect(Rect{1, 2, 3, 4}, INK);
              }),
              (Points{{1, 2}, {2, 2}, {1, 3}, {2, 3}}));
    EXPECT_EQ(inked([](Canvas& c) { c.fillRect(Rect{5, 5, 5, 9}, INK); }), Points{});
    const size_t dots = line(0, 10, 40, 10, PenStyle::Dot).size();
    EXPECT_TRUE(dots > 5 && dots < 30) << dots << " dotted pixels";

    // Text hangs below and right of its anchor, on a transparent background.
    const Points text = inked([](Canvas& c) { c.drawText(4, 3, L"Peak: 1000.0 Hz", INK); });
    EXPECT_TRUE(!text.empty() && text.size() < 36u * 17u / 2u) << text.size() << " text pixels";
    for (const QPoint& p : text) EXPECT_TRUE(p.x() >= 4 && p.y() >= 3) << p.x() << "," << p.y();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
