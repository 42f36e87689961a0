#include "spectrum/spectrum_worker.h"

#include <cmath>

#include "app/messages.h"
#include "app/shared_state.h"
#include "app/thread_start.h"
#include "app/window_port.h"
#include "recording/live_feed.h"
#include "spectrum/fft.h"

void processFFT(const int16_t* samples, uint64_t count, int32_t sampleRate) {
    initBlackman();
    std::vector<float> re(FFT_SIZE, 0.0f);
    std::vector<float> im(FFT_SIZE, 0.0f);
    for (size_t i = 0; i < FFT_SIZE && i < count; ++i)
        re[i] = (static_cast<float>(samples[i]) / 32768.0f) * blackmanWin[i];

    fft(re, im);

    std::vector<float> magnitude(FFT_SIZE / 2);
    float maximum = 1e-8f;  // a bin must exceed this to become the peak
    size_t peak = 0;
    for (size_t k = 0; k < magnitude.size(); ++k) {
        magnitude[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
        if (magnitude[k] > maximum) {
            maximum = magnitude[k];
            peak = k;
        }
    }
    for (float& m : magnitude) m /= maximum;

    const float peakHz =
        static_cast<float>(peak) * static_cast<float>(sampleRate) / static_cast<float>(FFT_SIZE);
    // Frequency first, spectrum second: a paint in between shows the new
    // label beside the previous trace for one frame, never the reverse.
    dominantFreqHz = peakHz;
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrumBuffer = magnitude;
    }
    if (hwndMain) hwndMain->postMessage(WM_APP_UPDATE_VISUALS);
}

void fftWorkerThread() {
    while (fftRunning) {
        std::unique_lock<std::mutex> lock(fftMutex);
        fftCv.wait(lock, [] { return !fftQueue.empty() || !fftRunning; });
        if (!fftRunning) return;
        std::vector<int16_t> block = std::move(fftQueue.front());
        fftQueue.pop();
        lock.unlock();
        processFFT(block.data(), block.size(), globalSampleRate);
    }
}

bool pushFftBlock(std::vector<int16_t>&& block) {
    std::lock_guard<std::mutex> lock(fftMutex);
    if (fftQueue.size() >= MAX_QUEUED_BLOCKS) return false;
    fftQueue.push(std::move(block));
    fftCv.notify_one();
    return true;
}

void startSpectrumWorker() {
    // Must be true before the thread runs, or the worker ends at once.
    fftRunning = true;
    try {
        fftThread = startThread(fftWorkerThread);
    } catch (...) {
        fftRunning = false;
        throw;
    }
}

void stopSpectrumWorker() {
    {
        // Storing under the lock means the worker either sees false when it
        // tests its wait condition or is already waiting and gets the notify.
        std::lock_guard<std::mutex> lock(fftMutex);
        fftRunning = false;
    }
    fftCv.notify_all();
    if (fftThread.joinable()) fftThread.join();
    // Blocks left over belong to this take's sound and sample rate; the next
    // take must not show them.
    std::lock_guard<std::mutex> lock(fftMutex);
    fftQueue = {};
}
