#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "fake_window.h"
#include "shared_state_reset.h"
#include "spectrum/fft.h"
#include "spectrum/spectrum_worker.h"

namespace {

// The transform itself is checked against a textbook one, bit for bit, in fft_identity_test.cpp.
TEST(Fft, BlackmanWindow) {
    initBlackman();
    EXPECT_FLOAT_EQ(blackmanWin[0], -1.3877788e-17f);
    for (size_t i = 32765; i <= 32770; ++i) EXPECT_EQ(blackmanWin[i], 1.0f) << i;
    EXPECT_NEAR(blackmanWin[65535], 2.75e-15, 0.01e-15);  // not 0: the arguments are rounded to float
}

TEST(Spectrum, WorkerFinds1000HzInBin1486AndDropsLeftoversWhenStopped) {
    resetSharedState();
    FakeWindow window;
    hwndMain = &window;
    std::vector<int16_t> tone(FFT_SIZE);
    const double step = 2.0 * std::numbers::pi * 1000.0 / 44100.0;  // 1,000 Hz at 44.1 kHz
    for (size_t i = 0; i < FFT_SIZE; ++i)
        tone[i] = static_cast<int16_t>(std::lround(16000.0 * std::sin(step * i)));
    startSpectrumWorker();
    EXPECT_TRUE(pushFftBlock(std::move(tone)));
    EXPECT_EQ(window.takePosted(WM_APP_UPDATE_SPECTRUM), std::vector<uint32_t>{WM_APP_UPDATE_SPECTRUM});
    EXPECT_EQ(std::max_element(spectrumBuffer.begin(), spectrumBuffer.end()) - spectrumBuffer.begin(), 1486);
    EXPECT_EQ(spectrumBuffer.at(1486), 1.0f);
    EXPECT_EQ(dominantFreqHz.load(), 999.9481201171875f);
    stopSpectrumWorker();
    // Blocks left at the end of a take must not show in the next one.
    EXPECT_TRUE(pushFftBlock(std::vector<int16_t>(FFT_SIZE)));
    stopSpectrumWorker();
    EXPECT_TRUE(fftQueue.empty());
}

}  // namespace
