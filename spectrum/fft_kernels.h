#pragma once
// The vector forms of the transform and of the spectrum's loops, one set per
// instruction set, and the pieces of the transform that the spectrum worker
// runs directly on its own buffers. Spectrum worker (and tests) only.
#include <cstddef>
#include <cstdint>

// The spectrum kernels' working storage is spaced out by SPACED_GAP floats
// (one cache line) after every SPACED_BLOCK elements: spacedSize(n) floats.
constexpr size_t SPACED_BLOCK = 4096;
constexpr size_t SPACED_GAP = 16;
constexpr size_t spacedSize(size_t n) { return n + n / SPACED_BLOCK * SPACED_GAP; }
// The one length the spectrum kernels transform (FFT_SIZE).
constexpr size_t SPECTRUM_SIZE = 65536;

// The spectrum's real input: windowed floats, or when windowed is null,
// samples times window, (s / 32768) * w.
struct SpectrumInput {
    const float* windowed;
    const int16_t* samples;
    const float* window;
};

struct FftKernels {
    size_t width;  // floats per vector; the kernels need n >= width * width
    // The whole transform in place; twiddles of half-length h at [h, 2h).
    void (*transform)(float* re, float* im, size_t n, const float* twRe, const float* twIm);
    // The transform of SPECTRUM_SIZE real samples, in working storage re and
    // im of spacedSize(SPECTRUM_SIZE) floats, into the magnitudes of bins
    // 0 .. SPECTRUM_SIZE/2 - 1; returns the largest above floor, else floor.
    float (*spectrum)(const SpectrumInput& input, float* re, float* im, const float* twRe, const float* twIm,
                      float* magnitude, float floor);
    // out[k] = values[k] / divisor, count a multiple of width.
    void (*divide)(const float* values, float* out, size_t count, float divisor);
};

extern const FftKernels SSE2_FFT_KERNELS;    // any x86-64
extern const FftKernels AVX_FFT_KERNELS;     // only where avxSupported()
extern const FftKernels AVX512_FFT_KERNELS;  // only where avx512Supported()

bool avxSupported();
bool avx512Supported();
// The widest set this processor runs.
const FftKernels& fftKernels();

// Reorders x[0..n) into bit-reversed index order; n a power of two.
void bitReverse(float* x, size_t n);
// All of fft() with the given kernels, n a power of two.
void fftWith(const FftKernels& kernels, float* re, float* im, size_t n);
// The spectrum's transform of FFT_SIZE real samples, in working storage re
// and im of spacedSize(FFT_SIZE) floats: writes the magnitudes of bins 0 ..
// FFT_SIZE/2 - 1 to magnitude and returns the largest above floor, else floor.
float fftMagnitudes(const FftKernels& kernels, const SpectrumInput& input, float* re, float* im,
                    float* magnitude, float floor);

// Lowest index holding x, or count (a multiple of 4).
size_t firstBinEqualTo(const float* values, size_t count, float x);
