// Implemented features:
//  - background, solid fills, solid and dotted pens of any width
//  - lines that exclude their end point, a zero-length line draws nothing
//  - text in the widget's default font, top-left anchored, no background
#include "platform/linux/qpainter_canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <QString>

namespace {

QRect toQRect(const Rect& rect) {
    return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

QColor toQColor(Color color) { return QColor(color.r, color.g, color.b); }

}  // namespace

QPainterCanvas::QPainterCanvas(QPainter& painter, QColor buttonFace)
    : painter_(painter), buttonFace_(buttonFace) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
}

void QPainterCanvas::fillBackground(const Rect& rect) { painter_.fillRect(toQRect(rect), buttonFace_); }

void QPainterCanvas::fillRect(const Rect& rect, Color color) {
    painter_.fillRect(toQRect(rect), toQColor(color));
}

void QPainterCanvas::selectPen(PenStyle style, int width, Color color) {
    previousPen_ = painter_.pen();
    QPen pen(toQColor(color), width, style == PenStyle::Dot ? Qt::DotLine : Qt::SolidLine);
    pen.setCapStyle(Qt::FlatCap);
    painter_.setPen(pen);
}

void QPainterCanvas::restorePen() { painter_.setPen(previousPen_); }

void QPainterCanvas::moveTo(int32_t x, int32_t y) {
    x_ = x;
    y_ = y;
}

void QPainterCanvas::lineTo(int32_t x, int32_t y) {
    if (x != x_ || y != y_) painter_.drawLine(x_, y_, x, y);
    x_ = x;
    y_ = y;
}

void QPainterCanvas::drawText(int32_t x, int32_t y, const std::wstring& text, Color color) {
    const QPen pen = painter_.pen();
    painter_.setPen(toQColor(color));
    const QFontMetrics metrics(painter_.font());
    painter_.drawText(x, y + metrics.ascent(), QString::fromStdWString(text));
    painter_.setPen(pen);
}
