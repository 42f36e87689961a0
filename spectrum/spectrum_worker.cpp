#include "spectrum/spectrum_worker.h"

#include <algorithm>
#include <utility>

#include "base/messages.h"
#include "base/shared_state.h"
#include "base/thread_start.h"
#include "base/window_port.h"
#include "spectrum/fft.h"
#include "spectrum/fft_kernels.h"
#include "spectrum/spectrum_relay.h"

namespace {

// Working storage of the analyses, reused by each so that the worker
// allocates nothing per block. Spectrum worker only (one analysis at a time).
alignas(64) float shortBlock[FFT_SIZE];
alignas(64) float workRe[spacedSize(FFT_SIZE)];
alignas(64) float workIm[spacedSize(FFT_SIZE)];
alignas(64) float magnitude[FFT_SIZE / 2];

// One finished block's storage, kept for the producer's next block. Guarded
// by fftMutex.
std::vector<int16_t> spareFftBlock;

// Keeps the larger of block and the spare as the spare; block is left with
// the other. Caller holds fftMutex.
void keepAsSpare(std::vector<int16_t>& block) {
    if (block.capacity() > spareFftBlock.capacity()) std::swap(block, spareFftBlock);
}

}  // namespace

void processFFTWith(const FftKernels& kernels, const int16_t* samples, uint64_t count, int32_t sampleRate) {
    initBlackman();
    SpectrumInput input{nullptr, samples, blackmanWin.data()};
    if (count < FFT_SIZE) {
        // Padded with +0, not with windowed zeros (0 times the window's
        // negative first value is -0), so windowed here into storage that
        // the kernels read instead of the samples.
        for (size_t i = 0; i < count; ++i)
            shortBlock[i] = (static_cast<float>(samples[i]) / 32768.0f) * blackmanWin[i];
        std::fill(shortBlock + count, shortBlock + FFT_SIZE, 0.0f);
        input.windowed = shortBlock;
    }

    const size_t bins = FFT_SIZE / 2;
    // A bin must exceed 1e-8 to become the peak; the lowest of equal bins wins.
    const float floor = 1e-8f;
    const float maximum = fftMagnitudes(kernels, input, workRe, workIm, magnitude, floor);
    const size_t peak = maximum > floor ? firstBinEqualTo(magnitude, bins, maximum) : 0;

    const float peakHz =
        static_cast<float>(peak) * static_cast<float>(sampleRate) / static_cast<float>(FFT_SIZE);
    // Frequency first, spectrum second: a paint in between shows the new
    // label beside the previous trace for one frame, never the reverse.
    dominantFreqHz = peakHz;
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        // Same length every time, so the buffer's storage is reused.
        spectrumBuffer.resize(bins);
        kernels.divide(magnitude, spectrumBuffer.data(), bins, maximum);
    }
    announceSpectrum();
}

void processFFT(const int16_t* samples, uint64_t count, int32_t sampleRate) {
    processFFTWith(fftKernels(), samples, count, sampleRate);
}

void fftWorkerThread() {
    std::vector<int16_t> block;
    while (fftRunning) {
        std::unique_lock<std::mutex> lock(fftMutex);
        keepAsSpare(block);
        fftCv.wait(lock, [] { return !fftQueue.empty() || !fftRunning; });
        if (!fftRunning) return;
        block = std::move(fftQueue.front());
        fftQueue.pop();
        lock.unlock();
        processFFT(block.data(), block.size(), globalSampleRate);
    }
}

bool pushFftBlock(std::vector<int16_t>&& block) {
    std::lock_guard<std::mutex> lock(fftMutex);
    if (fftQueue.size() >= MAX_QUEUED_BLOCKS) {
        keepAsSpare(block);
        return false;
    }
    fftQueue.push(std::move(block));
    fftCv.notify_one();
    return true;
}

std::vector<int16_t> takeSpareFftBlock() {
    std::lock_guard<std::mutex> lock(fftMutex);
    return std::exchange(spareFftBlock, {});
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
