#pragma once
// The transform's passes and the spectrum's magnitude loops, written once over
// a vector instruction set. Each translation unit that includes this
// instantiates it with its own set, declared in an unnamed namespace, so every
// instantiation stays inside the unit that was compiled for that set.
//
// Every butterfly is the scalar one, operation for operation and in the same
// order; passes only change the order of butterflies that do not depend on each
// other, so every form gives the scalar transform's result bit for bit. The
// only operations left out are those whose result is known exactly: on a real
// input the first stages' twiddle (1, 0) leaves every imaginary part +0.
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "spectrum/fft_kernels.h"

// Loops over a vector's lanes or a sweep's registers are unrolled so that
// the arrays they index live in registers.
#define UNROLL_FULLY _Pragma("GCC unroll 16")

namespace fftpass {

// Elements per cache-resident chunk: the chunk's re and im and the twiddles of
// the stages it runs stay in L1 while all those stages run over it.
constexpr size_t CHUNK = 2048;

// Where element o of a transform is stored: packed, or spaced out by one
// cache line after every SPACED_BLOCK elements. In the spectrum's own storage,
// rows a block or more apart (the first sweep's stores, the last sweeps'
// loads) then fall in different cache sets instead of all in one.
struct Packed {
    static size_t at(size_t o) { return o; }
};
struct Spaced {
    static size_t at(size_t o) { return o + o / SPACED_BLOCK * SPACED_GAP; }
};

// The scalar butterfly: t = b * w; b = a - t; a = a + t.
template <class Isa>
inline void butterfly(typename Isa::V& ar, typename Isa::V& ai, typename Isa::V& br, typename Isa::V& bi,
                      typename Isa::V wr, typename Isa::V wi) {
    const typename Isa::V tr = Isa::sub(Isa::mul(br, wr), Isa::mul(bi, wi));
    const typename Isa::V ti = Isa::add(Isa::mul(br, wi), Isa::mul(bi, wr));
    br = Isa::sub(ar, tr);
    bi = Isa::sub(ai, ti);
    ar = Isa::add(ar, tr);
    ai = Isa::add(ai, ti);
}

constexpr size_t reverseBits(size_t x, size_t bits) {
    size_t r = 0;
    for (size_t b = 0; b < bits; ++b) r |= ((x >> b) & 1) << (bits - 1 - b);
    return r;
}

constexpr size_t log2Of(size_t x) {
    size_t bits = 0;
    while ((size_t{1} << bits) < x) ++bits;
    return bits;
}

// Where the first sweep's rows come from: floats, or 16-bit samples windowed
// as they are loaded, (s / 32768) * w. Dividing by 32768 and multiplying by
// 2^-15 are both exact, so they give the same number.
template <class Isa>
struct FloatRows {
    const float* x;
    typename Isa::V operator()(size_t o) const { return Isa::load(x + o); }
};
template <class Isa>
struct WindowedRows {
    const int16_t* samples;
    const float* window;
    typename Isa::V operator()(size_t o) const {
        const typename Isa::V scaled = Isa::mul(Isa::loadSamples(samples + o), Isa::set1(1.0f / 32768.0f));
        return Isa::mul(scaled, Isa::load(window + o));
    }
};

// One tile of the first sweep (see firstStages): rows a of W elements from
// offset, rowStride apart, are loaded into slots rev a; the stages of
// half-length 1 .. W/2 pair whole slots; the transpose then makes vector c the
// W consecutive outputs that go to row rev c of the partner tile. With REAL,
// imRows is not read: every imaginary part is +0.
template <class Isa, bool REAL, class Rows>
inline void tileStages(Rows reRows, Rows imRows, size_t offset, size_t rowStride, typename Isa::V* r,
                       typename Isa::V* i, const float* twRe, const float* twIm) {
    constexpr size_t W = Isa::W;
    constexpr size_t BITS = log2Of(W);
    UNROLL_FULLY
    for (size_t a = 0; a < W; ++a) {
        r[reverseBits(a, BITS)] = reRows(offset + a * rowStride);
        i[reverseBits(a, BITS)] = REAL ? Isa::zero() : imRows(offset + a * rowStride);
    }
    UNROLL_FULLY
    for (size_t bit = 0; bit < BITS; ++bit) {
        const size_t h = size_t{1} << bit;
        UNROLL_FULLY
        for (size_t m = 0; m < W / 2; ++m) {
            const size_t k = m & (h - 1), a = (m - k) * 2 + k;
            typename Isa::V &ar = r[a], &br = r[a + h];
            if (REAL && k == 0 && h <= 2) {
                // Twiddle (1, 0) on +0 imaginary parts: t = (b, +0) exactly,
                // and the imaginary parts stay +0.
                const typename Isa::V b = br;
                br = Isa::sub(ar, b);
                ar = Isa::add(ar, b);
                continue;
            }
            butterfly<Isa>(ar, i[a], br, i[a + h], Isa::set1(twRe[h + k]), Isa::set1(twIm[h + k]));
        }
    }
    Isa::transpose(r);
    Isa::transpose(i);
}

// Bit reversal and the stages of half-length 1 .. W/2 in one sweep; n >= W * W.
// The index (a, b, c), a and c of log2(W) bits, goes to (rev c, rev b, rev a),
// so tile b (the W x W elements sharing b) fills the rows of tile rev b: the two
// are loaded before either is stored.
template <class Isa>
void firstStages(float* re, float* im, size_t n, const float* twRe, const float* twIm) {
    using V = typename Isa::V;
    constexpr size_t W = Isa::W;
    constexpr size_t BITS = log2Of(W);
    const size_t rowStride = n / W;
    const size_t tiles = n / (W * W);
    const size_t tileBits = log2Of(tiles);
    for (size_t b = 0; b < tiles; ++b) {
        const size_t rb = reverseBits(b, tileBits);
        if (rb < b) continue;
        V r[W], i[W], pr[W], pi[W];
        const FloatRows<Isa> reRows{re}, imRows{im};
        tileStages<Isa, false>(reRows, imRows, b * W, rowStride, r, i, twRe, twIm);
        if (rb != b) tileStages<Isa, false>(reRows, imRows, rb * W, rowStride, pr, pi, twRe, twIm);
        UNROLL_FULLY
        for (size_t c = 0; c < W; ++c) {
            const size_t row = reverseBits(c, BITS) * rowStride;
            Isa::store(re + row + rb * W, r[c]);
            Isa::store(im + row + rb * W, i[c]);
            if (rb == b) continue;
            Isa::store(re + row + b * W, pr[c]);
            Isa::store(im + row + b * W, pi[c]);
        }
    }
}

// The same first sweep for a real input read from elsewhere: with nothing
// to overwrite, each tile is stored as soon as it is done.
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

// A length known when compiling: with n and h fixed, every address in a
// sweep is a register plus a constant, which keeps its loop short.
template <size_t X>
using Fixed = std::integral_constant<size_t, X>;

// Stages of half-length h .. 2^(M-1) h in one sweep: 2^M elements h apart are
// loaded, go through the M stages and are stored once. twRe/twIm hold the
// twiddles of half-length H at [H, 2H). N and H: size_t or Fixed.
template <class Isa, size_t M, class L, class N, class H>
void sweep(float* re, float* im, N n, H h, const float* twRe, const float* twIm) {
    using V = typename Isa::V;
    constexpr size_t Q = size_t{1} << M;
    for (size_t s = 0; s < n; s += Q * h)
        for (size_t k = 0; k < h; k += Isa::W) {
            V r[Q], i[Q];
            UNROLL_FULLY
            for (size_t q = 0; q < Q; ++q) {
                r[q] = Isa::load(re + L::at(s + k + q * h));
                i[q] = Isa::load(im + L::at(s + k + q * h));
            }
            UNROLL_FULLY
            for (size_t j = 0; j < M; ++j) {
                const size_t half = size_t{1} << j;
                const size_t tw = (h << j) + k;
                UNROLL_FULLY
                for (size_t q = 0; q < Q; ++q) {
                    if (q & half) continue;
                    const size_t at = tw + (q & (half - 1)) * h;
                    butterfly<Isa>(r[q], i[q], r[q + half], i[q + half], Isa::load(twRe + at), Isa::load(twIm + at));
                }
            }
            UNROLL_FULLY
            for (size_t q = 0; q < Q; ++q) {
                Isa::store(re + L::at(s + k + q * h), r[q]);
                Isa::store(im + L::at(s + k + q * h), i[q]);
            }
        }
}

// Stages of half-length h .. end/2 (powers of two, h >= W), in sweeps of as
// many stages as the set's registers hold, never leaving a lone last stage
// that a split could avoid.
template <class Isa, class L>
void sweeps(float* re, float* im, size_t n, size_t h, size_t end, const float* twRe, const float* twIm) {
    while (h < end) {
        const size_t left = log2Of(end / h);
        if (Isa::SWEEP >= 3 && left >= 3 && left != 4) {
            sweep<Isa, 3, L>(re, im, n, size_t{h}, twRe, twIm);
            h *= 8;
        } else if (left >= 2) {
            sweep<Isa, 2, L>(re, im, n, size_t{h}, twRe, twIm);
            h *= 4;
        } else {
            sweep<Isa, 1, L>(re, im, n, size_t{h}, twRe, twIm);
            h *= 2;
        }
    }
}

// The same with h, end and n fixed.
template <class Isa, class L, size_t H, size_t END, size_t N>
void fixedSweeps(float* re, float* im, const float* twRe, const float* twIm) {
    if constexpr (H < END) {
        constexpr size_t LEFT = log2Of(END / H);
        constexpr size_t M = Isa::SWEEP >= 3 && LEFT >= 3 && LEFT != 4 ? 3 : LEFT >= 2 ? 2 : 1;
        sweep<Isa, M, L>(re, im, Fixed<N>{}, Fixed<H>{}, twRe, twIm);
        fixedSweeps<Isa, L, (H << M), END, N>(re, im, twRe, twIm);
    }
}

// The butterfly stages of half-length W .. CHUNK/2 over each whole chunk (a
// chunk is never spaced out inside); n >= CHUNK.
template <class Isa, class L>
void chunkStages(float* re, float* im, size_t n, const float* twRe, const float* twIm) {
    static_assert(SPACED_BLOCK % CHUNK == 0);
    for (size_t offset = 0; offset < n; offset += CHUNK)
        fixedSweeps<Isa, Packed, Isa::W, CHUNK, CHUNK>(re + L::at(offset), im + L::at(offset), twRe, twIm);
}

// The whole transform in place: bit reversal and all stages; n a power of
// two >= W * W.
template <class Isa>
void transform(float* re, float* im, size_t n, const float* twRe, const float* twIm) {
    firstStages<Isa>(re, im, n, twRe, twIm);
    if (n < CHUNK) return sweeps<Isa, Packed>(re, im, n, Isa::W, n, twRe, twIm);
    chunkStages<Isa, Packed>(re, im, n, twRe, twIm);
    sweeps<Isa, Packed>(re, im, n, CHUNK, n, twRe, twIm);
}

// The last M stages over the whole array (n = 2^M h), stored spaced out,
// keeping only the first half of the last stage's outputs, straight into
// magnitude[k] = sqrt(re^2 + im^2), k < n / 2. Returns the largest magnitude
// above floor, or floor itself; NaN magnitudes never count.
template <class Isa, size_t M, size_t h>
float lastSweepMagnitudes(float* re, float* im, const float* twRe, const float* twIm, float* magnitude, float floor) {
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
        UNROLL_FULLY
        for (size_t j = 0; j + 1 < M; ++j) {
            const size_t half = size_t{1} << j;
            const size_t tw = (h << j) + k;
            UNROLL_FULLY
            for (size_t q = 0; q < Q; ++q) {
                if (q & half) continue;
                const size_t at = tw + (q & (half - 1)) * h;
                butterfly<Isa>(r[q], i[q], r[q + half], i[q + half], Isa::load(twRe + at), Isa::load(twIm + at));
            }
        }
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
