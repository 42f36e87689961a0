// The vector transform must give the plain scalar transform's numbers bit for
// bit on every processor: a spectrum or a peak label that moved by one rounding
// between machines or releases would be a different program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "shared_state_reset.h"
#include "spectrum/fft.h"
#include "spectrum/fft_kernels.h"
#include "spectrum/spectrum_worker.h"

namespace {

// The transform as first written: one butterfly at a time, twiddles by recurrence per block.
void referenceFft(std::vector<float>& re, std::vector<float>& im) {
    const size_t n = re.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const float angle = -6.2831855f / static_cast<float>(len);
        const float wlenRe = std::cos(angle), wlenIm = std::sin(angle);
        for (size_t s = 0; s < n; s += len) {
            float wRe = 1.0f, wIm = 0.0f;
            for (size_t a = s, b = s + len / 2; a < s + len / 2; ++a, ++b) {
                const float tRe = re[b] * wRe - im[b] * wIm, tIm = re[b] * wIm + im[b] * wRe;
                re[b] = re[a] - tRe, im[b] = im[a] - tIm;
                re[a] = re[a] + tRe, im[a] = im[a] + tIm;
                const float nextRe = wRe * wlenRe - wIm * wlenIm;
                wIm = wRe * wlenIm + wIm * wlenRe, wRe = nextRe;
            }
        }
    }
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(FftIdentity, EveryKernelSetGivesTheScalarTransform) {
    std::vector<const FftKernels*> sets = {&SSE2_FFT_KERNELS};
    if (avxSupported()) sets.push_back(&AVX_FFT_KERNELS);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (size_t n : {2, 8, 16, 64, 1024, 4096, 65536})
        for (bool tone : {false, true}) {
            std::vector<float> re(n), im(n);
            for (size_t i = 0; i < n; ++i) {
                re[i] = tone ? std::sin(0.37f * static_cast<float>(i)) : noise(random);
                im[i] = tone ? 0.0f : noise(random);
            }
            std::vector<float> wantRe = re, wantIm = im;
            referenceFft(wantRe, wantIm);
            for (const FftKernels* kernels : sets) {
                std::vector<float> gotRe = re, gotIm = im;
                bitReverse(gotRe.data(), n);
                bitReverse(gotIm.data(), n);
                fftStages(*kernels, gotRe.data(), gotIm.data(), n);
                EXPECT_TRUE(sameBits(gotRe, wantRe) && sameBits(gotIm, wantIm))
                    << n << (tone ? " tone" : " noise") << ", vector width " << kernels->width;
            }
            fft(re, im);
            EXPECT_TRUE(sameBits(re, wantRe) && sameBits(im, wantIm)) << n;
        }
}

TEST(FftIdentity, AnalysisGivesTheScalarSpectrumAndPeak) {
    resetSharedState();
    initBlackman();
    std::mt19937 random(5);
    std::uniform_int_distribution<int> noise(-32768, 32767);
    enum Kind { Noise, Tone, Impulse };
    const std::pair<size_t, Kind> cases[] = {{0, Noise},           {100, Noise},     {FFT_SIZE, Noise},
                                             {FFT_SIZE + 7, Tone}, {FFT_SIZE, Tone}, {FFT_SIZE, Impulse}};
    for (const auto& [count, kind] : cases) {
        std::vector<int16_t> block(count);
        for (size_t i = 0; i < count; ++i)
            block[i] = kind == Noise  ? static_cast<int16_t>(noise(random))
                       : kind == Tone ? static_cast<int16_t>(std::lround(12000.0 * std::sin(0.1617 * i)))
                                      : static_cast<int16_t>(i == FFT_SIZE / 2 ? 20000 : 0);
        std::vector<float> re(FFT_SIZE), im(FFT_SIZE), magnitude(FFT_SIZE / 2);
        for (size_t i = 0; i < count && i < FFT_SIZE; ++i) re[i] = (block[i] / 32768.0f) * blackmanWin[i];
        referenceFft(re, im);
        float maximum = 1e-8f;
        size_t peak = 0;
        for (size_t k = 0; k < magnitude.size(); ++k) {
            magnitude[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
            if (magnitude[k] > maximum) maximum = magnitude[k], peak = k;
        }
        for (float& m : magnitude) m /= maximum;
        processFFT(block.data(), count, 48000);
        EXPECT_TRUE(sameBits(spectrumBuffer, magnitude)) << count << " kind " << kind;
        EXPECT_EQ(dominantFreqHz.load(), static_cast<float>(peak) * 48000.0f / 65536.0f) << count;
    }
}

}  // namespace
