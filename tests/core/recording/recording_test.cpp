#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include <thread>

#include "app/commands.h"
#include "base/thread_start.h"
#include "fake_capture_source.h"
#include "fake_window.h"
#include "recording/live_feed.h"
#include "recording/recording_thread.h"
#include "recording/wav_writer.h"
#include "shared_state_reset.h"

using Posts = std::vector<uint32_t>;

namespace {

// Records a take on this thread into `path` (relative: the build folder); what it posted.
Posts record(FakeCaptureSource& source, const wchar_t* path = L"take.wav", uint64_t limit = MAX_TAKE_SAMPLES,
             Take&& take = Take()) {
    FakeWindow window;
    isRecording = true;
    recordTake(path, &window, source, limit, take);
    return window.takePosted();
}

// Blocks of four samples, with the sizes asked for written down; the third and later fail.
std::vector<size_t> blockRequests;
TakeBlock smallBlock(size_t samples) {
    blockRequests.push_back(samples);
    if (blockRequests.size() > 2) throw std::bad_alloc();
    return allocateTakeBlock(samples);
}

std::string fileBytes(const char* path = "take.wav") {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// What a 48 kHz take must leave: the header (checked byte for byte below), then the samples.
std::string takeFile(int channels, const std::vector<int16_t>& samples) {
    std::ostringstream header;
    writeWavHeader(header, 48000, 16, channels, samples.size() * sizeof(int16_t));
    return header.str() + std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
}

TEST(Take, FileIsTheHeaderThenEveryPacketInOrder) {
    FakeCaptureSource source;
    source.packets = {packetOf<float>({0.5f, -0.25f, 1.5f, -2.0f}), packetOf<float>({NAN, -1.0f})};
    source.failOn = "getBuffer";  // once: the packet comes again on the next poll
    const Posts posts = record(source);
    // However often the views were told, the last news before the end reaches them.
    EXPECT_EQ(posts.front(), WM_APP_RECORDING_STARTED);
    EXPECT_EQ(Posts(posts.end() - 2, posts.end()), (Posts{WM_APP_UPDATE_VISUALS, WM_APP_RECORDING_DONE}));
    const std::string header(
        "RIFF\x30\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x80\xBB\0\0\0\xEE\x02\0\x04\0\x10\0data\x0C\0\0\0", 44);
    EXPECT_EQ(fileBytes(), header + takeFile(2, {16383, -8191, 32767, -32767, 0, -32767}).substr(44));
}

TEST(Take, WideMixesAreOpenedAsTheyAreAndKeepTheirFirstTwoChannels) {
    for (const int channels : {1, 2, 4, 6}) {
        for (const bool isFloat : {true, false}) {
            // Two frames; channel c of frame f holds 1000 * (f + 1) + c.
            std::vector<int16_t> pcm, kept;
            std::vector<float> floats;
            for (int f = 0; f < 2; ++f) {
                for (int c = 0; c < channels; ++c) {
                    const int16_t value = static_cast<int16_t>(1000 * (f + 1) + c);
                    pcm.push_back(value);
                    floats.push_back(value / 32767.0f);
                    if (c < 2) kept.push_back(value);
                }
            }
            FakeCaptureSource source(isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM, isFloat ? 32 : 16,
                                     static_cast<uint16_t>(channels));
            source.packets = {isFloat ? packetOf(floats) : packetOf(pcm)};
            EXPECT_EQ(record(source).back(), WM_APP_RECORDING_DONE)
                << channels << " channels, float " << isFloat;
            EXPECT_EQ(fileBytes(), takeFile(channels == 1 ? 1 : 2, kept)) << channels << " channels";
        }
    }
}

TEST(Take, SilentPacketsAreZerosAndLostInputIsCountedAfterTheFirstPacket) {
    FakeCaptureSource source;
    source.packets.assign(3, packetOf<float>({0.5f, 0.5f}));
    source.packetFlags = {BUFFER_FLAG_DATA_DISCONTINUITY, BUFFER_FLAG_SILENT | BUFFER_FLAG_DATA_DISCONTINUITY,
                          BUFFER_FLAG_DATA_DISCONTINUITY};
    record(source);
    EXPECT_EQ(fileBytes(), takeFile(2, {16383, 16383, 0, 0, 16383, 16383}));
    EXPECT_EQ(inputGaps, 2u);
}

TEST(Take, GrowsInBlocksThatNeverMoveAndEndsWithWhatFitsWhenMemoryRunsOut) {
    // Packets of three frames straddle the four-sample blocks; the third block cannot be had.
    FakeCaptureSource source;
    source.packets.assign(3, packetOf<float>({0.5f, -0.5f, 0.5f, -0.5f, 0.5f, -0.5f}));
    blockRequests.clear();
    record(source, L"take.wav", MAX_TAKE_SAMPLES, Take(4, smallBlock));
    EXPECT_EQ(lastTakeOutcome, TakeOutcome::OutOfMemory);
    EXPECT_EQ(fileBytes(), takeFile(2, {16383, -16383, 16383, -16383, 16383, -16383}));
    EXPECT_EQ(blockRequests, (std::vector<size_t>{4, 4, 4}));

    Take whole(4);  // a take that ends exactly on a block, and one that never starts
    const int16_t* first = nullptr;
    std::vector<int16_t> samples(12), back;
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i);
    whole.append(samples.data(), 3);
    whole.forEachBlock([&](const int16_t* s, size_t) { first = s; });
    whole.append(samples.data() + 3, 9);
    whole.forEachBlock([&](const int16_t* s, size_t n) {
        EXPECT_TRUE(!back.empty() || s == first);  // the first block never moved
        back.insert(back.end(), s, s + n);
    });
    EXPECT_EQ(back, samples);
    whole.clear();
    whole.forEachBlock([](const int16_t*, size_t) { ADD_FAILURE() << "a cleared take holds samples"; });
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
        EXPECT_EQ(record(source, L"take.wav", lost ? MAX_TAKE_SAMPLES : 7, Take(4)).back(),
                  WM_APP_RECORDING_DONE);
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

// A disk with room for 100 bytes: what fits reaches the file, then writing fails.
struct FullDisk : std::filebuf {
    std::streamsize room = 100;
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const std::streamsize fits = std::min(n, room);
        room -= fits;
        return std::filebuf::xsputn(s, fits);
    }
    int overflow(int c) override { return room-- > 0 ? std::filebuf::overflow(c) : traits_type::eof(); }
};
struct FullDiskFile : std::ostream {
    FullDisk disk;
    explicit FullDiskFile(const std::filesystem::path& path) : std::ostream(&disk) {
        disk.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
    }
};
std::unique_ptr<std::ostream> openOnFullDisk(const std::filesystem::path& path) {
    if (path.filename() == "full.wav") return std::make_unique<FullDiskFile>(path);
    return std::make_unique<std::ofstream>(path, std::ios::binary);
}

TEST(Take, AFailedSaveKeepsTheTakeUntilItIsWrittenElsewhereOrDiscarded) {
    const auto realFiles = std::exchange(openTakeFile, openOnFullDisk);
    for (const bool discard : {false, true}) {
        std::filesystem::remove("saved.wav");
        FakeCaptureSource source;
        source.packets.assign(40, packetOf<float>({0.5f, -0.5f}));  // 160 bytes of samples
        FakeWindow window;
        window.yesNoAnswers = discard ? std::deque<bool>{false, true} : std::deque<bool>{true};
        window.dialogAnswers = {L"saved.wav"};
        std::vector<int16_t> alternating;
        for (int i = 0; i < 40; ++i) alternating.insert(alternating.end(), {16383, -16383});
        Take take;
        isRecording = true;
        std::thread thread([&] { recordTake(L"full.wav", &window, source, MAX_TAKE_SAMPLES, take); });
        window.takePosted(WM_APP_SAVE_FAILED);
        EXPECT_FALSE(std::filesystem::exists("full.wav"));  // its header promised more than it held
        onAppMessage(window, WM_APP_SAVE_FAILED);           // the window asks, as the user answers
        window.takePosted(WM_APP_RECORDING_DONE);
        thread.join();
        EXPECT_EQ(fileBytes("saved.wav"), discard ? "" : takeFile(2, alternating));
        EXPECT_EQ(take.empty(), discard);
        EXPECT_EQ(takeEndStatus(), discard ? L"Take discarded: nothing saved" : L"Saved to: saved.wav");
    }
    openTakeFile = realFiles;
}

TEST(Take, AThreadTheSystemRefusesEndsTheTakeAndGivesBackTheDevice) {
    threadStartRefused = [] { return true; };
    FakeCaptureSource source;
    EXPECT_EQ(record(source), (Posts{ERROR_BOX, WM_APP_RECORDING_FAILED}));
    EXPECT_EQ(source.calls.substr(source.calls.find(" start")),
              " start freeMixFormat releaseCaptureClient releaseAudioClient releaseDevice releaseEnumerator "
              "uninitializeThread");
    threadStartRefused = nullptr;
}

TEST(Take, ADeviceThatDeliversNothingIsReportedUntilSoundFlowsAgain) {
    FakeCaptureSource source;
    source.silentPolls = 500;  // 2.5 s at least
    source.packets = {packetOf<float>({0.5f, -0.5f})};
    const Posts posts = record(source);
    const auto stalled = std::find(posts.begin(), posts.end(), WM_APP_RECORDING_STALLED);
    ASSERT_NE(stalled, posts.end());
    EXPECT_NE(std::find(stalled, posts.end(), WM_APP_RECORDING_STARTED), posts.end());
    FakeWindow window;
    deviceSilentSeconds = 12;
    onAppMessage(window, WM_APP_RECORDING_STALLED);
    EXPECT_EQ(window.status, L"Recording... nothing has arrived from the device for 12 s");
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
