#include <gtest/gtest.h>

#include "recording/live_feed.h"
#include "shared_state_reset.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class LiveFeed : public ::testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        lastFFT = t0;
    }
    void TearDown() override { resetSharedState(); }

    static void fillHistory(size_t count, int16_t value = 1) {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.assign(count, value);
    }
    static size_t queued() {
        std::lock_guard<std::mutex> lock(fftMutex);
        return fftQueue.size();
    }

    const Clock::time_point t0 = Clock::now();
};

TEST_F(LiveFeed, StereoSplitsLeftIntoHistoryAndTrimsToNewest) {
    feedLiveAnalysis({1, 2, 3, 4, 5, 6, 7, 8}, 2, t0);
    EXPECT_EQ(waveformBufferL, (std::vector<int16_t>{1, 3, 5, 7}));

    std::vector<int16_t> history(65530);
    for (size_t i = 0; i < history.size(); ++i) history[i] = static_cast<int16_t>(i % 1000);
    waveformBufferL = history;
    feedLiveAnalysis(std::vector<int16_t>(6, -1), 1, t0);
    EXPECT_EQ(waveformBufferL.size(), 65536u);
    EXPECT_EQ(waveformBufferL.front(), 0);

    waveformBufferL = history;
    feedLiveAnalysis(std::vector<int16_t>(10, -1), 1, t0);
    ASSERT_EQ(waveformBufferL.size(), 65536u);
    EXPECT_EQ(waveformBufferL.front(), 4);  // the four oldest went
    EXPECT_EQ(waveformBufferL.back(), -1);
}

TEST_F(LiveFeed, HandOffNeedsAFullBlockAnd200Milliseconds) {
    fillHistory(65535);
    feedLiveAnalysis({}, 1, t0 + milliseconds(5000));
    EXPECT_EQ(queued(), 0u);

    fillHistory(65536);
    feedLiveAnalysis({}, 1, t0 + milliseconds(199));
    EXPECT_EQ(queued(), 0u);
    EXPECT_EQ(lastFFT, t0);

    // An empty packet still hands off a due block.
    feedLiveAnalysis({}, 1, t0 + milliseconds(200));
    EXPECT_EQ(queued(), 1u);
    EXPECT_EQ(lastFFT, t0 + milliseconds(200));
}

TEST_F(LiveFeed, BlockIsTheNewestSamplesOldestFirst) {
    std::vector<int16_t> history(70000 - 4);
    waveformBufferL.clear();
    for (int16_t i = 0; i < 4; ++i) history.push_back(static_cast<int16_t>(100 + i));
    // More than one block's worth passes through the trim first.
    feedLiveAnalysis(history, 1, t0 + milliseconds(300));
    ASSERT_EQ(queued(), 1u);
    const std::vector<int16_t>& block = fftQueue.front();
    ASSERT_EQ(block.size(), 65536u);
    EXPECT_EQ(block.back(), 103);
    EXPECT_EQ(block[block.size() - 4], 100);
}

TEST_F(LiveFeed, FullQueueDropsTheBlockAndKeepsLastFft) {
    fillHistory(65536);
    for (int i = 0; i < 3; ++i) fftQueue.push(std::vector<int16_t>(1));
    feedLiveAnalysis({}, 1, t0 + milliseconds(250));
    EXPECT_EQ(queued(), 4u);
    EXPECT_EQ(lastFFT, t0 + milliseconds(250));

    feedLiveAnalysis({}, 1, t0 + milliseconds(600));
    EXPECT_EQ(queued(), 4u);
    EXPECT_EQ(lastFFT, t0 + milliseconds(250));
}

TEST_F(LiveFeed, LevelIsRmsOfFullScaleAveragedOverChannels) {
    currentLevel = 0.3f;
    feedLiveAnalysis({}, 2, t0);
    EXPECT_FLOAT_EQ(currentLevel, 0.3f);  // no samples: level untouched

    feedLiveAnalysis({32767, -32767, -32767, 32767}, 1, t0);
    EXPECT_FLOAT_EQ(currentLevel, 32767.0f / 32768.0f);

    feedLiveAnalysis({32767, 0, -32767, 0}, 2, t0);
    EXPECT_NEAR(currentLevel, 0.5f, 1e-4);

    feedLiveAnalysis({0, 0, 0, 0}, 2, t0);
    EXPECT_EQ(currentLevel, 0.0f);

    feedLiveAnalysis({-32768, -32768}, 1, t0);
    EXPECT_EQ(currentLevel, 1.0f);
}

}  // namespace
