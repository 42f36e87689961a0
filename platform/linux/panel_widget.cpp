// Implemented features:
//  - full repaint of one panel per paint event, repeated update() requests
//    before the paint coalescing into one
//  - the background in the palette's button colour (the desktop's button face)
#include "platform/linux/panel_widget.h"

#include <QPainter>
#include <QPalette>

#include "panels/panels.h"
#include "platform/linux/qpainter_canvas.h"

PanelWidget::PanelWidget(int controlId, QWidget* parent) : QWidget(parent), controlId_(controlId) {
    // Every paint covers the whole panel, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PanelWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPainterCanvas canvas(painter, palette().color(QPalette::Button));
    drawPanel(controlId_, canvas, Rect{0, 0, width(), height()});
}
