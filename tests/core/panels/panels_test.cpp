#include <gtest/gtest.h>

#include "base/messages.h"
#include "panels/panels.h"
#include "recording_canvas.h"
#include "shared_state_reset.h"

namespace {

using Ops = std::vector<std::string>;

const Rect PANEL{0, 0, 340, 40};

class Panels : public ::testing::Test {
protected:
    void SetUp() override { resetSharedState(); }
    // Every pen goes back, or the system runs out of them.
    void TearDown() override { EXPECT_EQ(canvas.pensAlive, 0); }
    RecordingCanvas canvas;
};

TEST_F(Panels, LevelBarAndNothingToDrawFromEmptyOrOneElementBuffers) {
    currentLevel = 0.5f;
    EXPECT_TRUE(drawPanel(IDC_VOLUME_METER, canvas, {0, 0, 340, 20}));
    EXPECT_EQ(canvas.ops, (Ops{"background 0,0-340,20", "fill 0,0-170,20"}));
    for (size_t n : {0, 1}) {
        waveformBufferL.assign(n, 1000);
        spectrumBuffer.assign(n, 1.0f);
        EXPECT_FALSE(drawPanel(IDC_WAVEFORM, canvas, PANEL)) << n;
        EXPECT_FALSE(drawPanel(IDC_SPECTRUM, canvas, PANEL)) << n;
    }
}

TEST_F(Panels, WaveformTakesEvery192ndSampleOfAFullHistory) {
    waveformBufferL.assign(MAX_WAVEFORM_SIZE, 0);
    waveformBufferL[0] = 32767, waveformBufferL[192] = 16384, waveformBufferL[384] = -32768;
    EXPECT_TRUE(drawPanel(IDC_WAVEFORM, canvas, PANEL));
    // Centre line at y = 20; samples reach 19, 10, 0 and -20 pixels above it.
    EXPECT_EQ(Ops(canvas.ops.begin(), canvas.ops.begin() + 12),
              (Ops{"background 0,0-340,40", "pen dot 1", "move 0,20", "line 340,20", "restore", "pen solid 1",
                   "move 0,1", "line 1,10", "move 1,10", "line 2,40", "move 2,40", "line 3,20"}));
    EXPECT_EQ(canvas.ops.size(), 6u + 2 * 339 + 1);  // 339 segments, the last from sample 65,088
}

TEST_F(Panels, SpectrumColumnsOf96BinsPeakMarkerAndLabel) {
    // The marker's scale is all the bins, not the columns drawn.
    for (const auto& [peak, x] : {std::pair{1486, 15}, std::pair{24672, 255}}) {
        spectrumBuffer.assign(FFT_SIZE / 2, 0.0f);
        for (size_t j = 96; j < 192; ++j) spectrumBuffer[j] = 0.5f;  // column 1 at half height
        spectrumBuffer[peak] = 1.0f;
        dominantFreqHz = 672.91259765625f;
        canvas.ops.clear();
        EXPECT_TRUE(drawPanel(IDC_SPECTRUM, canvas, PANEL));
        const Ops& ops = canvas.ops;
        ASSERT_EQ(ops.size(), 2u + 340 + 6);
        EXPECT_EQ(Ops(ops.begin(), ops.begin() + 5),
                  (Ops{"background 0,0-340,40", "pen solid 1", "move 0,38", "line 1,19", "line 2,38"}));
        EXPECT_EQ(Ops(ops.end() - 6, ops.end()),
                  (Ops{"restore", "pen solid 2", "move " + std::to_string(x) + ",0",
                       "line " + std::to_string(x) + ",40", "restore", "text 220,2 Peak: 672.9 Hz"}));
    }
}

}  // namespace
