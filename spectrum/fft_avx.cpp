// The transform's vector kernels for AVX. This unit is compiled for AVX and
// runs only once avxSupported() has said yes; it has no static initialiser.
#include <immintrin.h>

#include "spectrum/fft_kernels.h"
#include "spectrum/spectrum_passes.h"

namespace {

struct Avx {
    using V = __m256;
    static constexpr size_t W = 8;
    static constexpr size_t SWEEP = 2;  // stages per sweep that 16 registers hold
    static V load(const float* p) { return _mm256_loadu_ps(p); }
    static V loadSamples(const int16_t* p) {
        const __m128i lo = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
        const __m128i hi = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 4)));
        return _mm256_cvtepi32_ps(_mm256_insertf128_si256(_mm256_castsi128_si256(lo), hi, 1));
    }
    static void store(float* p, V v) { _mm256_storeu_ps(p, v); }
    static V set1(float x) { return _mm256_set1_ps(x); }
    static V zero() { return _mm256_setzero_ps(); }
    static V add(V a, V b) { return _mm256_add_ps(a, b); }
    static V sub(V a, V b) { return _mm256_sub_ps(a, b); }
    static V mul(V a, V b) { return _mm256_mul_ps(a, b); }
    static V div(V a, V b) { return _mm256_div_ps(a, b); }
    static V sqrt(V a) { return _mm256_sqrt_ps(a); }
    // a where a > b, else b: a NaN a never wins.
    static V maxUnlessNan(V a, V b) { return _mm256_max_ps(a, b); }
    static void transpose(V* v) {
        const V t0 = _mm256_unpacklo_ps(v[0], v[1]), t1 = _mm256_unpackhi_ps(v[0], v[1]);
        const V t2 = _mm256_unpacklo_ps(v[2], v[3]), t3 = _mm256_unpackhi_ps(v[2], v[3]);
        const V t4 = _mm256_unpacklo_ps(v[4], v[5]), t5 = _mm256_unpackhi_ps(v[4], v[5]);
        const V t6 = _mm256_unpacklo_ps(v[6], v[7]), t7 = _mm256_unpackhi_ps(v[6], v[7]);
        const V u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
        const V u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
        const V u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
        const V u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
        v[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
        v[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
        v[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
        v[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
        v[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
        v[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
        v[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
        v[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
    }
};

}  // namespace

const FftKernels AVX_FFT_KERNELS = {Avx::W, fftpass::transform<Avx>, fftpass::spectrum<Avx>,
                                    fftpass::divideAll<Avx>};
