#include "recording/live_feed.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "base/shared_state.h"
#include "spectrum/spectrum_worker.h"

std::chrono::steady_clock::time_point lastFFT;

namespace {

// The level needs a few cycles of the signal behind it. A sound server may hand
// over a few frames at a time between its full fragments (a null sink's
// monitor does), and the level of 3 frames of a steady tone lands anywhere
// between silence and its peak: the meter would flicker. So packets shorter
// than a hundredth of a second are summed until together they are that long;
// a packet that long or longer is measured alone, as it always was.
constexpr int32_t LEVEL_READINGS_PER_SECOND = 100;

// Squares of the samples of the short packets not measured yet, per channel.
float pendingSquares[2] = {0.0f, 0.0f};
size_t pendingFrames = 0;
uint64_t levelReadings = 0;  // completed, ever

// Whether a repaint would draw anything new: the views of silence stand still,
// and a take that is quiet costs no repaints. Frames appended to the history
// since its last sample that was not zero (at least this many: counting stops
// at the history's length), and whether the views changed since they were
// last asked about.
size_t framesSinceSound = 0;
bool viewsChanged = true;

// Sum of the squares of one channel (every step-th sample from first, frames
// of them), in order, in single precision.
float channelSquares(const int16_t* first, size_t step, size_t frames) {
    float sum = 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        const int32_t s = first[f * step];
        sum += static_cast<float>(s * s);
    }
    return sum;
}

// Root mean square, 0.0 .. 1.0 of full scale (32,768).
float level(float squares, size_t frames) {
    return std::sqrt(squares / static_cast<float>(frames)) / 32768.0f;
}

}  // namespace

void restartLevelReading() {
    pendingSquares[0] = pendingSquares[1] = 0.0f;
    pendingFrames = 0;
}

bool levelReadingUnderWay() { return pendingFrames != 0; }

uint64_t levelReadingCount() { return levelReadings; }

bool takeLiveViewsChanged() { return std::exchange(viewsChanged, false); }

void restartLiveViews() {
    restartLevelReading();
    framesSinceSound = 0;  // whatever the history holds may be sound
    viewsChanged = true;
}

// Runs for every packet, so it allocates nothing once the history has reached
// its full length: channels are read in place rather than split into copies,
// and the FFT block reuses storage the spectrum worker has finished with.
void feedLiveAnalysis(const std::vector<int16_t>& packetSamples, int channels,
                      std::chrono::steady_clock::time_point now) {
    const size_t step = channels == 2 ? 2 : 1;
    const size_t frames = packetSamples.size() / step;  // a stereo packet's odd last sample is dropped

    {
        // Held from the append to the hand-off so that no reader sees the
        // history between its append and its trim.
        std::lock_guard<std::mutex> lock(waveformMutex);
        // Trimmed before it grows, and never longer than it is shown: however
        // long a packet (a hole the server skipped), the history holds
        // MAX_WAVEFORM_SIZE samples at most.
        const size_t incoming = std::min(frames, MAX_WAVEFORM_SIZE);
        const size_t excess = waveformBufferL.size() + incoming > MAX_WAVEFORM_SIZE
                                  ? waveformBufferL.size() + incoming - MAX_WAVEFORM_SIZE
                                  : 0;
        waveformBufferL.erase(waveformBufferL.begin(),
                              waveformBufferL.begin() + static_cast<std::ptrdiff_t>(excess));
        if (waveformBufferL.capacity() < MAX_WAVEFORM_SIZE) waveformBufferL.reserve(MAX_WAVEFORM_SIZE);
        const size_t held = waveformBufferL.size();
        const bool soundShown = framesSinceSound < held;
        waveformBufferL.resize(held + incoming);
        for (size_t f = 0; f < incoming; ++f) {
            const int16_t sample = packetSamples[(frames - incoming + f) * step];
            waveformBufferL[held + f] = sample;
            framesSinceSound = sample != 0 ? 0 : std::min(framesSinceSound + 1, MAX_WAVEFORM_SIZE);
        }
        // A longer history draws a longer trace; sound moves along it, and
        // draws nothing new only once it has left.
        if (excess != incoming || soundShown || framesSinceSound < waveformBufferL.size())
            viewsChanged = true;

        if (waveformBufferL.size() >= FFT_SIZE && now - lastFFT >= FFT_INTERVAL) {
            std::vector<int16_t> block = takeSpareFftBlock();
            block.assign(waveformBufferL.end() - FFT_SIZE, waveformBufferL.end());
            // A full queue drops the block and leaves lastFFT alone, so the
            // next packet tries again with fresher samples.
            if (pushFftBlock(std::move(block))) lastFFT = now;
        }
    }

    if (packetSamples.empty()) return;
    pendingFrames += frames;
    for (size_t c = 0; c < step; ++c)
        pendingSquares[c] += channelSquares(packetSamples.data() + c, step, frames);
    if (pendingFrames == 0 ||
        pendingFrames < static_cast<size_t>(globalSampleRate / LEVEL_READINGS_PER_SECOND))
        return;
    float measured = level(pendingSquares[0], pendingFrames);
    if (channels == 2) measured = (measured + level(pendingSquares[1], pendingFrames)) / 2.0f;
    const float shown = measured > 1.0f ? 1.0f : measured;
    if (shown != currentLevel) viewsChanged = true;
    currentLevel = shown;
    ++levelReadings;
    restartLevelReading();
}
