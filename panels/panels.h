#pragma once
// The three owner-drawn panels. Each paint fills its whole rectangle and then
// draws from a private snapshot of the shared values. Window thread only.
#include <optional>
#include <string>

#include "panels/canvas.h"

// The colours the panels draw with. A platform may hand its own (the system's
// colours of a high-contrast theme); without one they draw with these.
struct PanelPalette {
    std::optional<Color> background;  // none: the canvas's button face
    Color levelBar;
    Color centreLine;  // dotted, across the waveform
    Color waveform;
    Color spectrum;
    Color peakMarker;
    Color peakLabel;
};
constexpr PanelPalette DEFAULT_PANEL_PALETTE{std::nullopt,   {0, 200, 0},   {180, 180, 180}, {0, 150, 255},
                                             {220, 120, 60}, {255, 40, 40}, {255, 40, 40}};

bool drawLevelMeter(Canvas& canvas, const Rect& rect, const PanelPalette& palette = DEFAULT_PANEL_PALETTE);
// False when the history holds fewer than two samples.
bool drawWaveform(Canvas& canvas, const Rect& rect, const PanelPalette& palette = DEFAULT_PANEL_PALETTE);
// False when the spectrum holds fewer than two bins.
bool drawSpectrum(Canvas& canvas, const Rect& rect, const PanelPalette& palette = DEFAULT_PANEL_PALETTE);

// True when the level meter, drawn now, would differ from its last drawing:
// a level that moves the bar by less than a pixel is no reason to repaint it.
bool levelMeterOutdated();

// The spectrum's label as it is drawn ("Peak: 997.0 Hz"): screen readers get
// it as the spectrum's description.
std::wstring peakLabel();
// The level the meter shows, in whole percent of its full width (0 to 100):
// screen readers get it as the meter's value.
int levelPercent();

// Names screen readers give the panels, by control id.
constexpr const wchar_t* LEVEL_PANEL_NAME = L"Level";
constexpr const wchar_t* WAVEFORM_PANEL_NAME = L"Waveform";
constexpr const wchar_t* SPECTRUM_PANEL_NAME = L"Spectrum";

// Dispatch by control id; false (nothing drawn) for any other id.
bool drawPanel(int controlId, Canvas& canvas, const Rect& rect,
               const PanelPalette& palette = DEFAULT_PANEL_PALETTE);
