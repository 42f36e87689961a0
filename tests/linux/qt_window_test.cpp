// What the end-to-end run cannot reach: the layout at other window sizes,
// messages posted from many threads at once, and the QPainter canvas's
// pixels (lines without their end pixel, exact fills, text below its anchor).
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>

#include <functional>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "base/messages.h"
#include "platform/linux/main_window.h"
#include "platform/linux/qpainter_canvas.h"

namespace {

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
    const QLabel* status = window.findChild<QLabel*>();
    for (int i = 0; i < 500 && status->text() != ended; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(status->text(), ended);
    EXPECT_FALSE(window.port().takePostedItem().has_value());
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
