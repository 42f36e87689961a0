#include <gtest/gtest.h>

#include "recording/live_feed.h"
#include "shared_state_reset.h"

namespace {

using std::chrono::milliseconds;

class LiveFeed : public ::testing::Test {
protected:
    void SetUp() override { resetSharedState(), lastFFT = T0; }
    void TearDown() override { resetSharedState(); }
    const std::chrono::steady_clock::time_point T0 = std::chrono::steady_clock::now();
};

TEST_F(LiveFeed, LevelIsTheRmsOfFullScaleAveragedOverTheChannels) {
    const struct {
        std::vector<int16_t> packet;
        int channels;
        float level;
    } cases[] = {
        {{32767, -32767}, 1, 32767.0f / 32768.0f},
        {{32767, 0, -32767, 0}, 2, 32767.0f / 65536.0f},
        {{-32768, -32768}, 1, 1.0f},
        {{}, 2, 1.0f},  // an empty packet leaves the meter as it was
    };
    for (const auto& c : cases) {
        feedLiveAnalysis(c.packet, c.channels, T0);
        EXPECT_NEAR(currentLevel, c.level, 1e-6) << c.packet.size() << " samples";
    }
}

TEST_F(LiveFeed, HistoryKeepsTheNewestLeftChannelSamples) {
    feedLiveAnalysis({1, 2, 3, 4}, 2, T0);
    EXPECT_EQ(waveformBufferL, (std::vector<int16_t>{1, 3}));
    std::vector<int16_t> packet(MAX_WAVEFORM_SIZE + 4);
    for (size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<int16_t>(i);
    feedLiveAnalysis(packet, 1, T0);
    EXPECT_EQ(waveformBufferL, std::vector<int16_t>(packet.begin() + 4, packet.end()));
}

TEST_F(LiveFeed, NewestBlockGoesToTheSpectrumEvery200MsAtMostFourWaiting) {
    std::vector<int16_t> history(FFT_SIZE - 1);
    for (size_t i = 0; i < history.size(); ++i) history[i] = static_cast<int16_t>(i);
    feedLiveAnalysis(history, 1, T0 + milliseconds(1000));  // one sample short of a block
    feedLiveAnalysis({-1}, 1, T0 + milliseconds(199));
    EXPECT_TRUE(fftQueue.empty());
    feedLiveAnalysis({-2}, 1, T0 + milliseconds(200));
    ASSERT_EQ(fftQueue.size(), 1u);
    EXPECT_EQ(fftQueue.front().size(), FFT_SIZE);
    EXPECT_EQ(fftQueue.front().front(), 1);
    EXPECT_EQ(fftQueue.front().back(), -2);
    for (int i = 2; i <= 5; ++i) feedLiveAnalysis({0}, 1, T0 + milliseconds(200 * i));
    EXPECT_EQ(fftQueue.size(), MAX_QUEUED_BLOCKS);
}

}  // namespace
