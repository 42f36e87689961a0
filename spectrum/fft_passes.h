#pragma once
// The transform's passes, written once over a vector instruction set. Each
// translation unit that includes this instantiates it with its own set,
// declared in an unnamed namespace, so every instantiation stays inside the
// unit that was compiled for that set.
#include <cstddef>

#include "spectrum/fft_butterfly.h"
#include "spectrum/fft_first_sweep.h"

namespace fftpass {

// Elements per cache-resident chunk: the chunk's re and im and the twiddles of
// the stages it runs stay in L1 while all those stages run over it.
constexpr size_t CHUNK = 2048;

// The first STAGES stages, of half-length h .. 2^(STAGES-1) h, over Q vectors
// of elements h apart held in registers, whose first is element k of a run.
// twRe/twIm hold the twiddles of half-length H at [H, 2H).
template <class Isa, size_t Q, size_t STAGES>
[[gnu::always_inline]] inline void registerStages(typename Isa::V (&r)[Q], typename Isa::V (&i)[Q], size_t h,
                                                  size_t k, const float* twRe, const float* twIm) {
    UNROLL_FULLY
    for (size_t j = 0; j < STAGES; ++j) {
        const size_t half = size_t{1} << j;
        const size_t tw = (h << j) + k;
        UNROLL_FULLY
        for (size_t q = 0; q < Q; ++q) {
            if (q & half) continue;
            const size_t at = tw + (q & (half - 1)) * h;
            butterfly<Isa>(r[q], i[q], r[q + half], i[q + half], Isa::load(twRe + at), Isa::load(twIm + at));
        }
    }
}

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
            registerStages<Isa, Q, M>(r, i, h, k, twRe, twIm);
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

}  // namespace fftpass
