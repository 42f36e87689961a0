#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/messages.h"
#include "fake_capture_source.h"
#include "fake_window.h"
#include "recording/recording_thread.h"
#include "shared_state_reset.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

template <typename T>
T at(const std::string& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::vector<int16_t> samplesOf(const std::string& wav) {
    std::vector<int16_t> out((wav.size() - 44) / 2);
    std::memcpy(out.data(), wav.data() + 44, out.size() * 2);
    return out;
}

class RecordingThread : public ::testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        hwndMain = &window;
        dir = fs::temp_directory_path() /
              ("quorvel-rec-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = dir / "take.wav";
        source.onExhausted = [] { isRecording = false; };
    }
    void TearDown() override {
        resetSharedState();
        fs::remove_all(dir);
    }

    void runTake(uint64_t limit = MAX_TAKE_SAMPLES) {
        isRecording = true;
        recordTake(path.wstring(), &window, source, limit);
    }
    size_t updatePosts() const {
        size_t n = 0;
        for (uint32_t m : window.posted()) n += m == WM_APP_UPDATE_VISUALS;
        return n;
    }

    FakeWindow window;
    FakeCaptureSource source;
    fs::path dir;
    fs::path path;
};

TEST_F(RecordingThread, SetupFailureReleasesWhatWasObtainedAndTouchesNoFile) {
    const std::vector<std::string> setup = {"createEnumerator",
                                            "getDefaultCaptureEndpoint",
                                            "activateAudioClient",
                                            "getMixFormat",
                                            "initialize",
                                            "getCaptureService",
                                            "start"};
    for (size_t failing = 0; failing < setup.size(); ++failing) {
        SCOPED_TRACE(setup[failing]);
        FakeWindow w;
        FakeCaptureSource s;
        s.failOn = setup[failing];
        std::ofstream(path, std::ios::binary) << "keep me";
        globalSampleRate = 12345;
        isRecording = true;
        recordTake(path.wstring(), &w, s, MAX_TAKE_SAMPLES);

        std::vector<std::string> expected = {"initializeThread"};
        expected.insert(expected.end(), setup.begin(), setup.begin() + failing + 1);
        if (failing >= 4) expected.push_back("freeMixFormat");
        if (failing >= 6) expected.push_back("releaseCaptureClient");
        if (failing >= 3) expected.push_back("releaseAudioClient");
        if (failing >= 2) expected.push_back("releaseDevice");
        if (failing >= 1) expected.push_back("releaseEnumerator");
        expected.push_back("uninitializeThread");
        EXPECT_EQ(s.calls, expected);
        EXPECT_EQ(s.handedOut, nullptr);  // the mix format was given back
        EXPECT_EQ(w.posted(), std::vector<uint32_t>{WM_APP_RECORDING_FAILED});
        EXPECT_EQ(lastTakeOutcome, TakeOutcome::DeviceFailed);
        EXPECT_EQ(readFile(path), "keep me");
        EXPECT_EQ(globalSampleRate, 12345);  // the worker never started
        EXPECT_FALSE(recordingThreadActive);
        EXPECT_TRUE(w.errorBoxes().empty());
    }
}

TEST_F(RecordingThread, StereoFloatTakeBecomesA16BitFileAndPostsInOrder) {
    source.addFloatPacket({0.5f, -0.5f, 1.0f, -1.0f}, 2);
    source.addFloatPacket({}, 0);  // announced, delivered empty
    source.addFloatPacket({0.25f, 0.0f}, 1);
    runTake();

    const std::string wav = readFile(path);
    ASSERT_EQ(wav.size(), 44u + 12u);
    EXPECT_EQ(at<uint16_t>(wav, 22), 2);
    EXPECT_EQ(at<uint32_t>(wav, 24), 48000u);
    EXPECT_EQ(at<uint16_t>(wav, 34), 16);
    EXPECT_EQ(at<uint32_t>(wav, 40), 12u);
    EXPECT_EQ(samplesOf(wav), (std::vector<int16_t>{16383, -16383, 32767, -32767, 8191, 0}));

    EXPECT_EQ(window.lifecyclePosts(),
              (std::vector<uint32_t>{WM_APP_RECORDING_STARTED, WM_APP_RECORDING_DONE}));
    EXPECT_EQ(window.posted().front(), WM_APP_RECORDING_STARTED);
    EXPECT_EQ(updatePosts(), 3u);  // the empty packet included
    EXPECT_EQ(source.releasedFrames, (std::vector<uint32_t>{2, 0, 1}));
    EXPECT_EQ(source.initializedBuffer, 10000000);
    EXPECT_EQ(globalSampleRate, 48000);
    EXPECT_EQ(lastTakeOutcome, TakeOutcome::Saved);
    EXPECT_EQ(waveformBufferL, (std::vector<int16_t>{16383, 32767, 8191}));

    const std::vector<std::string> tail(source.calls.end() - 7, source.calls.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"stop", "freeMixFormat", "releaseCaptureClient", "releaseAudioClient",
                                        "releaseDevice", "releaseEnumerator", "uninitializeThread"}));
    EXPECT_FALSE(recordingThreadActive);
    EXPECT_EQ(utf8Path, path.string());
}

TEST_F(RecordingThread, ChannelCountIsForcedToMonoOrStereo) {
    const struct { uint16_t offered, expected; } cases[] = {{0, 1}, {1, 1}, {2, 2}, {6, 2}};
    for (const auto& c : cases) {
        FakeCaptureSource s;
        s.setFloatFormat(44100, c.offered);
        s.format.dwChannelMask = 0x3F;
        s.onExhausted = [] { isRecording = false; };
        FakeWindow w;
        isRecording = true;
        recordTake(path.wstring(), &w, s, MAX_TAKE_SAMPLES);
        EXPECT_EQ(s.initializedChannels, c.expected);
        EXPECT_EQ(uint32_t{s.initializedFormat.dwChannelMask}, 0x3Fu);  // nothing else changed
        EXPECT_EQ(int{s.initializedFormat.Format.nBlockAlign}, c.offered * 4);
        EXPECT_EQ(at<uint16_t>(readFile(path), 22), c.expected);
    }

    // A source that refuses the stereo offer ends the setup there.
    source.setFloatFormat(48000, 6);
    source.maxChannelsAccepted = 1;
    runTake();
    EXPECT_EQ(window.posted(), std::vector<uint32_t>{WM_APP_RECORDING_FAILED});
}

TEST_F(RecordingThread, StopBeforeCaptureStillWritesAnEmptyFile) {
    std::ofstream(path, std::ios::binary) << std::string(1000, 'x');
    source.addFloatPacket({0.5f, 0.5f}, 1);
    isRecording = false;
    recordTake(path.wstring(), &window, source, MAX_TAKE_SAMPLES);
    const std::string wav = readFile(path);
    ASSERT_EQ(wav.size(), 44u);
    EXPECT_EQ(at<uint32_t>(wav, 4), 36u);
    EXPECT_EQ(at<uint32_t>(wav, 40), 0u);
    EXPECT_EQ(window.posted(), (std::vector<uint32_t>{WM_APP_RECORDING_STARTED, WM_APP_RECORDING_DONE}));
}

TEST_F(RecordingThread, UnsupportedFormatGivesHeaderOnlyAndNoRepaints) {
    source.setFormat(1, 2, 48000, 24);
    source.addPcmPacket(std::vector<int16_t>(6, 1), 2);
    source.addPcmPacket(std::vector<int16_t>(6, 1), 2);
    runTake();
    EXPECT_EQ(readFile(path).size(), 44u);
    EXPECT_EQ(updatePosts(), 0u);
    EXPECT_EQ(source.releasedFrames, (std::vector<uint32_t>{2, 2}));  // handed back all the same
}

TEST_F(RecordingThread, SixteenBitPacketsAreCopiedUnchanged) {
    source.setFormat(1, 1, 44100, 16);
    source.addPcmPacket({-32768, 0, 32767}, 3);
    runTake();
    const std::string wav = readFile(path);
    EXPECT_EQ(at<uint32_t>(wav, 28), 88200u);
    EXPECT_EQ(samplesOf(wav), (std::vector<int16_t>{-32768, 0, 32767}));
}

TEST_F(RecordingThread, SourceFailuresMidTake) {
    // A failed GetBuffer skips one pass; the packet comes again on the next.
    source.addFloatPacket({0.5f, 0.5f}, 1);
    source.packets.back().failGetBuffer = true;
    source.addFloatPacket({0.25f, 0.25f}, 1);
    runTake();
    EXPECT_EQ(source.getBufferFailures, 1);
    EXPECT_EQ(samplesOf(readFile(path)), (std::vector<int16_t>{16383, 16383, 8191, 8191}));

    // A failed size query (say, the server went away) ends the take with what it has.
    FakeCaptureSource s;
    s.addFloatPacket({0.5f, -0.5f}, 1);
    s.failPacketSizeWhenEmpty = true;
    FakeWindow w;
    isRecording = true;
    recordTake(path.wstring(), &w, s, MAX_TAKE_SAMPLES);
    EXPECT_TRUE(isRecording);  // nobody pressed Stop
    EXPECT_EQ(samplesOf(readFile(path)), (std::vector<int16_t>{16383, -16383}));
    EXPECT_EQ(w.posted().back(), WM_APP_RECORDING_DONE);
    EXPECT_EQ(lastTakeOutcome, TakeOutcome::DeviceLost);
}

TEST_F(RecordingThread, UnopenablePathsShowTheBoxAndWriteNothing) {
    const std::wstring paths[] = {(dir / "missing" / "take.wav").wstring(),
                                  std::wstring(L"bad-\xD800-name.wav")};
    for (const std::wstring& p : paths) {
        FakeWindow w;
        FakeCaptureSource s;
        s.addFloatPacket({0.5f, 0.5f}, 1);
        isRecording = true;
        recordTake(p, &w, s, MAX_TAKE_SAMPLES);
        EXPECT_EQ(w.posted(), std::vector<uint32_t>{WM_APP_RECORDING_DONE});
        EXPECT_EQ(w.errorBoxes(), std::vector<std::wstring>{L"Error: Cannot open file for writing"});
        EXPECT_EQ(lastTakeOutcome, TakeOutcome::OpenFailed);
        EXPECT_EQ(s.calls.back(), "uninitializeThread");
        EXPECT_EQ(std::count(s.calls.begin(), s.calls.end(), "stop"), 0);
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(RecordingThread, TakeEndsAtTheSizeLimitOnAFrameBoundary) {
    for (int i = 0; i < 3; ++i) source.addFloatPacket({0.5f, -0.5f, 0.5f, -0.5f}, 2);
    runTake(7);  // room for three whole stereo frames
    const std::string wav = readFile(path);
    EXPECT_EQ(at<uint32_t>(wav, 40), 12u);
    EXPECT_EQ(wav.size(), 44u + 12u);
    EXPECT_EQ(lastTakeOutcome, TakeOutcome::SizeLimit);
    EXPECT_EQ(window.posted().back(), WM_APP_RECORDING_DONE);
    EXPECT_EQ(source.releasedFrames, (std::vector<uint32_t>{2, 2}));
}

TEST_F(RecordingThread, FailedWriteIsNotReportedAsSaved) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "skipped: no /dev/full here";
    source.addFloatPacket(std::vector<float>(20000, 0.5f), 10000);
    isRecording = true;
    recordTake(L"/dev/full", &window, source, MAX_TAKE_SAMPLES);
    EXPECT_EQ(lastTakeOutcome, TakeOutcome::WriteFailed);
    EXPECT_EQ(window.posted().back(), WM_APP_RECORDING_DONE);
}

TEST_F(RecordingThread, LastFftIsInitialisedOncePerProcess) {
    runTake();  // makes sure some take has started capturing
    const auto marker = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    lastFFT = marker;
    FakeCaptureSource s;
    s.onExhausted = [] { isRecording = false; };
    isRecording = true;
    recordTake(path.wstring(), &window, s, MAX_TAKE_SAMPLES);
    EXPECT_EQ(lastFFT, marker);
}

TEST(Ws2s, EncodesEveryCodePointAsUtf8) {
    EXPECT_EQ(ws2s(L"output.wav"), "output.wav");
    EXPECT_EQ(ws2s(L"\u00e4\u65e5"), "\xC3\xA4\xE6\x97\xA5");
    EXPECT_EQ(ws2s(L"\U0001F3B5"), "\xF0\x9F\x8E\xB5");
    EXPECT_EQ(ws2s(L""), "");
    EXPECT_THROW(ws2s(std::wstring(1, static_cast<wchar_t>(0xDC00))), std::range_error);
}

}  // namespace
