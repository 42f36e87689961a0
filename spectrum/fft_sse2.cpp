// The transform's vector kernels for SSE2, which every x86-64 processor has.
#include <emmintrin.h>

#include "spectrum/fft_kernels.h"
#include "spectrum/spectrum_passes.h"

namespace {

struct Sse2 {
    using V = __m128;
    static constexpr size_t W = 4;
    static constexpr size_t SWEEP = 2;  // stages per sweep that 16 registers hold
    static V load(const float* p) { return _mm_loadu_ps(p); }
    static V loadSamples(const int16_t* p) {
        const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16));  // sign-extended
    }
    static void store(float* p, V v) { _mm_storeu_ps(p, v); }
    static V set1(float x) { return _mm_set1_ps(x); }
    static V zero() { return _mm_setzero_ps(); }
    static V add(V a, V b) { return _mm_add_ps(a, b); }
    static V sub(V a, V b) { return _mm_sub_ps(a, b); }
    static V mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V div(V a, V b) { return _mm_div_ps(a, b); }
    static V sqrt(V a) { return _mm_sqrt_ps(a); }
    // a where a > b, else b: a NaN a never wins.
    static V maxUnlessNan(V a, V b) { return _mm_max_ps(a, b); }
    static unsigned equalMask(V a, V b) { return static_cast<unsigned>(_mm_movemask_ps(_mm_cmpeq_ps(a, b))); }
    static void transpose(V* v) { _MM_TRANSPOSE4_PS(v[0], v[1], v[2], v[3]); }
};

}  // namespace

const FftKernels SSE2_FFT_KERNELS = {Sse2::W, fftpass::transform<Sse2>, fftpass::spectrum<Sse2>,
                                     fftpass::divideAll<Sse2>};

size_t firstBinEqualTo(const float* values, size_t count, float x) {
    return fftpass::firstEqual<Sse2>(values, count, x);
}
