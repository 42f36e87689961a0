// The vector transform must give the plain scalar transform's numbers bit for
// bit on every processor: a spectrum or a peak label that moved by one rounding
// between machines or releases would be a different program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/shared_state.h"
#include "spectrum/fft_kernels.h"
#include "spectrum/spectrum_worker.h"

// Scrambled enough that no two neighbouring values are alike.
static unsigned noise(size_t i) { return static_cast<unsigned>(i * 2654435761u >> 7); }

// The transform as first written: one butterfly at a time, twiddles by recurrence in every block.
static void referenceFft(std::vector<float>& re, std::vector<float>& im) {
    const size_t n = re.size();
    for (size_t i = 1, j = 0, bit; i < n; ++i) {
        for (bit = n >> 1; j & bit; bit >>= 1) j ^= bit;
        if ((j ^= bit) > i) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const float angle = -6.2831855f / len, wlenRe = std::cos(angle), wlenIm = std::sin(angle);
        for (size_t s = 0; s < n; s += len) {
            float wRe = 1.0f, wIm = 0.0f;
            for (size_t a = s, b = s + len / 2; a < s + len / 2; ++a, ++b) {
                const float tRe = re[b] * wRe - im[b] * wIm, tIm = re[b] * wIm + im[b] * wRe;
                re[b] = re[a] - tRe, im[b] = im[a] - tIm, re[a] = re[a] + tRe, im[a] = im[a] + tIm;
                std::tie(wRe, wIm) = std::pair(wRe * wlenRe - wIm * wlenIm, wRe * wlenIm + wIm * wlenRe);
            }
        }
    }
}

static bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(FftIdentity, TransformAndAnalysisGiveTheScalarNumbersBitForBit) {
    // A tone plus noise, below, at and above one vector tile and one cache chunk, with every kernel set.
    std::vector<const FftKernels*> sets = {&SSE2_FFT_KERNELS};
    if (avxSupported()) sets.push_back(&AVX_FFT_KERNELS);
    if (avx512Supported()) sets.push_back(&AVX512_FFT_KERNELS);
    for (size_t n : {2, 8, 16, 64, 1024, 4096, 65536}) {
        std::vector<float> re(n), im(n);
        for (size_t i = 0; i < n; ++i) re[i] = std::sin(0.37f * i), im[i] = noise(i) % 2001 / 1000.0f - 1;
        std::vector<float> wantRe = re, wantIm = im;
        referenceFft(wantRe, wantIm);
        for (const FftKernels* kernels : sets) {
            std::vector<float> gotRe = re, gotIm = im;
            fftWith(*kernels, gotRe.data(), gotIm.data(), n);
            EXPECT_TRUE(sameBits(gotRe, wantRe) && sameBits(gotIm, wantIm)) << n << " " << kernels->width;
        }
    }
    // The whole analysis of a noisy tone and of an impulse whose bins tie (the lowest must win),
    // short, whole and too long, with every kernel set.
    for (bool tie : {false, true})
        for (size_t count : {size_t{0}, size_t{100}, FFT_SIZE, FFT_SIZE + 7})
            for (const FftKernels* kernels : sets) {
                std::vector<int16_t> block(count);
                for (size_t i = 0; i < count; ++i)
                    block[i] = int16_t(tie ? (i == FFT_SIZE / 2) * 20000
                                           : 9000 * std::sin(0.16 * i) + noise(i) % 8000);
                processFFTWith(*kernels, block.data(), count, 48000);
                std::vector<float> re(FFT_SIZE), im(FFT_SIZE), magnitude(FFT_SIZE / 2);
                for (size_t i = 0; i < count && i < FFT_SIZE; ++i)
                    re[i] = block[i] / 32768.0f * blackmanWin[i];
                referenceFft(re, im);
                float maximum = 1e-8f, peakHz = 0.0f;
                for (size_t k = 0; k < magnitude.size(); ++k)
                    if ((magnitude[k] = std::sqrt(re[k] * re[k] + im[k] * im[k])) > maximum)
                        maximum = magnitude[k], peakHz = static_cast<float>(k) * 48000.0f / 65536.0f;
                for (float& m : magnitude) m /= maximum;
                EXPECT_TRUE(sameBits(spectrumBuffer, magnitude))
                    << tie << " " << count << " " << kernels->width;
                EXPECT_EQ(dominantFreqHz.load(), peakHz) << tie << " " << count << " " << kernels->width;
            }
}
