#include <gtest/gtest.h>

#include <filesystem>

#include "app/commands.h"
#include "fake_capture_source.h"
#include "fake_window.h"
#include "shared_state_reset.h"

namespace {

std::string failing;  // what the next take's capture source fails on

std::unique_ptr<CaptureSource> makeSource() {
    auto source = std::make_unique<FakeCaptureSource>();
    source->failOn = failing;
    source->stopWhenDrained = false;  // takes run until Stop or close
    source->packets = {fakePacket<float>({0.5f, -0.5f}, 1)};
    return source;
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        hwndMain = &window;
        captureSourceFactory = makeSource;
        failing.clear();
        window.dialogAnswer = L"take.wav";
    }
    void TearDown() override { onDestroy(), resetSharedState(); }

    // The window's message loop, until `message` has been handled.
    void pumpUntil(uint32_t message) {
        const std::vector<uint32_t> posted = window.takePosted(message);
        ASSERT_NE(std::find(posted.begin(), posted.end(), message), posted.end()) << message << " never came";
        for (uint32_t m : posted) onAppMessage(window, m);
    }

    FakeWindow window;
};

TEST_F(Commands, StartIsRefusedWhileATakeRuns) {
    onCommand(window, IDC_START);
    pumpUntil(WM_APP_RECORDING_STARTED);
    EXPECT_EQ(window.status, L"Recording...");
    onCommand(window, IDC_START);
    EXPECT_EQ(window.dialogCount, 1);
    onCommand(window, IDC_STOP);
    pumpUntil(WM_APP_RECORDING_DONE);
    EXPECT_EQ(window.status, L"Saved to: take.wav");
    EXPECT_FALSE(recordingThread.joinable());
}

TEST_F(Commands, CancelStartsNothingAndCloseWithoutATakeIsImmediate) {
    window.dialogAnswer.clear();
    onCommand(window, IDC_START);
    EXPECT_FALSE(isRecording);
    EXPECT_FALSE(recordingThread.joinable());
    onCloseRequest(window);
    EXPECT_EQ(window.destroyCount, 1);
}

TEST_F(Commands, CloseDuringATakeWaitsForTheFile) {
    onCommand(window, IDC_START);
    pumpUntil(WM_APP_UPDATE_VISUALS);  // a packet is in the take
    onCloseRequest(window);
    onCloseRequest(window);  // pressed again while waiting
    EXPECT_EQ(window.status, L"Waiting for recording thread to finish...");
    EXPECT_EQ(window.buttons, (std::map<int, bool>{{IDC_START, false}, {IDC_STOP, false}}));
    EXPECT_EQ(window.destroyCount, 0);
    pumpUntil(WM_APP_RECORDING_DONE);
    EXPECT_EQ(window.destroyCount, 1);
    EXPECT_GT(std::filesystem::file_size("take.wav"), 44u);
}

TEST_F(Commands, EveryEndOfTakeIsReportedAndFreesStart) {
    const struct {
        std::string failing;
        std::wstring path;
        uint32_t end;
        std::wstring status;
    } cases[] = {
        {"getDefaultCaptureEndpoint", L"take.wav", WM_APP_RECORDING_FAILED,
         L"Cannot open the audio capture device: nothing recorded"},
        {"", L"no-such-folder/take.wav", WM_APP_RECORDING_DONE,
         L"Cannot open file for writing: no-such-folder/take.wav"},
        {"", L"/dev/full", WM_APP_RECORDING_DONE,
         L"Could not write /dev/full (disk full or not writable): take not saved"},
        {"getNextPacketSize", L"take.wav", WM_APP_RECORDING_DONE,
         L"The audio device was lost: recording stopped. Saved to: take.wav"},
    };
    int takes = 0;
    for (const auto& c : cases) {
        failing = c.failing;
        window.dialogAnswer = c.path;
        onCommand(window, IDC_START);
        EXPECT_EQ(window.dialogCount, ++takes);  // the previous end freed Start
        if (c.failing.empty()) onCommand(window, IDC_STOP);  // the others end on their own
        pumpUntil(c.end);
        EXPECT_EQ(window.status, c.status);
        EXPECT_FALSE(recordingThread.joinable());
    }
}

TEST_F(Commands, EndOfTakeHandledInsideTheNextStartsDialog) {
    onCommand(window, IDC_START);
    onCommand(window, IDC_STOP);
    // The thread is over but its end-of-take message still waits when the user
    // presses Start again; the dialog's own loop delivers it.
    while (recordingThreadActive) std::this_thread::yield();
    window.duringDialog = [this] { pumpUntil(WM_APP_RECORDING_DONE); };
    onCommand(window, IDC_START);
    window.duringDialog = nullptr;
    EXPECT_TRUE(isRecording);  // the old take's end did not stop the new one
    onCommand(window, IDC_STOP);
    pumpUntil(WM_APP_RECORDING_DONE);
    EXPECT_EQ(window.status, L"Saved to: take.wav");
}

}  // namespace
