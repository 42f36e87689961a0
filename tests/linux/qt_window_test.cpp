// What the end-to-end run cannot reach: messages posted from many threads at
// once, the sleep inhibitor against logind's mock on a private bus, and the
// QPainter canvas's pixels (exact fills, dotted lines, text below its anchor).
#include <gtest/gtest.h>

#include <QTest>
#include <QtDBus>
#include <QtWidgets>

#include <functional>
#include <thread>

#include "app/commands.h"
#include "base/messages.h"
#include "base/shared_state.h"
#include "platform/linux/main_window.h"
#include "platform/linux/qpainter_canvas.h"

// Readable failures.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

// Runs the event loop until `condition` holds, for 10 s at most; its last value.
bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 10000); }

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

TEST(SleepInhibitor, HeldWhileATakeIsUnsavedAndTheQuestionsDefaultToSaving) {
    // logind's mock, started beside us (see CMakeLists.txt), may not be up yet.
    ASSERT_TRUE(waitFor([] { return heldInhibitors().isEmpty(); }))
        << heldInhibitors().toStdString()
        << " (needs dbus-run-session and python3-dbusmock: scripts/install-deps.sh)";
    // The core says when a take is unsaved (from Start until its file is
    // finished, saved elsewhere or discarded: its own tests follow every path).
    MainWindow window;
    for (const bool unsaved : {true, false, true, false}) {
        window.setTakeUnsaved(unsaved);
        const QString held = unsaved ? "sleep:idle Quorvel Recording a take block 1000 123456" : "";
        EXPECT_TRUE(waitFor([&] { return heldInhibitors() == held; })) << heldInhibitors().toStdString();
    }
    // Enter saves a take that could not be written; it never lets one go.
    QStringList defaults;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            defaults << (box->defaultButton() == box->button(QMessageBox::Yes) ? "Yes" : "No");
            box->button(QMessageBox::No)->click();
        }
    });
    user.start(20);
    window.askYesNo(L"Save it somewhere else?", L"Take not saved", true);
    window.askYesNo(L"Discard the take?", L"Discard take", false);
    EXPECT_EQ(defaults, QStringList({"Yes", "No"}));
}

const QColor FACE(236, 236, 236);
constexpr Color INK{255, 40, 40};
using Points = std::vector<QPoint>;

// The pixels a drawing inks on a 40 x 20 button face, row by row; `origin`
// is where the canvas's (0, 0) lies, as a panel's lies inside its window;
// `kept` the text layout a panel keeps from paint to paint.
Points inked(const std::function<void(Canvas&)>& draw, QPoint origin = {}, QStaticText* kept = nullptr) {
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(FACE);
    QPainter painter(&image);
    painter.translate(origin);
    {
        QStaticText fresh;
        QPainterCanvas canvas(painter, FACE, kept ? *kept : fresh);
        canvas.fillBackground(Rect{0, 0, 40, 20});
        draw(canvas);
    }
    painter.end();
    Points points;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            if (image.pixelColor(x, y) != FACE) points.emplace_back(x, y);
    return points;
}

TEST(QPainterCanvas, FillsDotsAndTextLandOnTheExpectedPixels) {
    // Fills leave out the right and bottom edges: a level bar is exactly as wide as its level.
    const auto fill = [](Rect r) { return inked([r](Canvas& c) { c.fillRect(r, INK); }); };
    EXPECT_EQ(fill({1, 2, 3, 4}), (Points{{1, 2}, {2, 2}, {1, 3}, {2, 3}}));
    EXPECT_EQ(fill({5, 5, 5, 9}), Points{});
    const size_t dots = inked([](Canvas& c) {
                            c.selectPen(PenStyle::Dot, 1, INK);
                            c.moveTo(0, 10);
                            c.lineTo(40, 10);
                            c.restorePen();
                        }).size();
    EXPECT_TRUE(dots > 5 && dots < 30) << dots << " dotted pixels";

    // A segment leaves out its end pixel, so that a trace's segments meet
    // without overlap; whatever is drawn after it covers it.
    const auto segment = [](const std::function<void(Canvas&)>& after) {
        return inked([&after](Canvas& c) {
            c.selectPen(PenStyle::Solid, 1, INK);
            c.moveTo(2, 5);
            c.lineTo(5, 5);
            after(c);
            c.restorePen();
        });
    };
    EXPECT_EQ(segment([](Canvas&) {}), (Points{{2, 5}, {3, 5}, {4, 5}}));
    EXPECT_EQ(segment([](Canvas& c) { c.fillBackground({0, 0, 40, 20}); }), Points{});

    // Text hangs below and right of its anchor, on a transparent background.
    const Points text = inked([](Canvas& c) { c.drawText(4, 3, L"Peak: 1000.0 Hz", INK); });
    EXPECT_TRUE(!text.empty() && text.size() < 36u * 17u / 2u) << text.size() << " text pixels";
    for (const QPoint& p : text) EXPECT_TRUE(p.x() >= 4 && p.y() >= 3) << p.x() << "," << p.y();

    // A label kept from an earlier paint shows what it reads now.
    QStaticText kept;
    const auto label = [&kept](const wchar_t* reads) {
        return inked([reads](Canvas& c) { c.drawText(4, 3, reads, INK); }, {}, &kept);
    };
    EXPECT_EQ(label(L"Peak: 1000.0 Hz"), text);
    const Points changed = label(L"47.1 Hz");
    EXPECT_NE(changed, text);
    EXPECT_EQ(changed, inked([](Canvas& c) { c.drawText(4, 3, L"47.1 Hz", INK); }));
}

// A trace's segments meet end to start without a gap or a pixel drawn twice
// whichever way they run, each as close to the ideal line as whole pixels
// go; nothing lands outside the image.
TEST(QPainterCanvas, SegmentsRunFromTheirFirstPixelToJustBeforeTheirLastInEveryDirection) {
    const QPoint origin(7, 3);
    const struct {
        QPoint from, to;
        Points expected;  // row by row, before the shift to the origin
    } cases[] = {
        {{2, 5}, {5, 5}, {{2, 5}, {3, 5}, {4, 5}}},
        {{5, 5}, {2, 5}, {{3, 5}, {4, 5}, {5, 5}}},
        {{3, 6}, {3, 3}, {{3, 4}, {3, 5}, {3, 6}}},
        {{1, 1}, {4, 9}, {{1, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 5}, {3, 6}, {3, 7}, {4, 8}}},
        {{4, 9}, {1, 1}, {{1, 2}, {2, 3}, {2, 4}, {2, 5}, {3, 6}, {3, 7}, {4, 8}, {4, 9}}},
        // Off the image's right and bottom edges.
        {{30, 15}, {37, 19}, {{30, 15}, {31, 16}, {32, 16}}},
    };
    for (const auto& c : cases) {
        Points expected;
        for (const QPoint& p : c.expected) expected.push_back(p + origin);
        const Points drawn = inked(
            [&c](Canvas& canvas) {
                canvas.selectPen(PenStyle::Solid, 1, INK);
                canvas.moveTo(c.from.x(), c.from.y());
                canvas.lineTo(c.to.x(), c.to.y());
                canvas.restorePen();
            },
            origin);
        EXPECT_EQ(drawn, expected) << c.from.x() << "," << c.from.y() << " to " << c.to.x() << ","
                                   << c.to.y();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
