#pragma once
// What every pass of the transform shares: the butterfly, the storage
// layouts, and the index arithmetic. Included by the passes' headers only.
//
// Every butterfly is the scalar one, operation for operation and in the same
// order; passes only change the order of butterflies that do not depend on each
// other, so every form gives the scalar transform's result bit for bit.
#include <cstddef>
#include <type_traits>

#include "spectrum/fft_kernels.h"

// Loops over a vector's lanes or a sweep's registers are unrolled so that
// the arrays they index live in registers.
#define UNROLL_FULLY _Pragma("GCC unroll 16")

namespace fftpass {

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

// A length known when compiling: with n and h fixed, every address in a
// sweep is a register plus a constant, which keeps its loop short.
template <size_t X>
using Fixed = std::integral_constant<size_t, X>;

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

}  // namespace fftpass
