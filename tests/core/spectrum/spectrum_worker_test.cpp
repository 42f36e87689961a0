#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "app/messages.h"
#include "fake_window.h"
#include "shared_state_reset.h"
#include "spectrum/spectrum_worker.h"

namespace {

std::vector<int16_t> tone(double hz, int rate, size_t count, double amplitude = 16000.0) {
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * hz * i / rate)));
    return out;
}

size_t peakBin(const std::vector<float>& bins) {
    return static_cast<size_t>(std::find(bins.begin(), bins.end(), 1.0f) - bins.begin());
}

class Spectrum : public ::testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        hwndMain = &window;
    }
    void TearDown() override { resetSharedState(); }
    FakeWindow window;
};

TEST_F(Spectrum, ToneGivesItsBinAndExactFrequency) {
    const std::vector<int16_t> block = tone(1000.0, 44100, FFT_SIZE);
    processFFT(block.data(), block.size(), 44100);
    ASSERT_EQ(spectrumBuffer.size(), 32768u);
    EXPECT_EQ(peakBin(spectrumBuffer), 1486u);
    EXPECT_EQ(dominantFreqHz.load(), 999.9481201171875f);
    EXPECT_LE(*std::max_element(spectrumBuffer.begin(), spectrumBuffer.end()), 1.0f);
    EXPECT_EQ(window.posted(), std::vector<uint32_t>{WM_APP_UPDATE_VISUALS});

    // Only the first 65,536 samples count.
    std::vector<int16_t> longer = block;
    longer.resize(70000, 32767);
    const std::vector<float> expected = spectrumBuffer;
    processFFT(longer.data(), longer.size(), 44100);
    EXPECT_EQ(spectrumBuffer, expected);
}

TEST_F(Spectrum, SilenceShortBlocksAndDc) {
    const std::vector<int16_t> zeros(FFT_SIZE, 0);
    dominantFreqHz = 123.0f;
    processFFT(zeros.data(), zeros.size(), 48000);
    EXPECT_EQ(spectrumBuffer, std::vector<float>(32768, 0.0f));
    EXPECT_EQ(dominantFreqHz.load(), 0.0f);

    processFFT(nullptr, 0, 48000);
    EXPECT_EQ(spectrumBuffer, std::vector<float>(32768, 0.0f));

    // 100 samples are analysed as if followed by zeros.
    std::vector<int16_t> shortBlock = tone(4800.0, 48000, 100, 30000.0);
    processFFT(shortBlock.data(), shortBlock.size(), 48000);
    const std::vector<float> fromShort = spectrumBuffer;
    shortBlock.resize(FFT_SIZE, 0);
    processFFT(shortBlock.data(), shortBlock.size(), 48000);
    EXPECT_EQ(spectrumBuffer, fromShort);

    const std::vector<int16_t> dc(FFT_SIZE, 1000);
    processFFT(dc.data(), dc.size(), 48000);
    EXPECT_EQ(peakBin(spectrumBuffer), 0u);
    EXPECT_EQ(dominantFreqHz.load(), 0.0f);
}

TEST_F(Spectrum, WorkerAnalysesQueuedBlocksAndStopsCleanly) {
    globalSampleRate = 44100;
    startSpectrumWorker();
    EXPECT_TRUE(pushFftBlock(tone(1000.0, 44100, FFT_SIZE)));
    ASSERT_TRUE(window.waitFor(WM_APP_UPDATE_VISUALS));
    EXPECT_EQ(dominantFreqHz.load(), 999.9481201171875f);
    stopSpectrumWorker();  // waits on an empty queue: must wake and end
    EXPECT_FALSE(fftThread.joinable());
    EXPECT_FALSE(fftRunning);
}

TEST_F(Spectrum, QueueHoldsFourAndIsEmptiedWhenTheWorkerStops) {
    // Not started: blocks stay queued, like a take's end with analyses pending.
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(pushFftBlock(std::vector<int16_t>(FFT_SIZE, 1)));
    EXPECT_FALSE(pushFftBlock(std::vector<int16_t>(FFT_SIZE, 1)));
    EXPECT_EQ(fftQueue.size(), 4u);

    // A worker told to stop does not analyse what is left, and the leftovers
    // must not reach the next take.
    fftRunning = false;
    fftThread = std::thread(fftWorkerThread);
    stopSpectrumWorker();
    EXPECT_TRUE(fftQueue.empty());
    EXPECT_TRUE(window.posted().empty());
}

}  // namespace
