#include "recording/live_feed.h"

#include <cmath>

#include "base/shared_state.h"
#include "spectrum/spectrum_worker.h"

std::chrono::steady_clock::time_point lastFFT;

namespace {

// Root mean square of one channel (every step-th sample from first, frames of
// them), 0.0 .. 1.0 of full scale (32,768). Summed in order, in single precision.
float channelLevel(const int16_t* first, size_t step, size_t frames) {
    float sum = 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        const int32_t s = first[f * step];
        sum += static_cast<float>(s * s);
    }
    return std::sqrt(sum / static_cast<float>(frames)) / 32768.0f;
}

}  // namespace

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
        const size_t held = waveformBufferL.size();
        waveformBufferL.resize(held + frames);
        for (size_t f = 0; f < frames; ++f) waveformBufferL[held + f] = packetSamples[f * step];
        if (waveformBufferL.size() > MAX_WAVEFORM_SIZE)
            waveformBufferL.erase(waveformBufferL.begin(), waveformBufferL.end() - MAX_WAVEFORM_SIZE);

        if (waveformBufferL.size() >= FFT_SIZE && now - lastFFT >= FFT_INTERVAL) {
            std::vector<int16_t> block = takeSpareFftBlock();
            block.assign(waveformBufferL.end() - FFT_SIZE, waveformBufferL.end());
            // A full queue drops the block and leaves lastFFT alone, so the
            // next packet tries again with fresher samples.
            if (pushFftBlock(std::move(block))) lastFFT = now;
        }
    }

    if (packetSamples.empty()) return;
    float level = channelLevel(packetSamples.data(), step, frames);
    if (channels == 2) level = (level + channelLevel(packetSamples.data() + 1, step, frames)) / 2.0f;
    currentLevel = level > 1.0f ? 1.0f : level;
}
