#pragma once
// The spectrum's own passes over the transform's: its real input windowed as
// the first sweep loads it, the last sweep straight into magnitudes, and the
// loops over bins. Like fft_passes.h, instantiated by each instruction set's
// unit. The only operations left out are those whose result is known
// exactly, or never read: on a real input the first stages' twiddle (1, 0)
// leaves every imaginary part +0, and of the last stage only the bins below
// half the length are kept.
#include <cstddef>
#include <cstdint>

#include "spectrum/fft_passes.h"

namespace fftpass {

// Samples windowed as they are loaded, (s / 32768) * w. Dividing by 32768 and
// multiplying by 2^-15 are both exact, so they give the same number.
template <class Isa>
struct WindowedRows {
    const int16_t* samples;
    const float* window;
    typename Isa::V operator()(size_t o) const {
        const typename Isa::V scaled = Isa::mul(Isa::loadSamples(samples + o), Isa::set1(1.0f / 32768.0f));
        return Isa::mul(scaled, Isa::load(window + o));
    }
};

// The first sweep (see firstStages) for a real input read from elsewhere:
// with nothing to overwrite, each tile is stored as soon as it is done.
template <class Isa, class L, size_t N, class Rows>
void firstStagesReal(Rows in, float* re, float* im, const float* twRe, const float* twIm) {
    using V = typename Isa::V;
    constexpr size_t W = Isa::W;
    constexpr size_t BITS = log2Of(W);
    constexpr size_t rowStride = N / W;
    constexpr size_t tiles = N / (W * W);
    constexpr size_t tileBits = log2Of(tiles);
    // In the order of the inputs, which the prefetcher follows; the stores
    // jump, but spaced storage keeps their rows in different cache sets.
    for (size_t b = 0; b < tiles; ++b) {
        const size_t rb = reverseBits(b, tileBits);
        V r[W], i[W];
        tileStages<Isa, true>(in, in, b * W, rowStride, r, i, twRe, twIm);
        UNROLL_FULLY
        for (size_t c = 0; c < W; ++c) {
            const size_t at = L::at(reverseBits(c, BITS) * rowStride + rb * W);
            Isa::store(re + at, r[c]);
            Isa::store(im + at, i[c]);
        }
    }
}

// The last M stages over the whole array (n = 2^M h), stored spaced out,
// keeping only the first half of the last stage's outputs, straight into
// magnitude[k] = sqrt(re^2 + im^2), k < n / 2. Returns the largest magnitude
// above floor, or floor itself; NaN magnitudes never count.
template <class Isa, size_t M, size_t h>
float lastSweepMagnitudes(float* re, float* im, const float* twRe, const float* twIm, float* magnitude,
                          float floor) {
    using V = typename Isa::V;
    constexpr size_t Q = size_t{1} << M;
    V largest = Isa::set1(floor);
    for (size_t k = 0; k < h; k += Isa::W) {
        V r[Q], i[Q];
        UNROLL_FULLY
        for (size_t q = 0; q < Q; ++q) {
            r[q] = Isa::load(re + Spaced::at(k + q * h));
            i[q] = Isa::load(im + Spaced::at(k + q * h));
        }
        registerStages<Isa, Q, M - 1>(r, i, h, k, twRe, twIm);
        UNROLL_FULLY
        for (size_t q = 0; q < Q / 2; ++q) {
            const size_t at = (h << (M - 1)) + k + q * h;
            const V wr = Isa::load(twRe + at), wi = Isa::load(twIm + at);
            const V br = r[q + Q / 2], bi = i[q + Q / 2];
            const V tr = Isa::sub(Isa::mul(br, wr), Isa::mul(bi, wi));
            const V ti = Isa::add(Isa::mul(br, wi), Isa::mul(bi, wr));
            const V ar = Isa::add(r[q], tr), ai = Isa::add(i[q], ti);
            const V m = Isa::sqrt(Isa::add(Isa::mul(ar, ar), Isa::mul(ai, ai)));
            Isa::store(magnitude + k + q * h, m);
            largest = Isa::maxUnlessNan(m, largest);
        }
    }
    // The largest of a set, whatever order it was met in.
    float lanes[Isa::W];
    Isa::store(lanes, largest);
    float result = lanes[0];
    for (size_t l = 1; l < Isa::W; ++l)
        if (lanes[l] > result) result = lanes[l];
    return result;
}

// The spectrum's transform of n = SPECTRUM_SIZE real samples (windowed, or
// else samples times window), with re and im (spacedSize(n) floats each) as
// working storage; on return magnitude[0 .. n/2) holds the first n/2 bins'
// magnitudes. Returns the largest magnitude above floor, or floor.
template <class Isa>
float spectrum(const SpectrumInput& input, float* re, float* im, const float* twRe, const float* twIm,
               float* magnitude, float floor) {
    constexpr size_t n = SPECTRUM_SIZE;
    if (input.windowed)
        firstStagesReal<Isa, Spaced, n>(FloatRows<Isa>{input.windowed}, re, im, twRe, twIm);
    else
        firstStagesReal<Isa, Spaced, n>(WindowedRows<Isa>{input.samples, input.window}, re, im, twRe, twIm);
    constexpr size_t LAST_STAGES = log2Of(n / CHUNK) < Isa::SWEEP ? log2Of(n / CHUNK) : Isa::SWEEP;
    constexpr size_t LAST = n >> LAST_STAGES;
    chunkStages<Isa, Spaced>(re, im, n, twRe, twIm);
    fixedSweeps<Isa, Spaced, CHUNK, LAST, n>(re, im, twRe, twIm);
    return lastSweepMagnitudes<Isa, LAST_STAGES, LAST>(re, im, twRe, twIm, magnitude, floor);
}

// Lowest k < count (a multiple of W) with values[k] == x, or count.
template <class Isa>
size_t firstEqual(const float* values, size_t count, float x) {
    const typename Isa::V wanted = Isa::set1(x);
    for (size_t k = 0; k < count; k += Isa::W) {
        const unsigned mask = Isa::equalMask(Isa::load(values + k), wanted);
        if (mask != 0) return k + static_cast<size_t>(__builtin_ctz(mask));
    }
    return count;
}

// out[k] = values[k] / divisor for k < count (a multiple of W).
template <class Isa>
void divideAll(const float* values, float* out, size_t count, float divisor) {
    const typename Isa::V d = Isa::set1(divisor);
    for (size_t k = 0; k < count; k += Isa::W) Isa::store(out + k, Isa::div(Isa::load(values + k), d));
}

}  // namespace fftpass
