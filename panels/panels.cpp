#include "panels/panels.h"

#include <cstdio>
#include <cwchar>
#include <vector>

#include "base/messages.h"
#include "base/shared_state.h"

namespace {

// A private copy of the spectrum, in storage the painting thread keeps: 128 KiB
// of fresh memory per repaint would be mapped, faulted in and unmapped again.
const std::vector<float>& spectrumSnapshot() {
    thread_local std::vector<float> copy;
    std::lock_guard<std::mutex> lock(spectrumMutex);
    copy.assign(spectrumBuffer.begin(), spectrumBuffer.end());
    return copy;
}

// Samples are read oldest first; n / width samples per pixel, at least one.
size_t columnStep(size_t n, int32_t width) {
    return n < static_cast<size_t>(width) ? 1 : n / static_cast<size_t>(width);
}

// Pixel offset of a sample from the centre line, positive upwards.
int32_t sampleOffset(int16_t sample, int32_t height) {
    const int32_t half = (static_cast<int32_t>(sample) * height) / 2;
    return static_cast<int32_t>(static_cast<float>(half) / 32768.0f);
}

// The history's samples that the columns show, oldest first: every
// columnStep-th one, at most one per column. Only these are copied under the
// lock, never the whole history.
const std::vector<int16_t>& waveformColumns(int32_t width) {
    thread_local std::vector<int16_t> columns;
    columns.clear();
    std::lock_guard<std::mutex> lock(waveformMutex);
    const size_t n = waveformBufferL.size();
    const size_t step = columnStep(n, width);
    for (size_t k = 0; k * step < n && k < static_cast<size_t>(width); ++k)
        columns.push_back(waveformBufferL[k * step]);
    return columns;
}

// The level meter as drawn last: its width and its bar's. Window thread only.
struct DrawnLevelMeter {
    int32_t width = -1;
    int32_t bar = -1;
} drawnLevelMeter;

int32_t levelBarWidth(int32_t width, float level) {
    return static_cast<int32_t>(static_cast<float>(width) * level);
}

void fillBackground(Canvas& canvas, const Rect& rect, const PanelPalette& palette) {
    if (palette.background)
        canvas.fillRect(rect, *palette.background);
    else
        canvas.fillBackground(rect);
}

}  // namespace

bool drawLevelMeter(Canvas& canvas, const Rect& rect, const PanelPalette& palette) {
    fillBackground(canvas, rect, palette);
    const int32_t width = rect.right - rect.left;
    const int32_t barWidth = levelBarWidth(width, currentLevel);
    drawnLevelMeter = {width, barWidth};
    Rect bar = rect;
    bar.right = rect.left + barWidth;
    canvas.fillRect(bar, palette.levelBar);
    return true;
}

bool levelMeterOutdated() {
    return drawnLevelMeter.width < 0 ||
           levelBarWidth(drawnLevelMeter.width, currentLevel) != drawnLevelMeter.bar;
}

bool drawWaveform(Canvas& canvas, const Rect& rect, const PanelPalette& palette) {
    fillBackground(canvas, rect, palette);
    const int32_t width = rect.right - rect.left;
    const int32_t height = rect.bottom - rect.top;
    const int32_t mid = (rect.top + rect.bottom) / 2;
    if (width <= 0) return true;  // nothing to scale to; never divide by zero

    canvas.selectPen(PenStyle::Dot, 1, palette.centreLine);
    canvas.moveTo(rect.left, mid);
    canvas.lineTo(rect.right, mid);
    canvas.restorePen();

    const std::vector<int16_t>& columns = waveformColumns(width);
    if (columns.size() <= 1) return false;

    canvas.selectPen(PenStyle::Solid, 1, palette.waveform);
    for (int32_t i = 1; static_cast<size_t>(i) < columns.size(); ++i) {
        canvas.moveTo(rect.left + i - 1, mid - sampleOffset(columns[i - 1], height));
        canvas.lineTo(rect.left + i, mid - sampleOffset(columns[i], height));
    }
    canvas.restorePen();
    return true;
}

bool drawSpectrum(Canvas& canvas, const Rect& rect, const PanelPalette& palette) {
    fillBackground(canvas, rect, palette);
    const int32_t width = rect.right - rect.left;
    const int32_t height = rect.bottom - rect.top;
    if (width <= 0) return true;  // nothing to scale to; never divide by zero
    const std::vector<float>& bins = spectrumSnapshot();
    const size_t n = bins.size();
    if (n <= 1) return false;

    const size_t step = columnStep(n, width);
    float maximum = 0.0f;
    size_t peak = 0;
    for (size_t j = 0; j < n; ++j) {
        if (bins[j] > maximum) {
            maximum = bins[j];
            peak = j;
        }
    }

    canvas.selectPen(PenStyle::Solid, 1, palette.spectrum);
    for (int32_t k = 0; static_cast<size_t>(k) * step + step < n && k < width; ++k) {
        const size_t start = static_cast<size_t>(k) * step;
        float sum = 0.0f;
        for (size_t j = start; j < start + step; ++j) sum += bins[j];
        const float average = sum / static_cast<float>(step);
        const int32_t x = rect.left + k;
        const int32_t y = rect.top + static_cast<int32_t>(static_cast<float>(height - 2) * (1.0f - average));
        if (k == 0)
            canvas.moveTo(x, y);
        else
            canvas.lineTo(x, y);
    }
    canvas.restorePen();

    const uint64_t scaled = static_cast<uint64_t>(width) * peak;
    const int32_t xPeak =
        rect.left + static_cast<int32_t>(static_cast<float>(scaled) / static_cast<float>(n));
    canvas.selectPen(PenStyle::Solid, 2, palette.peakMarker);
    canvas.moveTo(xPeak, rect.top);
    canvas.lineTo(xPeak, rect.bottom);
    canvas.restorePen();

    canvas.drawText(rect.right - 120, rect.top + 2, peakLabel(), palette.peakLabel);
    return true;
}

std::wstring peakLabel() {
    wchar_t label[64];
    std::swprintf(label, 64, L"Peak: %.1f Hz", static_cast<double>(dominantFreqHz.load()));
    return label;
}

int levelPercent() {
    const float level = currentLevel;
    return level <= 0.0f ? 0 : level >= 1.0f ? 100 : static_cast<int>(level * 100.0f + 0.5f);
}

bool drawPanel(int controlId, Canvas& canvas, const Rect& rect, const PanelPalette& palette) {
    switch (controlId) {
    case IDC_VOLUME_METER:
        return drawLevelMeter(canvas, rect, palette);
    case IDC_WAVEFORM:
        return drawWaveform(canvas, rect, palette);
    case IDC_SPECTRUM:
        return drawSpectrum(canvas, rect, palette);
    default:
        return false;
    }
}
