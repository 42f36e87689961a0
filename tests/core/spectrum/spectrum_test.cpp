#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "fake_window.h"
#include "shared_state_reset.h"
#include "spectrum/fft.h"
#include "spectrum/spectrum_worker.h"

namespace {

// One FFT block of a 1,000 Hz tone at 44.1 kHz.
std::vector<int16_t> tone() {
    std::vector<int16_t> out(FFT_SIZE);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(
            std::lround(16000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 44100)));
    return out;
}

TEST(Fft, BlackmanWindowAndAnEightPointTransform) {
    initBlackman();
    EXPECT_FLOAT_EQ(blackmanWin[0], -1.3877788e-17f);
    for (size_t i = 32765; i <= 32770; ++i) EXPECT_EQ(blackmanWin[i], 1.0f) << i;

    std::vector<float> re = {1, 2, 0, -1, 0.5f, 0, 0, 3}, im(8, 0.0f);
    fft(re, im);
    const double expected[8][2] = {{5.5, 0},  {4.74264, 1.41421},   {1.5, 0}, {-3.74264, 1.41421},
                                   {-2.5, 0}, {-3.74264, -1.41421}, {1.5, 0}, {4.74264, -1.41421}};
    for (int k = 0; k < 8; ++k) {
        EXPECT_NEAR(re[k], expected[k][0], 1e-5) << k;
        EXPECT_NEAR(im[k], expected[k][1], 1e-5) << k;
    }
}

class Spectrum : public ::testing::Test {
protected:
    void SetUp() override { resetSharedState(), hwndMain = &window; }
    void TearDown() override { resetSharedState(); }
    FakeWindow window;
};

TEST_F(Spectrum, ToneOf1000HzPeaksInBin1486) {
    const std::vector<int16_t> block = tone();
    processFFT(block.data(), block.size(), 44100);
    ASSERT_EQ(spectrumBuffer.size(), FFT_SIZE / 2);
    EXPECT_EQ(std::max_element(spectrumBuffer.begin(), spectrumBuffer.end()) - spectrumBuffer.begin(), 1486);
    EXPECT_EQ(spectrumBuffer[1486], 1.0f);
    EXPECT_EQ(dominantFreqHz.load(), 999.9481201171875f);
    EXPECT_EQ(window.takePosted(), std::vector<uint32_t>{WM_APP_UPDATE_VISUALS});
}

TEST_F(Spectrum, WorkerAnalysesQueuedBlocksAndDropsLeftoversWhenStopped) {
    startSpectrumWorker();
    EXPECT_TRUE(pushFftBlock(tone()));
    EXPECT_EQ(window.takePosted(WM_APP_UPDATE_VISUALS), std::vector<uint32_t>{WM_APP_UPDATE_VISUALS});
    EXPECT_EQ(dominantFreqHz.load(), 999.9481201171875f);
    stopSpectrumWorker();
    // Blocks left at the end of a take must not show in the next one.
    EXPECT_TRUE(pushFftBlock(tone()));
    stopSpectrumWorker();
    EXPECT_TRUE(fftQueue.empty());
}

}  // namespace
