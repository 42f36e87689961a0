#include "panels/panels.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "base/messages.h"
#include "base/shared_state.h"

namespace {

// Samples are read oldest first; n / width samples per pixel, at least one.
size_t columnStep(size_t n, int32_t width) {
    return n < static_cast<size_t>(width) ? 1 : n / static_cast<size_t>(width);
}

// What the spectrum panel shows of the bins: their count, the first of the
// largest (0 when none is above 0) and each column's average.
struct SpectrumColumns {
    size_t bins = 0;
    size_t peak = 0;
    std::vector<float> averages;
};

// The same bin as a scan that keeps the first bin greater than every one
// before it, found in two passes that do not wait on each comparison in turn:
// the largest value (which does not depend on the order its bins are met
// in), then the first bin holding it.
size_t firstLargestBin(const float* bins, size_t n) {
    constexpr size_t LANES = 8;
    float lanes[LANES] = {};
    size_t j = 0;
    for (; j + LANES <= n; j += LANES)
        for (size_t i = 0; i < LANES; ++i) lanes[i] = bins[j + i] > lanes[i] ? bins[j + i] : lanes[i];
    float maximum = 0.0f;
    for (; j < n; ++j) maximum = bins[j] > maximum ? bins[j] : maximum;
    for (const float lane : lanes) maximum = lane > maximum ? lane : maximum;
    return maximum > 0.0f ? static_cast<size_t>(std::find(bins, bins + n, maximum) - bins) : 0;
}

// Worked out under the lock from the shared bins, which are never copied
// whole (128 KiB per repaint), into storage the painting thread keeps.
const SpectrumColumns& spectrumColumns(int32_t width) {
    thread_local SpectrumColumns view;
    view.averages.clear();
    std::lock_guard<std::mutex> lock(spectrumMutex);
    const float* const bins = spectrumBuffer.data();
    const size_t n = view.bins = spectrumBuffer.size();
    if (n <= 1) return view;
    view.peak = firstLargestBin(bins, n);
    // Columns whose bins all exist, at most one per pixel. Each column's sum
    // runs in bin order; four columns at a time keep four chains of
    // additions in flight instead of one.
    const size_t step = columnStep(n, width);
    const size_t count = std::min<size_t>((n - 1) / step, static_cast<size_t>(width));
    view.averages.resize(count);
    size_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const float* const column = bins + k * step;
        float sums[4] = {};
        for (size_t j = 0; j < step; ++j)
            for (size_t c = 0; c < 4; ++c) sums[c] += column[c * step + j];
        for (size_t c = 0; c < 4; ++c) view.averages[k + c] = sums[c] / static_cast<float>(step);
    }
    for (; k < count; ++k) {
        float sum = 0.0f;
        for (size_t j = k * step; j < k * step + step; ++j) sum += bins[j];
        view.averages[k] = sum / static_cast<float>(step);
    }
    return view;
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
    const SpectrumColumns& view = spectrumColumns(width);
    const size_t n = view.bins;
    if (n <= 1) return false;
    const size_t peak = view.peak;

    canvas.selectPen(PenStyle::Solid, 1, palette.spectrum);
    for (int32_t k = 0; static_cast<size_t>(k) < view.averages.size(); ++k) {
        const float average = view.averages[k];
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
