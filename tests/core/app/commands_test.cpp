#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "app/commands.h"
#include "base/thread_start.h"
#include "recording/recording_thread.h"
#include "fake_capture_source.h"
#include "fake_window.h"
#include "shared_state_reset.h"

namespace {

std::string failing;  // what the next take's capture source fails on

std::unique_ptr<CaptureSource> makeSource() {
    auto source = std::make_unique<FakeCaptureSource>();
    source->failOn = std::exchange(failing, "");
    source->stopWhenDrained = false;  // a take runs until Stop or close
    source->packets = {packetOf<float>({0.5f, -0.5f})};
    return source;
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        hwndMain = &window;
        captureSourceFactory = makeSource;
        // full.wav lies on a disk that takes nothing (a real device would not do
        // under Wine, which may take it for a file and remove it).
        openTakeFile = [](const std::filesystem::path& path) -> std::unique_ptr<std::ostream> {
            auto file = std::make_unique<std::ofstream>(path, std::ios::binary);
            if (path.filename() == "full.wav") file->setstate(std::ios::badbit);
            return file->is_open() ? std::move(file) : nullptr;
        };
    }
    void TearDown() override { onDestroy(); }

    // The window's message loop, until `message` has been handled.
    void pumpUntil(uint32_t message) {
        for (bool seen = false; !seen;) {
            const std::vector<uint32_t> posted = window.takePosted(message);
            ASSERT_FALSE(posted.empty()) << message << " never came";
            for (uint32_t m : posted) onAppMessage(window, m), seen = seen || m == message;
        }
    }

    FakeWindow window;
};

TEST_F(Commands, CancelStartsNothingAndCloseWithoutATakeIsImmediate) {
    window.dialogAnswers = {L""};
    onCommand(window, IDC_START);
    EXPECT_FALSE(isRecording || recordingThread.joinable());
    onCloseRequest(window);
    EXPECT_EQ(window.destroyCount, 1);
}

TEST_F(Commands, CloseDuringATakeWaitsForTheFile) {
    onCommand(window, IDC_START);
    pumpUntil(WM_APP_UPDATE_VISUALS);  // a packet is in the take
    EXPECT_EQ(window.status, L"Recording...");
    onCloseRequest(window);
    onCloseRequest(window);  // pressed again while waiting
    EXPECT_EQ(window.status, L"Waiting for recording thread to finish...");
    EXPECT_EQ(window.buttons, (std::map<int, bool>{{IDC_START, false}, {IDC_STOP, false}}));
    EXPECT_EQ(window.destroyCount, 0);
    pumpUntil(WM_APP_RECORDING_DONE);
    EXPECT_EQ(window.destroyCount, 1);
    EXPECT_GT(std::filesystem::file_size("take.wav"), 44u);
}

TEST_F(Commands, DestroyedWhileAFailedSaveWaitsForAPlaceLetsTheTakeGo) {
    window.dialogAnswers = {L"full.wav"};
    onCommand(window, IDC_START);
    pumpUntil(WM_APP_UPDATE_VISUALS);
    onCommand(window, IDC_STOP);
    window.takePosted(WM_APP_SAVE_FAILED);  // the question never comes: the window goes first
    auto destroyed = std::async(std::launch::async, [] { onDestroy(); });
    if (destroyed.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "destroying the window hangs on the take that waits for a place";
        std::lock_guard<std::mutex> lock(saveAnswerMutex);  // let the take go, so that the test ends
        saveAnswer = L"";
        saveAnswerCv.notify_all();
    }
    destroyed.wait();
    EXPECT_FALSE(recordingThread.joinable());
    EXPECT_EQ(lastTakeOutcome, TakeOutcome::Discarded);
    EXPECT_FALSE(std::filesystem::exists("full.wav"));
}

TEST_F(Commands, StartIsRefusedDuringATakeAndEveryEndIsReported) {
    const std::tuple<std::string, std::wstring, uint32_t, std::wstring> cases[] = {
        {"", L"take.wav", WM_APP_RECORDING_DONE, L"Saved to: take.wav"},
        {"getDefaultCaptureEndpoint", L"take.wav", WM_APP_RECORDING_FAILED,
         L"Nothing recorded: cannot open the audio capture device"},
        {"", L"no-such-folder/take.wav", WM_APP_RECORDING_DONE,
         L"Cannot open file for writing: no-such-folder/take.wav"},
        {"", L"full.wav", WM_APP_RECORDING_DONE, L"Saved to: take.wav"},  // saved again elsewhere
        {"getNextPacketSize", L"take.wav", WM_APP_RECORDING_DONE,
         L"Saved to: take.wav (the audio device was lost: recording stopped)"},
    };
    int takes = 0;
    for (const auto& [source, path, end, status] : cases) {
        failing = source;
        window.dialogAnswers = {path, L"take.wav"};
        window.yesNoAnswers = {true};
        onCommand(window, IDC_START);
        onCommand(window, IDC_START);  // refused: no second dialog
        EXPECT_EQ(window.dialogCount, ++takes);
        if (source.empty()) onCommand(window, IDC_STOP);  // the others end by themselves
        pumpUntil(end);
        EXPECT_EQ(window.status, status);
        takes = window.dialogCount;  // a failed save asked for another place
    }
}

TEST_F(Commands, AThreadTheSystemRefusesLeavesStartAsItWas) {
    threadStartRefused = [] { return true; };
    onCommand(window, IDC_START);
    threadStartRefused = nullptr;
    EXPECT_FALSE(isRecording || recordingThreadActive || recordingThread.joinable());
    EXPECT_EQ(window.takePosted(), std::vector<uint32_t>{ERROR_BOX});
    EXPECT_EQ(window.status, THREAD_REFUSED_TEXT);
}

}  // namespace
