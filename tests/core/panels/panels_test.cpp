#include <gtest/gtest.h>

#include "app/messages.h"
#include "panels/panels.h"
#include "recording_canvas.h"
#include "shared_state_reset.h"

namespace {

using Ops = std::vector<std::string>;

const Rect LEVEL{0, 0, 340, 20};
const Rect WAVE{0, 0, 340, 40};
const Rect SPECTRUM{0, 0, 340, 40};

class Panels : public ::testing::Test {
protected:
    void SetUp() override { resetSharedState(); }
    void TearDown() override {
        EXPECT_EQ(canvas.pensAlive, 0);  // every pen was put back and deleted
        resetSharedState();
    }
    // Lines drawn with the current pen, as "from->to".
    Ops segments() const {
        Ops out;
        for (size_t i = 1; i < canvas.ops.size(); ++i)
            if (canvas.ops[i].rfind("line", 0) == 0 && canvas.ops[i - 1].rfind("move", 0) == 0)
                out.push_back(canvas.ops[i - 1].substr(5) + "->" + canvas.ops[i].substr(5));
        return out;
    }
    RecordingCanvas canvas;
};

TEST_F(Panels, LevelMeterBarIsProportional) {
    const struct {
        float level;
        std::string bar;
    } cases[] = {{0.5f, "fill 0,0-170,20 rgb(0,200,0)"},
                 {1.0f, "fill 0,0-340,20 rgb(0,200,0)"},
                 {0.0f, "fill 0,0-0,20 rgb(0,200,0)"}};
    for (const auto& c : cases) {
        canvas.ops.clear();
        currentLevel = c.level;
        EXPECT_TRUE(drawPanel(IDC_VOLUME_METER, canvas, LEVEL));
        EXPECT_EQ(canvas.ops, (Ops{"background 0,0-340,20", c.bar}));
    }
}

TEST_F(Panels, WaveformWithoutDataDrawsOnlyTheCentreLine) {
    const Ops expected = {"background 0,0-340,40", "pen dot 1 rgb(180,180,180)", "move 0,20", "line 340,20",
                          "restore"};
    EXPECT_FALSE(drawPanel(IDC_WAVEFORM, canvas, WAVE));
    EXPECT_EQ(canvas.ops, expected);
    canvas.ops.clear();
    waveformBufferL = {1000};
    EXPECT_FALSE(drawPanel(IDC_WAVEFORM, canvas, WAVE));
    EXPECT_EQ(canvas.ops, expected);
}

TEST_F(Panels, WaveformScalesAndStepsThroughTheHistory) {
    waveformBufferL = {32767, -32768};
    EXPECT_TRUE(drawPanel(IDC_WAVEFORM, canvas, WAVE));
    EXPECT_EQ(segments(), (Ops{"0,20->340,20", "0,1->1,40"}));

    // A full history: step 192, 339 segments, samples 0 .. 65,088.
    canvas.ops.clear();
    std::vector<int16_t> history(65536, 0);
    history[0] = 32767;
    history[192] = 16384;
    history[384] = -32768;
    history[65088] = 16384;
    history[65535] = 32767;  // beyond the last segment
    waveformBufferL = history;
    EXPECT_TRUE(drawPanel(IDC_WAVEFORM, canvas, WAVE));
    const Ops s = segments();
    ASSERT_EQ(s.size(), 1u + 339u);
    EXPECT_EQ(s[1], "0,1->1,10");
    EXPECT_EQ(s[2], "1,10->2,40");
    EXPECT_EQ(s[3], "2,40->3,20");
    EXPECT_EQ(s.back(), "338,20->339,10");
    EXPECT_EQ(canvas.ops[5], "pen solid 1 rgb(0,150,255)");
}

TEST_F(Panels, SpectrumColumnsMarkerAndLabel) {
    std::vector<float> bins(32768, 0.0f);
    for (size_t j = 96; j < 192; ++j) bins[j] = 0.5f;  // column 1
    bins[1486] = 1.0f;
    spectrumBuffer = bins;
    dominantFreqHz = 672.91259765625f;
    EXPECT_TRUE(drawPanel(IDC_SPECTRUM, canvas, SPECTRUM));

    const Ops& ops = canvas.ops;
    EXPECT_EQ(ops[0], "background 0,0-340,40");
    EXPECT_EQ(ops[1], "pen solid 1 rgb(220,120,60)");
    EXPECT_EQ(ops[2], "move 0,38");
    EXPECT_EQ(ops[3], "line 1,19");
    EXPECT_EQ(ops[4], "line 2,38");
    EXPECT_EQ(ops[2 + 340], "restore");  // 340 columns
    EXPECT_EQ(ops[2 + 339], "line 339,38");
    const Ops tail(ops.begin() + 343, ops.end());
    EXPECT_EQ(tail, (Ops{"pen solid 2 rgb(255,40,40)", "move 15,0", "line 15,40", "restore",
                         "text 220,2 Peak: 672.9 Hz rgb(255,40,40)"}));

    // The marker scale is the whole snapshot; column 257 holds bin 24,672.
    canvas.ops.clear();
    bins.assign(32768, 0.0f);
    bins[24672] = 1.0f;
    spectrumBuffer = bins;
    drawPanel(IDC_SPECTRUM, canvas, SPECTRUM);
    EXPECT_EQ(canvas.ops[2 + 340 + 2], "move 255,0");
}

TEST_F(Panels, SpectrumOfSilenceAndOfNothing) {
    EXPECT_FALSE(drawPanel(IDC_SPECTRUM, canvas, SPECTRUM));
    EXPECT_EQ(canvas.ops, Ops{"background 0,0-340,40"});

    canvas.ops.clear();
    spectrumBuffer.assign(32768, 0.0f);
    EXPECT_TRUE(drawPanel(IDC_SPECTRUM, canvas, SPECTRUM));
    EXPECT_EQ(canvas.ops[2], "move 0,38");
    EXPECT_EQ(canvas.ops[2 + 340 + 2], "move 0,0");
    EXPECT_EQ(canvas.ops.back(), "text 220,2 Peak: 0.0 Hz rgb(255,40,40)");

    // Fewer bins than pixels: step 1, and the last bin is never drawn.
    canvas.ops.clear();
    spectrumBuffer = {0.0f, 1.0f, 0.5f};
    drawPanel(IDC_SPECTRUM, canvas, SPECTRUM);
    EXPECT_EQ((Ops{canvas.ops[2], canvas.ops[3], canvas.ops[4]}), (Ops{"move 0,38", "line 1,0", "restore"}));
}

TEST_F(Panels, OtherIdsAndZeroWidthPanels) {
    EXPECT_FALSE(drawPanel(IDC_START, canvas, LEVEL));
    EXPECT_FALSE(drawPanel(99, canvas, LEVEL));
    EXPECT_TRUE(canvas.ops.empty());

    waveformBufferL.assign(100, 5);
    spectrumBuffer.assign(32768, 0.5f);
    const Rect empty{0, 0, 0, 40};
    for (int id : {IDC_WAVEFORM, IDC_SPECTRUM}) {
        canvas.ops.clear();
        drawPanel(id, canvas, empty);
        EXPECT_EQ(canvas.ops, Ops{"background 0,0-0,40"});
    }
}

}  // namespace
