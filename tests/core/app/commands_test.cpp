#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "app/commands.h"
#include "app/messages.h"
#include "fake_capture_source.h"
#include "fake_window.h"
#include "shared_state_reset.h"

namespace fs = std::filesystem;

namespace {

std::string nextFailure;  // what the next take's capture source fails on

std::unique_ptr<CaptureSource> makeFakeSource() {
    auto source = std::make_unique<FakeCaptureSource>();
    source->failOn = nextFailure;
    source->addFloatPacket({0.5f, -0.5f}, 1);
    return source;
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        hwndMain = &window;
        captureSourceFactory = makeFakeSource;
        nextFailure.clear();
        dir = fs::temp_directory_path() /
              ("quorvel-app-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        window.dialogAnswer = (dir / "take.wav").wstring();
    }
    void TearDown() override {
        onDestroy();
        resetSharedState();
        captureSourceFactory = nullptr;
        fs::remove_all(dir);
    }

    // The message loop: hands posted messages to the window until `until` has been handled.
    void pumpUntil(uint32_t until) {
        for (;;) {
            if (queue.empty()) {
                ASSERT_TRUE(window.waitFor(until)) << "message " << until << " never came";
                for (uint32_t m : window.takePosted()) queue.push_back(m);
            }
            while (!queue.empty()) {
                const uint32_t m = queue.front();
                queue.pop_front();
                onAppMessage(window, m);
                if (m == until) return;
            }
        }
    }
    void startTake() {
        onCommand(window, IDC_START);
        pumpUntil(WM_APP_RECORDING_STARTED);
    }

    FakeWindow window;
    std::deque<uint32_t> queue;  // taken from the window, not yet handled
    fs::path dir;
};

TEST_F(Commands, CompleteTakeThenStartAgain) {
    startTake();
    EXPECT_EQ(window.status, L"Recording...");
    EXPECT_TRUE(isRecording);
    onCommand(window, IDC_STOP);
    EXPECT_FALSE(isRecording);
    pumpUntil(WM_APP_RECORDING_DONE);
    EXPECT_EQ(window.status, L"Saved to: " + (dir / "take.wav").wstring());
    EXPECT_FALSE(recordingThread.joinable());
    EXPECT_FALSE(recordingThreadActive);
    EXPECT_TRUE(fs::exists(dir / "take.wav"));
    EXPECT_EQ(window.destroyCount, 0);

    onCommand(window, IDC_START);
    EXPECT_EQ(window.dialogCount, 2);
}

TEST_F(Commands, CancelStartsNothingButEmptiesTheViews) {
    waveformBufferL = {1, 2, 3};
    spectrumBuffer = {0.5f, 1.0f};
    currentLevel = 0.7f;
    window.dialogAnswer.clear();
    onCommand(window, IDC_START);
    EXPECT_EQ(window.dialogCount, 1);
    EXPECT_FALSE(isRecording);
    EXPECT_FALSE(recordingThread.joinable());
    EXPECT_TRUE(waveformBufferL.empty());
    EXPECT_TRUE(spectrumBuffer.empty());
    EXPECT_EQ(currentLevel, 0.7f);
    EXPECT_EQ(window.status, L"Ready");
}

TEST_F(Commands, CommandsThatDoNothing) {
    onCommand(window, IDC_STOP);  // no take
    onCommand(window, 7);
    EXPECT_EQ(window.dialogCount, 0);
    EXPECT_FALSE(isRecording);

    startTake();
    onCommand(window, IDC_START);  // running
    EXPECT_EQ(window.dialogCount, 1);
    onCommand(window, IDC_STOP);
    onCommand(window, IDC_STOP);  // stopping
    onCommand(window, IDC_START);
    EXPECT_EQ(window.dialogCount, 1);
    pumpUntil(WM_APP_RECORDING_DONE);
}

TEST_F(Commands, UpdateInvalidatesThePanelsInOrder) {
    EXPECT_TRUE(onAppMessage(window, WM_APP_UPDATE_VISUALS));
    EXPECT_EQ(window.invalidated, (std::vector<int>{IDC_WAVEFORM, IDC_VOLUME_METER, IDC_SPECTRUM}));
    EXPECT_FALSE(onAppMessage(window, 0x0400));
}

TEST_F(Commands, CloseWithoutATakeDestroysAtOnce) {
    onCloseRequest(window);
    EXPECT_EQ(window.destroyCount, 1);
    EXPECT_FALSE(pendingClose);
}

TEST_F(Commands, CloseDuringATakeWaitsForTheFile) {
    startTake();
    pumpUntil(WM_APP_UPDATE_VISUALS);  // a packet is in the take
    onCloseRequest(window);
    onCloseRequest(window);  // pressed again while closing
    EXPECT_EQ(window.status, L"Waiting for recording thread to finish...");
    EXPECT_EQ(window.buttonEvents, (std::vector<std::wstring>{L"1-", L"2-", L"1-", L"2-"}));
    EXPECT_TRUE(pendingClose);
    EXPECT_EQ(window.destroyCount, 0);

    pumpUntil(WM_APP_RECORDING_DONE);
    EXPECT_EQ(window.destroyCount, 1);
    EXPECT_FALSE(pendingClose);
    EXPECT_FALSE(recordingThread.joinable());
    EXPECT_GT(fs::file_size(dir / "take.wav"), 44u);
}

TEST_F(Commands, EndOfTakeHandledInsideTheNextStartsDialog) {
    startTake();
    onCommand(window, IDC_STOP);
    // The thread has finished, but its end-of-take message is still queued
    // when the user presses Start; the dialog's own loop delivers it.
    ASSERT_TRUE(window.waitFor(WM_APP_RECORDING_DONE));
    while (recordingThreadActive) std::this_thread::yield();
    window.duringDialog = [this] { pumpUntil(WM_APP_RECORDING_DONE); };
    window.dialogAnswer = (dir / "second.wav").wstring();
    onCommand(window, IDC_START);
    window.duringDialog = nullptr;
    EXPECT_EQ(window.dialogCount, 2);
    EXPECT_TRUE(isRecording);  // the old take's end did not stop the new one
    pumpUntil(WM_APP_RECORDING_STARTED);
    onStop();
    pumpUntil(WM_APP_RECORDING_DONE);
    EXPECT_EQ(window.status, L"Saved to: " + (dir / "second.wav").wstring());
}

TEST_F(Commands, FailuresGiveClearStatusAndFreeTheButtons) {
    nextFailure = "getDefaultCaptureEndpoint";
    onCommand(window, IDC_START);
    pumpUntil(WM_APP_RECORDING_FAILED);
    EXPECT_EQ(window.status, L"Cannot open the audio capture device: nothing recorded");
    EXPECT_FALSE(isRecording);
    EXPECT_FALSE(recordingThread.joinable());

    // Start works again; a close made while the device fails still closes.
    onCommand(window, IDC_START);
    EXPECT_EQ(window.dialogCount, 2);
    onCloseRequest(window);
    pumpUntil(WM_APP_RECORDING_FAILED);
    EXPECT_EQ(window.destroyCount, 1);

    nextFailure.clear();
    window.dialogAnswer = (dir / "no" / "such" / "dir.wav").wstring();
    onCommand(window, IDC_START);
    pumpUntil(WM_APP_RECORDING_DONE);
    EXPECT_EQ(window.status, L"Cannot open file for writing: " + window.dialogAnswer);
    EXPECT_EQ(window.errorBoxes().size(), 1u);
}

TEST_F(Commands, StatusNamesEveryOutcome) {
    savePath = L"/x/take.wav";
    const struct {
        TakeOutcome outcome;
        std::wstring status;
    } cases[] = {
        {TakeOutcome::Saved, L"Saved to: /x/take.wav"},
        {TakeOutcome::SizeLimit, L"Stopped at the 4 GB WAV size limit. Saved to: /x/take.wav"},
        {TakeOutcome::OutOfMemory, L"Out of memory: recording stopped. Saved to: /x/take.wav"},
        {TakeOutcome::DeviceLost, L"The audio device was lost: recording stopped. Saved to: /x/take.wav"},
        {TakeOutcome::WriteFailed,
         L"Could not write /x/take.wav (disk full or not writable): take not saved"},
    };
    for (const auto& c : cases) {
        lastTakeOutcome = c.outcome;
        EXPECT_EQ(takeEndStatus(), c.status);
    }
}

}  // namespace
