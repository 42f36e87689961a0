// Implemented features:
//  - background, solid fills, solid and dotted pens of any width
//  - lines that exclude their end point, a zero-length line draws nothing;
//    one-pixel solid ones set pixel by pixel into the image the painter
//    paints on (a widget's backing store), where it is one without scaling
//  - text in the widget's default font, top-left anchored, no background;
//    laid out again only when it changes
#include "platform/linux/qpainter_canvas.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QRect>
#include <QString>

#include <cstdlib>

namespace {

QRect toQRect(const Rect& rect) {
    return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

QColor toQColor(Color color) { return QColor(color.r, color.g, color.b); }

}  // namespace

QPainterCanvas::QPainterCanvas(QPainter& painter, QColor buttonFace, QStaticText& text)
    : painter_(painter), buttonFace_(buttonFace), text_(text) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    // Qt clips and transforms each line on its own, which costs more than
    // the rest of a waveform's repaint; set into the image, a segment of a
    // few pixels costs a few stores. Only where the painter neither scales
    // nor converts what it paints.
    QPaintEngine* const engine = painter_.paintEngine();
    auto* const image = engine != nullptr && engine->type() == QPaintEngine::Raster
                            ? dynamic_cast<QImage*>(engine->paintDevice())
                            : nullptr;
    const QTransform toDevice = painter_.deviceTransform();
    if (image == nullptr || image->devicePixelRatio() != 1.0 || toDevice.type() > QTransform::TxTranslate ||
        toDevice.dx() != static_cast<int>(toDevice.dx()) || toDevice.dy() != static_cast<int>(toDevice.dy()))
        return;
    const QImage::Format format = image->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return;
    // A widget's painter may paint only the part of the window being repainted.
    const QRegion systemClip = engine->systemClip();
    paintable_ = systemClip.isEmpty() ? image->rect() : systemClip.boundingRect() & image->rect();
    origin_ = QPoint(static_cast<int>(toDevice.dx()), static_cast<int>(toDevice.dy()));
    pixels_ = image->bits();
    stride_ = image->bytesPerLine();
}

QPainterCanvas::~QPainterCanvas() { drawPendingLines(); }

// Before anything else is drawn or the pen changes, so that what is drawn
// later still lands on top.
void QPainterCanvas::drawPendingLines() {
    if (pendingLines_.isEmpty()) return;
    const QPen& pen = painter_.pen();
    if (pixels_ == nullptr || pen.style() != Qt::SolidLine || pen.width() > 1 || pen.color().alpha() != 255 ||
        painter_.opacity() != 1.0 || painter_.hasClipping() ||
        painter_.compositionMode() != QPainter::CompositionMode_SourceOver) {
        painter_.drawLines(pendingLines_.constData(), static_cast<int>(pendingLines_.size()));
        pendingLines_.clear();
        return;
    }
    // Bresenham's steps from the first pixel up to, not including, the last.
    const QRgb ink = pen.color().rgba();
    for (const QLine& line : pendingLines_) {
        int x = line.x1() + origin_.x(), y = line.y1() + origin_.y();
        const int xEnd = line.x2() + origin_.x(), yEnd = line.y2() + origin_.y();
        const int dx = std::abs(xEnd - x), dy = -std::abs(yEnd - y);
        const int sx = x < xEnd ? 1 : -1, sy = y < yEnd ? 1 : -1;
        for (int error = dx + dy; x != xEnd || y != yEnd;) {
            if (paintable_.contains(x, y)) reinterpret_cast<QRgb*>(pixels_ + y * stride_)[x] = ink;
            const int twice = 2 * error;
            if (twice >= dy) error += dy, x += sx;
            if (twice <= dx) error += dx, y += sy;
        }
    }
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

// The peak label is redrawn five times a second and mostly reads the same;
// shaping it each time cost the spectrum's repaint more than its trace.
void QPainterCanvas::drawText(int32_t x, int32_t y, const std::wstring& text, Color color) {
    drawPendingLines();
    const QString wanted = QString::fromStdWString(text);
    if (text_.text() != wanted) {
        text_.setText(wanted);
        text_.setTextFormat(Qt::PlainText);
    }
    const QPen pen = painter_.pen();
    painter_.setPen(toQColor(color));
    painter_.drawStaticText(QPoint(x, y), text_);
    painter_.setPen(pen);
}
