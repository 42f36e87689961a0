#pragma once
// The transform's butterfly passes and the spectrum's magnitude loops, written
// once over a vector instruction set. Each translation unit that includes this
// instantiates it with its own set, declared in an unnamed namespace, so every
// instantiation stays inside the unit that was compiled for that set.
//
// Every butterfly is the scalar one, operation for operation and in the same
// order; passes only change the order of butterflies that do not depend on each
// other, so every form gives the scalar transform's result bit for bit.
#include <cstddef>

namespace fftpass {

// Elements per cache-resident chunk: the chunk's re and im and the twiddles of
// the stages it runs stay in L1 while all those stages run over it.
constexpr size_t CHUNK = 2048;

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

// Stages of half-length 1 .. W/2 (all butterflies inside W consecutive
// elements): a W x W tile is transposed so that each butterfly pairs two whole
// vectors sharing one twiddle.
template <class Isa>
void smallStages(float* re, float* im, size_t n, const float* twRe, const float* twIm) {
    using V = typename Isa::V;
    constexpr size_t W = Isa::W;
    for (size_t t = 0; t < n; t += W * W) {
        V r[W], i[W];
        for (size_t row = 0; row < W; ++row) {
            r[row] = Isa::load(re + t + row * W);
            i[row] = Isa::load(im + t + row * W);
        }
        Isa::transpose(r);
        Isa::transpose(i);
        for (size_t h = 1; h < W; h *= 2)
            for (size_t s = 0; s < W; s += 2 * h)
                for (size_t k = 0; k < h; ++k)
                    butterfly<Isa>(r[s + k], i[s + k], r[s + k + h], i[s + k + h], Isa::set1(twRe[h + k]),
                                   Isa::set1(twIm[h + k]));
        Isa::transpose(r);
        Isa::transpose(i);
        for (size_t row = 0; row < W; ++row) {
            Isa::store(re + t + row * W, r[row]);
            Isa::store(im + t + row * W, i[row]);
        }
    }
}

// One stage of half-length h (h >= W).
template <class Isa>
void stage(float* re, float* im, size_t n, size_t h, const float* twRe, const float* twIm) {
    using V = typename Isa::V;
    for (size_t s = 0; s < n; s += 2 * h)
        for (size_t k = 0; k < h; k += Isa::W) {
            float* r0 = re + s + k;
            float* i0 = im + s + k;
            V ar = Isa::load(r0), ai = Isa::load(i0);
            V br = Isa::load(r0 + h), bi = Isa::load(i0 + h);
            butterfly<Isa>(ar, ai, br, bi, Isa::load(twRe + h + k), Isa::load(twIm + h + k));
            Isa::store(r0, ar);
            Isa::store(i0, ai);
            Isa::store(r0 + h, br);
            Isa::store(i0 + h, bi);
        }
}

// Stages of half-lengths h and 2h (h >= W) in one sweep: four elements are
// loaded, go through both stages and are stored once.
template <class Isa>
void stagePair(float* re, float* im, size_t n, size_t h, const float* twRe, const float* twIm) {
    using V = typename Isa::V;
    for (size_t s = 0; s < n; s += 4 * h)
        for (size_t k = 0; k < h; k += Isa::W) {
            float* r0 = re + s + k;
            float* i0 = im + s + k;
            V r[4], i[4];
            for (size_t q = 0; q < 4; ++q) {
                r[q] = Isa::load(r0 + q * h);
                i[q] = Isa::load(i0 + q * h);
            }
            const V w1r = Isa::load(twRe + h + k), w1i = Isa::load(twIm + h + k);
            butterfly<Isa>(r[0], i[0], r[1], i[1], w1r, w1i);
            butterfly<Isa>(r[2], i[2], r[3], i[3], w1r, w1i);
            butterfly<Isa>(r[0], i[0], r[2], i[2], Isa::load(twRe + 2 * h + k), Isa::load(twIm + 2 * h + k));
            butterfly<Isa>(r[1], i[1], r[3], i[3], Isa::load(twRe + 3 * h + k), Isa::load(twIm + 3 * h + k));
            for (size_t q = 0; q < 4; ++q) {
                Isa::store(r0 + q * h, r[q]);
                Isa::store(i0 + q * h, i[q]);
            }
        }
}

// Stages of half-length h, 2h, ... while the stage's length fits in n.
template <class Isa>
void stagesFrom(float* re, float* im, size_t n, size_t h, const float* twRe, const float* twIm) {
    for (; 4 * h <= n; h *= 4) stagePair<Isa>(re, im, n, h, twRe, twIm);
    if (2 * h <= n) stage<Isa>(re, im, n, h, twRe, twIm);
}

// All butterfly stages over bit-reversed input; n a power of two >= W * W.
// twRe/twIm hold stage h's twiddles at [h, 2h).
template <class Isa>
void runStages(float* re, float* im, size_t n, const float* twRe, const float* twIm) {
    const size_t chunk = n < CHUNK ? n : CHUNK;
    for (size_t offset = 0; offset < n; offset += chunk) {
        smallStages<Isa>(re + offset, im + offset, chunk, twRe, twIm);
        stagesFrom<Isa>(re + offset, im + offset, chunk, Isa::W, twRe, twIm);
    }
    stagesFrom<Isa>(re, im, n, chunk, twRe, twIm);
}

// magnitude[k] = sqrt(re[k] * re[k] + im[k] * im[k]) for k < count (a
// multiple of W). Returns the largest magnitude above floor, or floor itself;
// NaN magnitudes never count.
template <class Isa>
float magnitudes(const float* re, const float* im, float* magnitude, size_t count, float floor) {
    using V = typename Isa::V;
    V largest = Isa::set1(floor);
    for (size_t k = 0; k < count; k += Isa::W) {
        const V r = Isa::load(re + k), i = Isa::load(im + k);
        const V m = Isa::sqrt(Isa::add(Isa::mul(r, r), Isa::mul(i, i)));
        Isa::store(magnitude + k, m);
        largest = Isa::maxUnlessNan(m, largest);
    }
    float lanes[Isa::W];
    Isa::store(lanes, largest);
    float result = lanes[0];
    for (size_t l = 1; l < Isa::W; ++l)
        if (lanes[l] > result) result = lanes[l];
    return result;
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

// values[k] /= divisor for k < count (a multiple of W).
template <class Isa>
void divideAll(float* values, size_t count, float divisor) {
    const typename Isa::V d = Isa::set1(divisor);
    for (size_t k = 0; k < count; k += Isa::W) Isa::store(values + k, Isa::div(Isa::load(values + k), d));
}

}  // namespace fftpass
