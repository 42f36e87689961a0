#pragma once
// Implemented features: an owner-drawn panel that repaints itself completely
// through the core's panel drawing on every paint event.
#include <QWidget>

class PanelWidget final : public QWidget {
public:
    // controlId: IDC_VOLUME_METER, IDC_WAVEFORM or IDC_SPECTRUM.
    PanelWidget(int controlId, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int controlId_;
};
