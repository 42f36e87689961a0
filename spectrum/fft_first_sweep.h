#pragma once
// The transform's first sweep: bit reversal and the stages of half-length
// 1 .. W/2 in one pass over the data, tile by tile.
#include <cstddef>

#include "spectrum/fft_butterfly.h"

namespace fftpass {

// Where the first sweep's rows come from: floats in memory, or (for the
// spectrum) samples windowed as they are loaded.
template <class Isa>
struct FloatRows {
    const float* x;
    typename Isa::V operator()(size_t o) const { return Isa::load(x + o); }
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

}  // namespace fftpass
