#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Analyses up to FFT_SIZE samples: Blackman window, FFT, magnitudes of bins
// 0..32,767 normalised so the strongest is 1.0; publishes dominantFreqHz, then
// spectrumBuffer, then announces it (WM_APP_UPDATE_SPECTRUM to hwndMain, or
// through the recording thread while a take captures). Works in
// storage of its own, so one analysis at a time (the spectrum worker's).
void processFFT(const int16_t* samples, uint64_t count, int32_t sampleRate);
// processFFT with the given kernel set rather than the widest this processor
// runs, so that tests can compare every set's analysis.
struct FftKernels;
void processFFTWith(const FftKernels& kernels, const int16_t* samples, uint64_t count, int32_t sampleRate);

// Worker body: analyses queued blocks until fftRunning falls.
void fftWorkerThread();

constexpr size_t MAX_QUEUED_BLOCKS = 4;  // blocks waiting in fftQueue at most

// Producer side: queues a block unless 4 are waiting. True when queued; a
// refused block's storage is kept for a later hand-off.
bool pushFftBlock(std::vector<int16_t>&& block);
// Producer side: storage for the next block, from a block already analysed or
// refused (empty when there is none yet), so that a take in steady state hands
// off blocks without allocating. Takes fftMutex.
std::vector<int16_t> takeSpareFftBlock();

// Recording thread: starts the worker (fftRunning, then fftThread). Throws
// std::system_error, with fftRunning false again, when no thread can be had.
void startSpectrumWorker();
// Recording thread: stops and joins the worker, then empties fftQueue so the
// next take does not analyse this take's leftovers.
void stopSpectrumWorker();
