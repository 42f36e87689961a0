#include "recording/live_feed.h"

#include <cmath>

#include "app/shared_state.h"
#include "spectrum/spectrum_worker.h"

std::chrono::steady_clock::time_point lastFFT;

namespace {

// Root mean square of one channel, 0.0 .. 1.0 of full scale (32,768).
float channelLevel(const std::vector<int16_t>& samples) {
    float sum = 0.0f;
    for (int16_t s : samples) {
        const int32_t square = static_cast<int32_t>(s) * static_cast<int32_t>(s);
        sum += static_cast<float>(square);
    }
    return std::sqrt(sum / static_cast<float>(samples.size())) / 32768.0f;
}

}  // namespace

void feedLiveAnalysis(const std::vector<int16_t>& packetSamples, int channels,
                      std::chrono::steady_clock::time_point now) {
    std::vector<int16_t> left;
    std::vector<int16_t> right;
    if (channels == 2) {
        left.reserve(packetSamples.size() / 2);
        right.reserve(packetSamples.size() / 2);
        for (size_t i = 0; i + 1 < packetSamples.size(); i += 2) {
            left.push_back(packetSamples[i]);
            right.push_back(packetSamples[i + 1]);
        }
    } else {
        left = packetSamples;
    }

    {
        // Held from the append to the hand-off so that no reader sees the
        // history between its append and its trim.
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.insert(waveformBufferL.end(), left.begin(), left.end());
        if (waveformBufferL.size() > MAX_WAVEFORM_SIZE)
            waveformBufferL.erase(waveformBufferL.begin(), waveformBufferL.end() - MAX_WAVEFORM_SIZE);

        if (waveformBufferL.size() >= FFT_SIZE && now - lastFFT >= FFT_INTERVAL) {
            std::vector<int16_t> block(waveformBufferL.end() - FFT_SIZE, waveformBufferL.end());
            // A full queue drops the block and leaves lastFFT alone, so the
            // next packet tries again with fresher samples.
            if (pushFftBlock(std::move(block))) lastFFT = now;
        }
    }

    if (packetSamples.empty()) return;
    float level = channelLevel(left);
    if (channels == 2) level = (level + channelLevel(right)) / 2.0f;
    currentLevel = level > 1.0f ? 1.0f : level;
}
