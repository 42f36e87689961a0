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

QPainterCanvas::~QPainterCanvas() { drawPendingLines(); }

// Before anything else is drawn or the pen changes, so that what is drawn
// later still lands on top.
void QPainterCanvas::drawPendingLines() {
    if (pendingLines_.isEmpty()) return;
    painter_.drawLines(pendingLines_.constData(), static_cast<int>(pendingLines_.size()));
    pendingLines_.clear();
}

void QPainterCanvas::fillBackground(const Rect& rect) {
    drawPendingLines();
    painter_.fillRect(toQRect(rect), buttonFace_);
}

void QPainterCanvas::fillRect(const Rect& rect, Color color) {
    drawPendingLines();
    painter_.fillRect(toQRect(rect), toQColor(color));
}

void QPainterCanvas::selectPen(PenStyle style, int width, Color color) {
    drawPendingLines();
    previousPen_ = painter_.pen();
    QPen pen(toQColor(color), width, style == PenStyle::Dot ? Qt::DotLine : Qt::SolidLine);
    pen.setCapStyle(Qt::FlatCap);
    painter_.setPen(pen);
}

void QPainterCanvas::restorePen() {
    drawPendingLines();
    painter_.setPen(previousPen_);
}

void QPainterCanvas::moveTo(int32_t x, int32_t y) {
    x_ = x;
    y_ = y;
}

void QPainterCanvas::lineTo(int32_t x, int32_t y) {
    if (x != x_ || y != y_) pendingLines_.append(QLine(x_, y_, x, y));
    x_ = x;
    y_ = y;
}

void QPainterCanvas::drawText(int32_t x, int32_t y, const std::wstring& text, Color color) {
    drawPendingLines();
    const QPen pen = painter_.pen();
    painter_.setPen(toQColor(color));
    const QFontMetrics metrics(painter_.font());
    painter_.drawText(x, y + metrics.ascent(), QString::fromStdWString(text));
    painter_.setPen(pen);
}
