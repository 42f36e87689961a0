#pragma once
// Implemented features: the panels' canvas over a QPainter, drawn without
// antialiasing so that lines and fills land on whole pixels as the panels
// compute them; one-pixel solid lines set straight into the painter's image
// when it paints on one unscaled.
#include <QColor>
#include <QLine>
#include <QPen>
#include <QRect>
#include <QStaticText>
#include <QVarLengthArray>

#include "panels/canvas.h"

class QPainter;

// Lives for one paint event; the painter must outlive it. Window thread only.
class QPainterCanvas final : public Canvas {
public:
    // buttonFace: the colour fillBackground uses (the palette's button colour);
    // text: where the layout of the text drawn is kept from paint to paint.
    QPainterCanvas(QPainter& painter, QColor buttonFace, QStaticText& text);
    ~QPainterCanvas() override;

    void fillBackground(const Rect& rect) override;
    void fillRect(const Rect& rect, Color color) override;
    void selectPen(PenStyle style, int width, Color color) override;
    void restorePen() override;
    void moveTo(int32_t x, int32_t y) override;
    // Flat caps leave the end pixel out, as the panels expect.
    void lineTo(int32_t x, int32_t y) override;
    void drawText(int32_t x, int32_t y, const std::wstring& text, Color color) override;

private:
    void drawPendingLines();

    QPainter& painter_;
    QColor buttonFace_;
    QStaticText& text_;
    QPen previousPen_;
    // The painter's image, when lines may be set into it directly: its pixels,
    // bytes per row, and what the painter may paint of it (device pixels).
    uchar* pixels_ = nullptr;
    qsizetype stride_ = 0;
    QRect paintable_;
    QPoint origin_;  // where the painter's (0, 0) lies in the image
    int32_t x_ = 0;
    int32_t y_ = 0;
    // Lines of the current pen not drawn yet: a waveform is hundreds of
    // segments, and the painter draws them as one call far faster than one by one.
    QVarLengthArray<QLine, 1024> pendingLines_;
};
