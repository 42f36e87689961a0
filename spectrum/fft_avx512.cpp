// The transform's vector kernels for AVX-512. This unit is compiled for
// AVX-512F and runs only once avx512Supported() has said yes; it has no static
// initialiser.

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused
// merge source, which its optimiser then reports as (maybe) uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "spectrum/fft_kernels.h"
#include "spectrum/spectrum_passes.h"

namespace {

struct Avx512 {
    using V = __m512;
    static constexpr size_t W = 16;
    static constexpr size_t SWEEP = 3;  // stages per sweep that 32 registers hold
    static V load(const float* p) { return _mm512_loadu_ps(p); }
    static V loadSamples(const int16_t* p) {
        return _mm512_cvtepi32_ps(
            _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
    }
    static void store(float* p, V v) { _mm512_storeu_ps(p, v); }
    static V set1(float x) { return _mm512_set1_ps(x); }
    static V zero() { return _mm512_setzero_ps(); }
    static V add(V a, V b) { return _mm512_add_ps(a, b); }
    static V sub(V a, V b) { return _mm512_sub_ps(a, b); }
    static V mul(V a, V b) { return _mm512_mul_ps(a, b); }
    static V div(V a, V b) { return _mm512_div_ps(a, b); }
    static V sqrt(V a) { return _mm512_sqrt_ps(a); }
    // a where a > b, else b: a NaN a never wins.
    static V maxUnlessNan(V a, V b) { return _mm512_max_ps(a, b); }
    // Pairs, then quads within each 128-bit lane, then the 4 x 4 lanes.
    static void transpose(V* v) {
        V t[16], u[16];
        UNROLL_FULLY
        for (int j = 0; j < 16; j += 2) {
            t[j] = _mm512_unpacklo_ps(v[j], v[j + 1]);
            t[j + 1] = _mm512_unpackhi_ps(v[j], v[j + 1]);
        }
        UNROLL_FULLY
        for (int j = 0; j < 16; j += 4) {
            u[j] = _mm512_shuffle_ps(t[j], t[j + 2], 0x44);
            u[j + 1] = _mm512_shuffle_ps(t[j], t[j + 2], 0xEE);
            u[j + 2] = _mm512_shuffle_ps(t[j + 1], t[j + 3], 0x44);
            u[j + 3] = _mm512_shuffle_ps(t[j + 1], t[j + 3], 0xEE);
        }
        UNROLL_FULLY
        for (int r = 0; r < 4; ++r) {
            const V x0 = _mm512_shuffle_f32x4(u[r], u[4 + r], 0x44),
                    x1 = _mm512_shuffle_f32x4(u[r], u[4 + r], 0xEE);
            const V x2 = _mm512_shuffle_f32x4(u[8 + r], u[12 + r], 0x44);
            const V x3 = _mm512_shuffle_f32x4(u[8 + r], u[12 + r], 0xEE);
            v[r] = _mm512_shuffle_f32x4(x0, x2, 0x88);
            v[4 + r] = _mm512_shuffle_f32x4(x0, x2, 0xDD);
            v[8 + r] = _mm512_shuffle_f32x4(x1, x3, 0x88);
            v[12 + r] = _mm512_shuffle_f32x4(x1, x3, 0xDD);
        }
    }
};

}  // namespace

const FftKernels AVX512_FFT_KERNELS = {Avx512::W, fftpass::transform<Avx512>, fftpass::spectrum<Avx512>,
                                       fftpass::divideAll<Avx512>};
