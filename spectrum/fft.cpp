#include "spectrum/fft.h"

#include <cmath>
#include <utility>

#include "app/shared_state.h"

namespace {

// Nearest single-precision numbers to 2 pi and 4 pi.
constexpr float TWO_PI_F = 6.2831855f;
constexpr float FOUR_PI_F = 12.566371f;

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

void fft(std::vector<float>& re, std::vector<float>& im) {
    const size_t n = re.size();
    // Anything but two equal power-of-two lengths would index out of range.
    if (n < 2 || im.size() != n || (n & (n - 1)) != 0) return;

    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }

    for (size_t len = 2; len <= n; len <<= 1) {
        const float angle = -TWO_PI_F / static_cast<float>(len);
        const float wlenRe = std::cos(angle);
        const float wlenIm = std::sin(angle);
        const size_t half = len / 2;
        for (size_t s = 0; s < n; s += len) {
            // Twiddles come from a recurrence, not a table: the accumulated
            // rounding along a block is part of the result's accuracy.
            float wRe = 1.0f;
            float wIm = 0.0f;
            for (size_t k = 0; k < half; ++k) {
                const size_t a = s + k;
                const size_t b = a + half;
                const float tRe = re[b] * wRe - im[b] * wIm;
                const float tIm = re[b] * wIm + im[b] * wRe;
                re[b] = re[a] - tRe;
                im[b] = im[a] - tIm;
                re[a] = re[a] + tRe;
                im[a] = im[a] + tIm;
                const float nextRe = wRe * wlenRe - wIm * wlenIm;
                const float nextIm = wRe * wlenIm + wIm * wlenRe;
                wRe = nextRe;
                wIm = nextIm;
            }
        }
    }
}
