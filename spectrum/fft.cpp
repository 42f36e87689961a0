#include "spectrum/fft.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/shared_state.h"
#include "spectrum/fft_kernels.h"

namespace {

// Nearest single-precision numbers to 2 pi and 4 pi.
constexpr float TWO_PI_F = 6.2831855f;
constexpr float FOUR_PI_F = 12.566371f;

// The twiddles of the stage of half-length h, w[0..h), by the stage's own
// recurrence: each from the one before by one single-precision complex
// multiplication. The accumulated rounding along a stage is part of the
// result's accuracy, so no exact table may stand in for it.
void fillTwiddles(size_t h, float* wRe, float* wIm) {
    const float angle = -TWO_PI_F / static_cast<float>(2 * h);
    const float wlenRe = std::cos(angle);
    const float wlenIm = std::sin(angle);
    float re = 1.0f;
    float im = 0.0f;
    for (size_t k = 0; k < h; ++k) {
        wRe[k] = re;
        wIm[k] = im;
        const float nextRe = re * wlenRe - im * wlenIm;
        const float nextIm = re * wlenIm + im * wlenRe;
        re = nextRe;
        im = nextIm;
    }
}

// Every block of a stage restarts the same recurrence, so each stage's
// sequence is computed once per process: stage h at [h, 2h), h < FFT_SIZE.
struct TwiddleTable {
    std::vector<float> re = std::vector<float>(FFT_SIZE);
    std::vector<float> im = std::vector<float>(FFT_SIZE);
    TwiddleTable() {
        for (size_t h = 1; h < FFT_SIZE; h *= 2) fillTwiddles(h, re.data() + h, im.data() + h);
    }
};

const TwiddleTable& twiddles() {
    static const TwiddleTable table;
    return table;
}

void scalarStage(float* re, float* im, size_t n, size_t h, const float* wRe, const float* wIm) {
    for (size_t s = 0; s < n; s += 2 * h)
        for (size_t k = 0; k < h; ++k) {
            const size_t a = s + k;
            const size_t b = a + h;
            const float tRe = re[b] * wRe[k] - im[b] * wIm[k];
            const float tIm = re[b] * wIm[k] + im[b] * wRe[k];
            re[b] = re[a] - tRe;
            im[b] = im[a] - tIm;
            re[a] = re[a] + tRe;
            im[a] = im[a] + tIm;
        }
}

}  // namespace

void initBlackman() {
    if (!blackmanWin.empty()) return;
    blackmanWin.resize(FFT_SIZE);
    const float span = static_cast<float>(FFT_SIZE - 1);
    for (size_t i = 0; i < FFT_SIZE; ++i) {
        // Arguments are rounded to single precision before the double cosine,
        // which is why the stored window is symmetric only to within rounding.
        const float a1 = static_cast<float>(i) * TWO_PI_F / span;
        const float a2 = static_cast<float>(i) * FOUR_PI_F / span;
        const double c1 = std::cos(static_cast<double>(a1));
        const double c2 = std::cos(static_cast<double>(a2));
        const double w = (0.42 - 0.5 * c1) + 0.08 * c2;
        blackmanWin[i] = static_cast<float>(w);
    }
}

bool avxSupported() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return supported;
}

bool avx512Supported() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0;
    }();
    return supported;
}

const FftKernels& fftKernels() {
    if (avx512Supported()) return AVX512_FFT_KERNELS;
    return avxSupported() ? AVX_FFT_KERNELS : SSE2_FFT_KERNELS;
}

void bitReverse(float* x, size_t n) {
    if (n < 256) {
        for (size_t i = 1, j = 0; i < n; ++i) {
            size_t bit = n >> 1;
            for (; j & bit; bit >>= 1) j ^= bit;
            j ^= bit;
            if (i < j) std::swap(x[i], x[j]);
        }
        return;
    }
    // Index = a (top 4 bits), b (middle bits), c (low 4 bits); its reverse is
    // (rev c, rev b, rev a). The 16 x 16 elements sharing b form a tile whose
    // rows are whole cache lines; tiles b and rev b trade places, so every
    // access stays within 32 lines instead of jumping across the array.
    static constexpr uint8_t REV4[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    const size_t rowStride = n / 16;
    const size_t tiles = n / 256;
    float tile[2][256];
    for (size_t b = 0; b < tiles; ++b) {
        size_t rb = 0;
        for (size_t bit = 1, out = tiles >> 1; bit < tiles; bit <<= 1, out >>= 1)
            if (b & bit) rb |= out;
        if (rb < b) continue;
        for (size_t a = 0; a < 16; ++a) {
            std::memcpy(tile[0] + a * 16, x + a * rowStride + b * 16, 16 * sizeof(float));
            std::memcpy(tile[1] + a * 16, x + a * rowStride + rb * 16, 16 * sizeof(float));
        }
        for (size_t c = 0; c < 16; ++c) {
            float* toRb = x + REV4[c] * rowStride + rb * 16;
            float* toB = x + REV4[c] * rowStride + b * 16;
            for (size_t a = 0; a < 16; ++a) {
                toRb[REV4[a]] = tile[0][a * 16 + c];
                toB[REV4[a]] = tile[1][a * 16 + c];
            }
        }
    }
}

void fftWith(const FftKernels& kernels, float* re, float* im, size_t n) {
    if (n <= FFT_SIZE && n >= kernels.width * kernels.width) {
        const TwiddleTable& table = twiddles();
        kernels.transform(re, im, n, table.re.data(), table.im.data());
        return;
    }
    bitReverse(re, n);
    bitReverse(im, n);
    if (n > FFT_SIZE) {
        // Longer than any stage in the table; never the program's own size.
        std::vector<float> wRe, wIm;
        for (size_t h = 1; h < n; h *= 2) {
            wRe.resize(h);
            wIm.resize(h);
            fillTwiddles(h, wRe.data(), wIm.data());
            scalarStage(re, im, n, h, wRe.data(), wIm.data());
        }
        return;
    }
    const TwiddleTable& table = twiddles();
    for (size_t h = 1; h < n; h *= 2) scalarStage(re, im, n, h, table.re.data() + h, table.im.data() + h);
}

float fftMagnitudes(const FftKernels& kernels, const SpectrumInput& input, float* re, float* im,
                    float* magnitude, float floor) {
    const TwiddleTable& table = twiddles();
    static_assert(SPECTRUM_SIZE == FFT_SIZE);
    return kernels.spectrum(input, re, im, table.re.data(), table.im.data(), magnitude, floor);
}

void fft(std::vector<float>& re, std::vector<float>& im) {
    const size_t n = re.size();
    // Anything but two equal power-of-two lengths would index out of range.
    if (n < 2 || im.size() != n || (n & (n - 1)) != 0) return;
    fftWith(fftKernels(), re.data(), im.data(), n);
}
