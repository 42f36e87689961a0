// Implemented features:
//  - full repaint of one panel per paint event, repeated update() requests
//    before the paint coalescing into one
//  - the background in the palette's button colour (the desktop's button face)
//  - an accessible name per panel and the spectrum's peak label as its
//    description; the level meter a progress bar whose value is the level in
//    percent (0 to 100). All are read when a screen reader asks: no event
//    announces a change, so nothing speaks on its own while recording
#include "platform/linux/panel_widget.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QPalette>

#include "base/messages.h"
#include "panels/panels.h"
#include "platform/linux/qpainter_canvas.h"

namespace {

class PanelAccessible : public QAccessibleWidget {
public:
    explicit PanelAccessible(PanelWidget* panel, QAccessible::Role role = QAccessible::Graphic)
        : QAccessibleWidget(panel, role) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Description) return static_cast<const PanelWidget*>(widget())->description();
        return QAccessibleWidget::text(t);
    }
};

// The level, computed when asked: no copy to keep up to date at each repaint.
class LevelAccessible final : public PanelAccessible, public QAccessibleValueInterface {
public:
    explicit LevelAccessible(PanelWidget* panel) : PanelAccessible(panel, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : PanelAccessible::interface_cast(type);
    }
    QVariant currentValue() const override { return levelPercent(); }
    void setCurrentValue(const QVariant&) override {}  // shown, never set
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

QAccessibleInterface* panelAccessible(const QString&, QObject* object) {
    auto* panel = dynamic_cast<PanelWidget*>(object);
    if (!panel) return nullptr;
    return panel->controlId() == IDC_VOLUME_METER ? new LevelAccessible(panel) : new PanelAccessible(panel);
}

const wchar_t* panelName(int controlId) {
    switch (controlId) {
    case IDC_VOLUME_METER:
        return LEVEL_PANEL_NAME;
    case IDC_WAVEFORM:
        return WAVEFORM_PANEL_NAME;
    default:
        return SPECTRUM_PANEL_NAME;
    }
}

}  // namespace

PanelWidget::PanelWidget(int controlId, QWidget* parent) : QWidget(parent), controlId_(controlId) {
    // Every paint covers the whole panel, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Before the name: naming a panel may already make its interface.
    static const bool factoryInstalled = (QAccessible::installFactory(panelAccessible), true);
    (void)factoryInstalled;
    setAccessibleName(QString::fromWCharArray(panelName(controlId)));
}

QString PanelWidget::description() const {
    return controlId_ == IDC_SPECTRUM && drawn_ ? QString::fromStdWString(peakLabel()) : QString();
}

void PanelWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPainterCanvas canvas(painter, palette().color(QPalette::Button), text_);
    drawn_ = drawPanel(controlId_, canvas, Rect{0, 0, width(), height()});
}
