// What the end-to-end run cannot reach: the layout at other window sizes,
// messages posted from many threads at once, and the QPainter canvas's
// pixels (lines without their end pixel, exact fills, text below its anchor).
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>

#include <chrono>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/messages.h"
#include "platform/linux/main_window.h"
#include "platform/linux/qpainter_canvas.h"
#include "shared_state_reset.h"

namespace {

TEST(QtWindow, ControlsKeepTheirPlacesWhateverTheWindowSize) {
    MainWindow window;
    const std::vector<QRect> expected = {{20, 20, 140, 30}, {180, 20, 80, 30},  {20, 60, 340, 20},
                                         {20, 90, 340, 20}, {20, 120, 340, 40}, {20, 170, 340, 40}};
    for (const QSize size : {QSize(900, 700), QSize(200, 100)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        std::vector<QRect> actual;
        for (QWidget* child : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            actual.push_back(child->geometry());
        }
        EXPECT_EQ(actual, expected) << size.width() << "x" << size.height();
    }
}

TEST(QtWindow, MessagesFromOtherThreadsArriveInPostingOrder) {
    resetSharedState();
    MainWindow window;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 200; ++i) window.port().postMessage(WM_APP_UPDATE_VISUALS);
        });
    }
    // Handled in the other order, these would leave "Recording..." behind.
    posters.emplace_back([&] {
        window.port().postMessage(WM_APP_RECORDING_STARTED);
        window.port().postMessage(WM_APP_RECORDING_DONE);
    });
    for (std::thread& t : posters) t.join();
    const QString ended = QString::fromStdWString(takeEndStatus());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (window.findChild<QLabel*>()->text() != ended && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(window.findChild<QLabel*>()->text(), ended);
    EXPECT_FALSE(window.port().takePostedItem().has_value());
}

const QColor FACE(236, 236, 236);
constexpr Color INK{255, 40, 40};

// The pixels a drawing inks on a 40 x 20 button face.
std::vector<QPoint> inked(void (*draw)(Canvas&)) {
    QImage image(40, 20, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        QPainterCanvas canvas(painter, FACE);
        canvas.fillBackground(Rect{0, 0, 40, 20});
        draw(canvas);
    }
    std::vector<QPoint> points;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != FACE) points.emplace_back(x, y);
        }
    }
    return points;
}

template <int X0, int Y0, int X1, int Y1, PenStyle STYLE = PenStyle::Solid, int WIDTH = 1>
void line(Canvas& c) {
    c.selectPen(STYLE, WIDTH, INK);
    c.moveTo(X0, Y0);
    c.lineTo(X1, Y1);
    c.restorePen();
}

TEST(QPainterCanvas, LinesAndFillsLandOnTheExpectedPixels) {
    const struct {
        const char* name;
        void (*draw)(Canvas&);
        std::vector<QPoint> expected;
    } cases[] = {
        {"horizontal line stops short of its end", line<2, 5, 6, 5>, {{2, 5}, {3, 5}, {4, 5}, {5, 5}}},
        {"vertical line stops short of its end", line<7, 1, 7, 4>, {{7, 1}, {7, 2}, {7, 3}}},
        {"one-pixel step draws only its start", line<3, 3, 4, 4>, {{3, 3}}},
        {"zero-length line draws nothing", line<3, 3, 3, 3>, {}},
        {"fill excludes right and bottom edges",
         [](Canvas& c) {
             c.fillRect(Rect{1, 2, 3, 4}, INK);
         },
         {{1, 2}, {2, 2}, {1, 3}, {2, 3}}},
        {"empty fill draws nothing",
         [](Canvas& c) {
             c.fillRect(Rect{5, 5, 5, 9}, INK);
         },
         {}},
    };
    for (const auto& c : cases) EXPECT_EQ(inked(c.draw), c.expected) << c.name;

    const size_t dots = inked(line<0, 10, 40, 10, PenStyle::Dot>).size();
    EXPECT_TRUE(dots > 5 && dots < 30) << dots << " dotted pixels";
    EXPECT_EQ(inked(line<10, 0, 10, 20, PenStyle::Solid, 2>).size(), 40u);

    // Text hangs below and right of its anchor, on a transparent background.
    const std::vector<QPoint> text = inked([](Canvas& c) { c.drawText(4, 3, L"Peak: 1000.0 Hz", INK); });
    ASSERT_FALSE(text.empty());
    for (const QPoint& p : text) EXPECT_TRUE(p.x() >= 4 && p.y() >= 3) << p.x() << "," << p.y();
    EXPECT_LT(text.size(), 36u * 17u / 2u);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
