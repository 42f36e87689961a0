#pragma once
// Implemented features: an owner-drawn panel that repaints itself completely
// through the core's panel drawing on every paint event, and tells screen
// readers its name, for the spectrum the peak label it shows and for the
// level meter the level in percent.
#include <QStaticText>
#include <QString>
#include <QWidget>

class PanelWidget final : public QWidget {
public:
    // controlId: IDC_VOLUME_METER, IDC_WAVEFORM or IDC_SPECTRUM.
    PanelWidget(int controlId, QWidget* parent);

    // What a screen reader gives as the panel's description: the label the
    // spectrum shows, read when asked; empty for the other panels and while
    // the spectrum shows nothing. Window thread only.
    QString description() const;
    int controlId() const { return controlId_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int controlId_;
    bool drawn_ = false;  // the last paint drew the panel's contents
    QStaticText text_;    // the label it shows, laid out
};
