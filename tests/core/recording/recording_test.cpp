#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "fake_capture_source.h"
#include "fake_window.h"
#include "recording/live_feed.h"
#include "recording/recording_thread.h"
#include "recording/wav_writer.h"
#include "shared_state_reset.h"

using Posts = std::vector<uint32_t>;

namespace {

// Records a take on this thread into `path` (relative: the build folder); what it posted.
Posts record(FakeCaptureSource& source, const wchar_t* path = L"take.wav",
             uint64_t limit = MAX_TAKE_SAMPLES) {
    FakeWindow window;
    isRecording = true;
    recordTake(path, &window, source, limit);
    return window.takePosted();
}

std::string fileBytes() {
    std::ifstream in("take.wav", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// What a 48 kHz take must leave: the header (checked byte for byte below), then the samples.
std::string takeFile(int channels, const std::vector<int16_t>& samples) {
    std::ostringstream header;
    writeWavHeader(header, 48000, 16, channels, samples.size() * sizeof(int16_t));
    return header.str() + std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
}

TEST(Take, FileIsTheHeaderThenEveryPacketInOrder) {
    FakeCaptureSource source(WAVE_FORMAT_EXTENSIBLE, 32, 6);  // a 5.1 mix is asked for as stereo
    source.packets = {packetOf<float>({0.5f, -0.25f, 1.5f, -2.0f}), packetOf<float>({NAN, -1.0f})};
    source.failOn = "getBuffer";  // once: the packet comes again on the next poll
    EXPECT_EQ(record(source), (Posts{WM_APP_RECORDING_STARTED, WM_APP_UPDATE_VISUALS, WM_APP_UPDATE_VISUALS,
                                     WM_APP_RECORDING_DONE}));
    const std::string header(
        "RIFF\x30\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x80\xBB\0\0\0\xEE\x02\0\x04\0\x10\0data\x0C\0\0\0", 44);
    EXPECT_EQ(fileBytes(), header + takeFile(2, {16383, -8191, 32767, -32767, 0, -32767}).substr(44));
}

TEST(Take, SixteenBitPcmIsKeptAsItIsAndOtherFormatsAreRefused) {
    const std::vector<int16_t> pcm = {-32768, 0, 32767};
    const std::tuple<uint16_t, uint16_t, FormatGuid, std::vector<uint8_t>, std::vector<int16_t>> cases[] = {
        {WAVE_FORMAT_PCM, 16, {}, packetOf(pcm), pcm},
        {WAVE_FORMAT_EXTENSIBLE, 16, KSDATAFORMAT_SUBTYPE_PCM, packetOf(pcm), pcm},
        {WAVE_FORMAT_IEEE_FLOAT, 32, {}, packetOf<float>({0.25f, -1.0f, 0.0f}), {8191, -32767, 0}},
        {WAVE_FORMAT_PCM, 24, {}, packetOf(pcm), {}},
        {WAVE_FORMAT_EXTENSIBLE, 16, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, packetOf(pcm), {}},
    };
    for (const auto& [tag, bits, subFormat, packet, kept] : cases) {
        FakeCaptureSource source(tag, bits, 1, subFormat);
        source.packets = {packet};
        // A refused packet is handed back all the same, and nothing is repainted.
        EXPECT_EQ(record(source).size(), kept.empty() ? 2u : 3u) << tag << "/" << bits;
        EXPECT_EQ(fileBytes(), takeFile(1, kept)) << tag << "/" << bits;
        EXPECT_EQ(source.released.size(), 1u);
    }
}

TEST(Take, SizeLimitAndDeviceLossKeepWhatWasCaptured) {
    for (const bool lost : {false, true}) {
        FakeCaptureSource source;
        source.packets.assign(2, packetOf<float>({0.5f, -0.5f, 0.25f, -0.25f}));
        if (lost) source.failOn = "getNextPacketSize";
        // A limit of seven samples leaves room for three whole stereo frames.
        EXPECT_EQ(record(source, L"take.wav", lost ? MAX_TAKE_SAMPLES : 7).back(), WM_APP_RECORDING_DONE);
        std::vector<int16_t> kept = {16383, -16383, 8191, -8191, 16383, -16383, 8191, -8191};
        kept.resize(lost ? 8 : 6);
        EXPECT_EQ(fileBytes(), takeFile(2, kept));
        EXPECT_EQ(lastTakeOutcome, lost ? TakeOutcome::DeviceLost : TakeOutcome::SizeLimit);
    }
}

TEST(Take, SetupFailureReleasesWhatWasObtainedInReverseAndLeavesTheFile) {
    const std::string setup =
        "createEnumerator getDefaultCaptureEndpoint activateAudioClient getMixFormat initialize "
        "getCaptureService start";
    const std::string fromMixFormat = " releaseAudioClient releaseDevice releaseEnumerator";
    const std::pair<std::string, std::string> cases[] = {
        {"createEnumerator", ""},
        {"getDefaultCaptureEndpoint", " releaseEnumerator"},
        {"activateAudioClient", " releaseDevice releaseEnumerator"},
        {"getMixFormat", fromMixFormat},
        {"initialize", " freeMixFormat" + fromMixFormat},
        {"getCaptureService", " freeMixFormat" + fromMixFormat},
        {"start", " freeMixFormat releaseCaptureClient" + fromMixFormat},
    };
    std::ofstream("take.wav") << "an earlier take";
    for (const auto& [failing, released] : cases) {
        FakeCaptureSource source;
        source.failOn = failing;
        EXPECT_EQ(record(source), Posts{WM_APP_RECORDING_FAILED});
        const std::string attempted = setup.substr(0, setup.find(failing) + failing.size());
        EXPECT_EQ(source.calls, "initializeThread " + attempted + released + " uninitializeThread");
        EXPECT_EQ(fileBytes(), "an earlier take");
    }
}

TEST(Take, AFileThatCannotBeOpenedIsReportedByABoxBeforeTheEndOfTake) {
    // The window joins this thread on the end-of-take message: a box after it would freeze the window.
    FakeCaptureSource source;
    EXPECT_EQ(record(source, L"no-such-folder/take.wav"), (Posts{ERROR_BOX, WM_APP_RECORDING_DONE}));
}

TEST(LiveFeed, LevelHistoryAndTheNewestBlockForTheSpectrumEvery200Ms) {
    using std::chrono::milliseconds;
    resetSharedState();
    const auto t0 = lastFFT;
    feedLiveAnalysis({32767, 0, -32767, 0}, 2, t0 + milliseconds(1000));  // due, but short of a block
    feedLiveAnalysis({}, 2, t0);                           // an empty packet leaves the meter as it was
    EXPECT_NEAR(currentLevel, 32767.0f / 65536.0f, 1e-6);  // of full scale, averaged over the channels
    EXPECT_EQ(waveformBufferL, (std::vector<int16_t>{32767, -32767}));
    std::vector<int16_t> packet(MAX_WAVEFORM_SIZE);
    for (size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<int16_t>(i);
    feedLiveAnalysis(packet, 1, t0 + milliseconds(199));
    EXPECT_EQ(waveformBufferL, packet);  // the two oldest went
    EXPECT_TRUE(fftQueue.empty());
    feedLiveAnalysis({-2}, 1, t0 + milliseconds(200));
    ASSERT_EQ(fftQueue.size(), 1u);
    EXPECT_EQ(fftQueue.front().front(), 1);  // the newest samples, oldest first
    EXPECT_EQ(fftQueue.front().back(), -2);
    for (int i = 2; i <= 5; ++i) feedLiveAnalysis({0}, 1, t0 + milliseconds(200 * i));
    EXPECT_EQ(fftQueue.size(), MAX_QUEUED_BLOCKS);
}

}  // namespace
