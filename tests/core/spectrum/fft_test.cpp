#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <complex>
#include <random>

#include "app/shared_state.h"
#include "spectrum/fft.h"

namespace {

TEST(Blackman, WindowHasItsTellingValuesAndIsFilledOnce) {
    initBlackman();
    ASSERT_EQ(blackmanWin.size(), FFT_SIZE);
    EXPECT_FLOAT_EQ(blackmanWin[0], -1.3877788e-17f);
    for (size_t i = 32765; i <= 32770; ++i) EXPECT_EQ(blackmanWin[i], 1.0f) << i;
    EXPECT_NEAR(blackmanWin[1], 8.27e-10, 0.01e-10);
    EXPECT_NEAR(blackmanWin[65534], 8.24e-10, 0.01e-10);
    EXPECT_NEAR(blackmanWin[65535], 2.75e-15, 0.01e-15);
    for (size_t i = 1; i < FFT_SIZE; ++i) {
        ASSERT_GT(blackmanWin[i], 0.0f) << i;
        ASSERT_LE(blackmanWin[i], 1.0f) << i;
    }
    const std::vector<float> first = blackmanWin;
    initBlackman();
    EXPECT_EQ(blackmanWin, first);
}

TEST(Fft, SmallCasesAreExact) {
    std::vector<float> re, im;
    fft(re, im);
    EXPECT_TRUE(re.empty());

    re = {3.0f};
    im = {-1.0f};
    fft(re, im);
    EXPECT_EQ(re, std::vector<float>{3.0f});
    EXPECT_EQ(im, std::vector<float>{-1.0f});

    re = {2.0f, 5.0f};
    im = {1.0f, -4.0f};
    fft(re, im);
    EXPECT_EQ(re, (std::vector<float>{7.0f, -3.0f}));
    EXPECT_EQ(im, (std::vector<float>{-3.0f, 5.0f}));

    re.assign(1024, 0.0f);
    im.assign(1024, 0.0f);
    re[0] = 1.0f;
    fft(re, im);
    for (size_t k = 0; k < re.size(); ++k) {
        ASSERT_EQ(re[k], 1.0f) << k;
        ASSERT_EQ(im[k], 0.0f) << k;
    }

    // Mismatched or non-power-of-two lengths are left alone rather than overrun.
    re = {1, 2, 3};
    im = {0, 0, 0};
    fft(re, im);
    EXPECT_EQ(re, (std::vector<float>{1, 2, 3}));
    re = {1, 2};
    im = {0};
    fft(re, im);
    EXPECT_EQ(re, (std::vector<float>{1, 2}));
}

TEST(Fft, EightPointForwardTransform) {
    std::vector<float> re = {1, 2, 0, -1, 0.5f, 0, 0, 3};
    std::vector<float> im(8, 0.0f);
    fft(re, im);
    const double expected[8][2] = {{5.5, 0},  {4.74264, 1.41421},   {1.5, 0}, {-3.74264, 1.41421},
                                   {-2.5, 0}, {-3.74264, -1.41421}, {1.5, 0}, {4.74264, -1.41421}};
    for (int k = 0; k < 8; ++k) {
        EXPECT_NEAR(re[k], expected[k][0], 1e-5) << k;
        EXPECT_NEAR(im[k], expected[k][1], 1e-5) << k;
    }
}

TEST(Fft, MatchesADirectTransformAtFullSize) {
    const size_t n = FFT_SIZE;
    std::vector<float> re(n), im(n, 0.0f);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (float& x : re) x = value(random);
    const std::vector<float> input = re;
    fft(re, im);
    // Spot-check bins against a double-precision DFT.
    for (size_t k : {size_t{0}, size_t{1}, size_t{1486}, size_t{32768}, size_t{65535}}) {
        std::complex<double> sum = 0;
        for (size_t m = 0; m < n; ++m)
            sum += static_cast<double>(input[m]) *
                   std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>((k * m) % n) / n);
        EXPECT_NEAR(re[k], sum.real(), 0.05) << k;
        EXPECT_NEAR(im[k], sum.imag(), 0.05) << k;
    }

    re.assign(n, 1.0f);
    im.assign(n, 0.0f);
    fft(re, im);
    EXPECT_EQ(re[0], static_cast<float>(n));
    for (size_t k = 1; k < n; ++k) ASSERT_NEAR(std::hypot(re[k], im[k]), 0.0, 0.1) << k;
}

}  // namespace
