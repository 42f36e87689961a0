#pragma once
// The vector forms of the transform and of the spectrum's magnitude loops, one
// set per instruction set, and the pieces of the transform that the spectrum
// worker runs directly on its own buffers. Spectrum worker (and tests) only.
#include <cstddef>

struct FftKernels {
    size_t width;  // floats per vector; stages need n >= width * width
    // Butterfly stages over bit-reversed input; twiddles of half-length h at [h, 2h).
    void (*stages)(float* re, float* im, size_t n, const float* twRe, const float* twIm);
};

extern const FftKernels SSE2_FFT_KERNELS;  // any x86-64
extern const FftKernels AVX_FFT_KERNELS;   // only where avxSupported()

bool avxSupported();
// The widest set this processor runs.
const FftKernels& fftKernels();

// Reorders x[0..n) into bit-reversed index order; n a power of two.
void bitReverse(float* x, size_t n);
// The butterfly stages of fft() over bit-reversed input, n a power of two.
void fftStages(const FftKernels& kernels, float* re, float* im, size_t n);
// All of fft() with the given kernels, n a power of two.
void fftWith(const FftKernels& kernels, float* re, float* im, size_t n);

// The spectrum's loops over bins, in SSE2 on every processor so that they are
// the same code wherever they run; count is a multiple of 4.
// Magnitudes of count bins (magnitude may be re or im); returns the largest
// above floor, else floor.
float spectrumMagnitudes(const float* re, const float* im, float* magnitude, size_t count, float floor);
// Lowest index holding x, or count.
size_t firstBinEqualTo(const float* values, size_t count, float x);
void divideBins(float* values, size_t count, float divisor);
