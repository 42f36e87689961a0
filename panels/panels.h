#pragma once
// The three owner-drawn panels. Each paint fills its whole rectangle and then
// draws from a private snapshot of the shared values. Window thread only.
#include <string>

#include "panels/canvas.h"

constexpr Color LEVEL_BAR_COLOR{0, 200, 0};
constexpr Color CENTRE_LINE_COLOR{180, 180, 180};
constexpr Color WAVEFORM_COLOR{0, 150, 255};
constexpr Color SPECTRUM_COLOR{220, 120, 60};
constexpr Color PEAK_COLOR{255, 40, 40};

bool drawLevelMeter(Canvas& canvas, const Rect& rect);
// False when the history holds fewer than two samples.
bool drawWaveform(Canvas& canvas, const Rect& rect);
// False when the spectrum holds fewer than two bins.
bool drawSpectrum(Canvas& canvas, const Rect& rect);

// The spectrum's label as it is drawn ("Peak: 997.0 Hz"): screen readers get
// it as the spectrum's description.
std::wstring peakLabel();

// Names screen readers give the panels, by control id.
constexpr const wchar_t* LEVEL_PANEL_NAME = L"Level";
constexpr const wchar_t* WAVEFORM_PANEL_NAME = L"Waveform";
constexpr const wchar_t* SPECTRUM_PANEL_NAME = L"Spectrum";

// Dispatch by control id; false (nothing drawn) for any other id.
bool drawPanel(int controlId, Canvas& canvas, const Rect& rect);
