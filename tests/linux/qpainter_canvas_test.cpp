// The QPainter canvas rasterises the panels' calls as the panels assume:
// lines without their end pixel, exact fills, text hanging below its anchor.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "platform/linux/qpainter_canvas.h"

namespace {

const QColor FACE(236, 236, 236);
constexpr Color INK{255, 40, 40};

// Paints on a 40 x 20 image of the button face and returns the image.
template <class Draw>
QImage paint(Draw draw) {
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        QPainterCanvas canvas(painter, FACE);
        canvas.fillBackground(Rect{0, 0, 40, 20});
        draw(canvas);
    }
    return image;
}

std::vector<QPoint> inked(const QImage& image) {
    std::vector<QPoint> points;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != FACE) points.emplace_back(x, y);
        }
    }
    return points;
}

TEST(QPainterCanvasTest, LinesAndFillsLandOnTheExpectedPixels) {
    const struct {
        const char* name;
        void (*draw)(Canvas&);
        std::vector<QPoint> expected;
    } cases[] = {
        {"horizontal line stops short of its end",
         [](Canvas& c) {
             c.selectPen(PenStyle::Solid, 1, INK);
             c.moveTo(2, 5);
             c.lineTo(6, 5);
             c.restorePen();
         },
         {{2, 5}, {3, 5}, {4, 5}, {5, 5}}},
        {"vertical line stops short of its end",
         [](Canvas& c) {
             c.selectPen(PenStyle::Solid, 1, INK);
             c.moveTo(7, 1);
             c.lineTo(7, 4);
             c.restorePen();
         },
         {{7, 1}, {7, 2}, {7, 3}}},
        {"one-pixel step draws only its start",
         [](Canvas& c) {
             c.selectPen(PenStyle::Solid, 1, INK);
             c.moveTo(3, 3);
             c.lineTo(4, 4);
             c.restorePen();
         },
         {{3, 3}}},
        {"zero-length line draws nothing",
         [](Canvas& c) {
             c.selectPen(PenStyle::Solid, 1, INK);
             c.moveTo(3, 3);
             c.lineTo(3, 3);
             c.restorePen();
         },
         {}},
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = paint(c.draw);
        EXPECT_EQ(inked(image), c.expected);
        for (const QPoint& p : inked(image)) EXPECT_EQ(image.pixelColor(p), QColor(255, 40, 40));
    }
}

TEST(QPainterCanvasTest, DottedPenLeavesGapsAndWidePenIsWide) {
    const QImage dotted = paint([](Canvas& c) {
        c.selectPen(PenStyle::Dot, 1, INK);
        c.moveTo(0, 10);
        c.lineTo(40, 10);
        c.restorePen();
    });
    const size_t dots = inked(dotted).size();
    EXPECT_GT(dots, 5u);
    EXPECT_LT(dots, 30u);

    const QImage wide = paint([](Canvas& c) {
        c.selectPen(PenStyle::Solid, 2, INK);
        c.moveTo(10, 0);
        c.lineTo(10, 20);
        c.restorePen();
    });
    EXPECT_EQ(inked(wide).size(), 40u);
}

TEST(QPainterCanvasTest, TextHangsBelowItsTopLeftCornerWithoutBackground) {
    const QImage image = paint([](Canvas& c) { c.drawText(4, 3, L"Peak: 1000.0 Hz", INK); });
    const std::vector<QPoint> points = inked(image);
    ASSERT_FALSE(points.empty());
    for (const QPoint& p : points) {
        EXPECT_GE(p.x(), 4);
        EXPECT_GE(p.y(), 3);
    }
    // Transparent background: far fewer inked pixels than the text's box.
    EXPECT_LT(points.size(), 36u * 17u / 2u);
}

TEST(QPainterCanvasTest, RestoredPenIsThePreviousOne) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const QPen before(QColor(1, 2, 3), 3);
    painter.setPen(before);
    QPainterCanvas canvas(painter, FACE);
    canvas.selectPen(PenStyle::Dot, 1, INK);
    EXPECT_EQ(painter.pen().style(), Qt::DotLine);
    canvas.restorePen();
    EXPECT_EQ(painter.pen(), before);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
