// What the end-to-end run cannot reach: the layout at other window sizes,
// messages posted from many threads at once, what screen readers are told,
// the sleep inhibitor against mocks of the desktop's services on a private
// bus, and the QPainter canvas's pixels (lines without their end pixel,
// exact fills, text below its anchor).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

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
bool waitFor(const std::function<bool()>& condition) {
    const QDeadlineTimer deadline(10000);
    while (!condition() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return condition();
}

TEST(QtWindow, ControlsKeepTheirPlacesWhateverTheWindowSize) {
    MainWindow window;
    EXPECT_EQ(window.size(), QSize(384, 231));
    const std::vector<QRect> expected = {{20, 20, 140, 30}, {180, 20, 80, 30},  {20, 60, 340, 20},
                                         {20, 90, 340, 20}, {20, 120, 340, 40}, {20, 170, 340, 40}};
    window.resize(900, 700);
    QCoreApplication::processEvents();
    std::vector<QRect> actual;
    const auto children = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (const QWidget* child : children) actual.push_back(child->geometry());
    EXPECT_EQ(actual, expected);
}

TEST(QtWindow, MessagesFromOtherThreadsArriveInPostingOrder) {
    MainWindow window;
    recordingThreadActive = true;  // the window hears of a take's end only while one runs
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 200; ++i) window.postMessage(WM_APP_UPDATE_VISUALS);
        });
    }
    // Handled in the other order, these would leave the stall notice behind.
    posters.emplace_back([&] {
        window.postMessage(WM_APP_RECORDING_STALLED);
        window.postMessage(WM_APP_RECORDING_DONE);
    });
    for (std::thread& t : posters) t.join();
    const QString ended = QString::fromStdWString(takeEndStatus());
    const QLabel* status = window.findChild<QLabel*>();
    EXPECT_TRUE(waitFor([&] { return status->text() == ended; })) << status->text().toStdString();
}

TEST(QtWindow, ScreenReadersHearPanelNamesAndThePeakLabel) {
    MainWindow window;
    const QList<QWidget*> panels = window.findChildren<QWidget*>().mid(3);  // level, waveform, spectrum
    const auto read = [&](QAccessible::Text text) {
        QStringList texts;
        for (QWidget* panel : panels) {
            panel->grab();  // painted, as on screen
            texts << QAccessible::queryAccessibleInterface(panel)->text(text);
        }
        return texts;
    };
    EXPECT_EQ(read(QAccessible::Name), (QStringList{"Level", "Waveform", "Spectrum"}));
    EXPECT_EQ(read(QAccessible::Description), (QStringList{"", "", ""}));  // no spectrum, no label
    std::unique_lock<std::mutex> lock(spectrumMutex);
    spectrumBuffer = {0.1f, 1.0f, 0.2f};
    lock.unlock();
    for (const auto& [hz, label] : {std::pair{440.0f, "Peak: 440.0 Hz"}, {997.0f, "Peak: 997.0 Hz"}}) {
        dominantFreqHz = hz;
        EXPECT_EQ(read(QAccessible::Description), (QStringList{"", "", label}));
    }
    lock.lock();
    spectrumBuffer.clear();
}

// A program the test starts, killed when the test is done with it. Spawned,
// not forked as QProcess does: under ThreadSanitizer a forked child that runs
// until exec in our memory leaves this thread's sanitizer state changed.
struct Helper {
    explicit Helper(std::vector<std::string> arguments) {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
    }
    ~Helper() {
        if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
    pid_t pid = -1;
};

// A desktop service that inhibits sleep: its dbusmock template, where it is,
// and the entry its mock lists while our inhibitor is held.
struct InhibitService {
    const char* mockTemplate;
    QString name, path, interface;
    QDBusConnection (*bus)();
    QString held;
};

// What the mock lists as held, each entry's fields joined by spaces.
QStringList heldBy(const InhibitService& service) {
    const QDBusMessage reply = service.bus().call(
        QDBusMessage::createMethodCall(service.name, service.path, service.interface, "ListInhibitors"));
    if (reply.type() != QDBusMessage::ReplyMessage) return {reply.errorMessage()};
    QStringList held;
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    for (list.beginArray(); !list.atEnd(); list.endStructure()) {
        QStringList fields;
        for (list.beginStructure(); !list.atEnd();) fields << list.asVariant().toString();
        held << fields.join(' ');
    }
    list.endArray();
    return held;
}

// Answers the dialogs of a take as a user would: Save As with `path`, the
// discard question with Yes and any other question with No; notes each
// question's default button.
struct User {
    explicit User(QString chosen) : path(std::move(chosen)) {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);  // typed in
                static_cast<QDialog*>(dialog)->accept();                       // and Save pressed
            } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                defaults << (box->defaultButton() == box->button(QMessageBox::Yes) ? "Yes" : "No");
                box->button(box->text().startsWith("Discard") ? QMessageBox::Yes : QMessageBox::No)->click();
            }
        });
        timer.start(20);
    }
    QString path;
    QStringList defaults;
    QTimer timer;
};

TEST(SleepInhibitor, HeldFromStartUntilTheTakeIsFinishedSavedOrDiscarded) {
    // One private bus stands for both the system and the session bus.
    QTemporaryDir folder;
    const QString socket = folder.filePath("bus");
    Helper bus({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + socket.toStdString()});
    ASSERT_TRUE(waitFor([&] { return QFile::exists(socket); }))
        << "needs dbus-daemon (scripts/install-deps.sh)";
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket.toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket.toUtf8());
    const InhibitService services[] = {
        {"logind", "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
         QDBusConnection::systemBus, "sleep:idle Quorvel Recording a take block 1000 123456"},
        {PORTAL_MOCK, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
         "org.freedesktop.portal.Inhibit", QDBusConnection::sessionBus, "12 Recording a take"},
    };
    openTakeFile = [](const std::filesystem::path& path) -> std::unique_ptr<std::ostream> {
        auto file = std::make_unique<std::ofstream>(path, std::ios::binary);
        if (path.filename().string().ends_with("full.wav"))
            file->setstate(std::ios::badbit);  // a disk that takes nothing
        return file->is_open() ? std::move(file) : nullptr;
    };
    struct Take {
        const char* file;
        OpenResult device;
        QString during, after;
        QStringList defaults;  // of the questions asked, in turn
    } const takes[] = {
        {"take.wav", OpenResult::Opened, "Recording...", "Saved to: ", {}},
        {"take.wav", OpenResult::Failed, "", "Nothing recorded: cannot open the audio capture device", {}},
        {"full.wav",
         OpenResult::Opened,
         "Recording... could not write ",
         "Take discarded: nothing saved",
         {"Yes", "No"}},
    };
    int takesMade = 0;
    // The portal is asked first: logind's mock runs alone, then both run.
    std::vector<std::unique_ptr<Helper>> mocks;
    for (const InhibitService& service : services) {
        // Debian's python3-dbusmock is installed for Debian's own interpreter.
        mocks.push_back(std::make_unique<Helper>(std::vector<std::string>{
            "/usr/bin/python3", "-m", "dbusmock", "--template", service.mockTemplate}));
        ASSERT_TRUE(waitFor([&] { return heldBy(service).isEmpty(); }))
            << heldBy(service).join(", ").toStdString()
            << " (needs python3-dbusmock: scripts/install-deps.sh)";
        for (const Take& take : takes) {
            SCOPED_TRACE(std::string(service.mockTemplate) + ": " + take.after.toStdString());
            FakeDevice device;
            device.opens = {take.device};
            device.stopWhenDrained = false;  // the take goes on until Stop
            device.packets = {packetOf<float>({0.5f, -0.5f})};
            captureSourceFactory = device.factory();
            MainWindow window;
            hwndMain = &window;
            User user(folder.filePath(QString::number(++takesMade) + take.file));  // never asked to replace
            const QLabel* status = window.findChild<QLabel*>();
            const auto shows = [&](const QString& text) {
                return waitFor([&] { return status->toolTip().startsWith(text); });
            };
            const auto held = [&](const QStringList& expected) {
                return waitFor([&] { return heldBy(service) == expected; });
            };
            window.findChildren<QPushButton*>().at(0)->click();
            if (!take.during.isEmpty()) {
                EXPECT_TRUE(shows(take.during)) << status->toolTip().toStdString();
                EXPECT_TRUE(held({service.held})) << heldBy(service).join(", ").toStdString();
                window.findChildren<QPushButton*>().at(1)->click();
            }
            EXPECT_TRUE(shows(take.after)) << status->toolTip().toStdString();
            EXPECT_TRUE(held({})) << heldBy(service).join(", ").toStdString();
            EXPECT_EQ(user.defaults, take.defaults);
            onDestroy();
        }
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

Points line(int x0, int y0, int x1, int y1, PenStyle style = PenStyle::Solid, int width = 1) {
    return inked([&](Canvas& c) {
        c.selectPen(style, width, INK);
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
    const Points filled = inked([](Canvas& c) { c.fillRect(Rect{1, 2, 3, 4}, INK); });
    EXPECT_EQ(filled, (Points{{1, 2}, {2, 2}, {1, 3}, {2, 3}}));
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
