#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/commands.h"
#include "base/thread_start.h"
#include "fake_capture_source.h"
#include "fake_window.h"
#include "recording/recording_thread.h"
#include "failing_disk.h"
#include "recording/take_file.h"
#include "shared_state_reset.h"

namespace {

// Each take's device: a packet, then nothing until Stop or close.
FakeDevice device;

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        hwndMain = &window;
        device = FakeDevice();
        device.stopWhenDrained = false;
        device.packets = {packetOf<float>({0.5f, -0.5f})};
        captureSourceFactory = device.factory();
        // Files in full-disk/ lie on a disk that takes nothing.
        std::filesystem::create_directories("full-disk");
        std::filesystem::remove_all("documents");
        std::filesystem::create_directories("documents");
        openOutputFile = openOnFailingDisk;
        failingDisk = {"full-disk", 0, FileError::DiskFull, ""};
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

TEST_F(Commands, CloseDuringATakeEvenRightAfterStartWaitsForTheFile) {
    for (const bool atOnce : {true, false}) {
        window.destroyCount = 0, window.buttons.clear(), window.unsaved.clear(), windowClosing = false;
        device.packets = {packetOf<float>({0.5f, -0.5f})};
        onCommand(window, IDC_START);
        if (!atOnce) pumpUntil(WM_APP_UPDATE_VISUALS);  // a packet is in the take
        onCloseRequest(window);
        onCloseRequest(window);  // pressed again while waiting
        EXPECT_EQ(window.status, L"Waiting for recording thread to finish...");
        EXPECT_EQ(window.buttons, (std::map<int, bool>{{IDC_START, false}, {IDC_STOP, false}}));
        EXPECT_EQ(window.destroyCount, 0);
        pumpUntil(WM_APP_RECORDING_DONE);
        EXPECT_EQ(window.destroyCount, 1);
        EXPECT_EQ(window.unsaved, (std::vector<bool>{true, false}));
        EXPECT_GE(std::filesystem::file_size("take.wav"), atOnce ? 44u : 48u);
    }
}

TEST_F(Commands, AnEndingSessionFinishesTheTakeOrSavesItWhereItCan) {
    // A running take is finished at once; one that waits for a place goes beside
    // the chosen file, or, when that fails too, to the documents folder.
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"take.wav", L"Saved to: take.wav (1 gap in the input)"},
        {L"full-disk/take.wav", L"Saved to: documents/take.recovered-2.wav (1 gap in the input)"},
    };
    std::ofstream("documents/take.recovered.wav") << "an earlier recovered take";  // never replaced
    for (const auto& [path, status] : cases) {
        window.unsaved.clear(), windowClosing = false;
        window.dialogAnswers = {path};
        device.packets = {packetOf<float>({0.5f, -0.5f}), packetOf<float>({0.5f, -0.5f}, false, true)};
        onCommand(window, IDC_START);
        pumpUntil(WM_APP_UPDATE_VISUALS);
        if (path != L"take.wav") {
            onCommand(window, IDC_STOP);
            window.takePosted(WM_APP_SAVE_FAILED);  // the question is never answered
        }
        onEndSession(window);
        EXPECT_FALSE(recordingThread.joinable());
        EXPECT_EQ(window.status, status);
        EXPECT_EQ(window.unsaved, (std::vector<bool>{true, false}));
        for (uint32_t m : window.takePosted()) onAppMessage(window, m);  // late news changes nothing
        EXPECT_EQ(window.status, status);
        EXPECT_EQ(window.destroyCount, 0);
    }
    EXPECT_EQ(std::filesystem::file_size("documents/take.recovered.wav"), 25u);
    EXPECT_EQ(std::filesystem::file_size("documents/take.recovered-2.wav"), 52u);
}

TEST_F(Commands, StartIsRefusedDuringATakeAndEveryEndIsReported) {
    const std::tuple<OpenResult, std::wstring, uint32_t, std::wstring> cases[] = {
        {OpenResult::Opened, L"take.wav", WM_APP_RECORDING_DONE, L"Saved to: take.wav"},
        {OpenResult::Failed, L"take.wav", WM_APP_RECORDING_FAILED,
         L"Nothing recorded: cannot open the audio capture device"},
        {OpenResult::NoDevice, L"take.wav", WM_APP_RECORDING_FAILED,
         L"Nothing recorded: no audio capture device is connected"},
        {OpenResult::AccessDenied, L"take.wav", WM_APP_RECORDING_FAILED,
         L"Nothing recorded: Windows does not allow this program to use the microphone "
         L"(Settings > Privacy & security > Microphone)"},
        {OpenResult::DeviceInUse, L"take.wav", WM_APP_RECORDING_FAILED,
         L"Nothing recorded: the audio capture device is in use by another program"},
        {OpenResult::UnsupportedFormat, L"take.wav", WM_APP_RECORDING_FAILED,
         L"Nothing recorded: the audio device's format is not supported"},
        {OpenResult::Opened, L"no-such-folder/take.wav", WM_APP_RECORDING_DONE,
         L"Cannot open file for writing: no-such-folder/take.wav"},
        {OpenResult::Opened, L"full-disk/take.wav", WM_APP_RECORDING_DONE,
         L"Saved to: take.wav"},  // elsewhere
        {OpenResult::Opened, L"full-disk/gone.wav", WM_APP_RECORDING_DONE, L"Take discarded: nothing saved"},
    };
    int takes = 0;
    for (const auto& [opened, path, end, status] : cases) {
        device.opens = {opened};
        device.packets = {packetOf<float>({0.5f, -0.5f})};
        // A second dialog would start nothing: a Start let through fails here at once.
        window.dialogAnswers = {path, L"", L"take.wav"};
        // Save elsewhere, and again after a cancelled dialog; or let it go, and confirm.
        window.yesNoAnswers = {!path.ends_with(L"gone.wav"), true};
        window.unsaved.clear();
        onCommand(window, IDC_START);
        onCommand(window, IDC_START);  // refused: no second dialog
        EXPECT_EQ(window.dialogCount, ++takes);
        if (opened == OpenResult::Opened && !path.starts_with(L"no-such")) {
            pumpUntil(WM_APP_RECORDING_STARTED);
            EXPECT_EQ(window.status, path.starts_with(L"full") ? L"Recording... could not write " + path +
                                                                     L": the take is kept in memory"
                                                               : L"Recording...");
            device.calls.clear();
            onCommand(window, IDC_STOP);
        }
        pumpUntil(end);
        // Stop reaches the recording thread at once, not at its next poll.
        if (opened == OpenResult::Opened && !path.starts_with(L"no-such")) {
            EXPECT_NE(device.calls.find("woken"), std::string::npos) << device.calls;
        }
        EXPECT_EQ(window.status, status);
        EXPECT_EQ(window.unsaved, (std::vector<bool>{true, false}));
        takes = window.dialogCount;  // a failed save asked for another place
    }
}

TEST_F(Commands, CancelOrAThreadTheSystemRefusesLeavesStartAsItWasAndCloseIsImmediate) {
    for (const bool refused : {false, true}) {
        window.dialogAnswers = {refused ? L"take.wav" : L""};
        threadStartRefused = refused ? +[] { return true; } : nullptr;
        onCommand(window, IDC_START);
        threadStartRefused = nullptr;
        EXPECT_FALSE(isRecording || recordingThreadActive || recordingThread.joinable());
        EXPECT_EQ(window.takePosted(), refused ? std::vector<uint32_t>{ERROR_BOX} : std::vector<uint32_t>{});
        EXPECT_EQ(window.status, refused ? THREAD_REFUSED_TEXT : L"");
        EXPECT_TRUE(window.unsaved.empty());
    }
    // A close that comes while the Save As dialog is open is honoured, and no take starts after it.
    window.dialogAnswers = {L"take.wav"};
    window.duringDialog = [this] { onCloseRequest(window); };
    onCommand(window, IDC_START);
    EXPECT_FALSE(isRecording || recordingThreadActive || recordingThread.joinable());
    EXPECT_EQ(window.destroyCount, 1);
}

}  // namespace
