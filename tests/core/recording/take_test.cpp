#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "fake_capture_source.h"
#include "fake_window.h"
#include "recording/recording_thread.h"
#include "recording/wav_writer.h"

using namespace std::string_literals;

namespace {

constexpr uint32_t STARTED = WM_APP_RECORDING_STARTED, UPDATE = WM_APP_UPDATE_VISUALS,
                   DONE = WM_APP_RECORDING_DONE;

// A take recorded on this thread into `path` (relative: the build folder); what it posted.
std::vector<uint32_t> record(FakeCaptureSource& source, const std::wstring& path = L"take.wav",
                             uint64_t limit = MAX_TAKE_SAMPLES) {
    FakeWindow window;
    isRecording = true;
    recordTake(path, &window, source, limit);
    return window.takePosted();
}

std::string fileBytes(const char* path = "take.wav") {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string sampleBytes(const std::vector<int16_t>& samples) {
    return std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(int16_t));
}

// The file a 48 kHz take of `samples` must leave: the header (checked byte for
// byte below), then the samples as they were captured.
std::string takeFile(int channels, const std::vector<int16_t>& samples) {
    std::ostringstream header;
    writeWavHeader(header, 48000, 16, channels, samples.size() * sizeof(int16_t));
    return header.str() + sampleBytes(samples);
}

TEST(Take, FileIsTheHeaderThenEveryPacketInOrder) {
    FakeCaptureSource source(WAVE_FORMAT_EXTENSIBLE, 32, 6);  // a 5.1 mix is asked for as stereo
    source.packets = {fakePacket<float>({0.5f, -0.25f, 1.5f, -2.0f}, 2), fakePacket<float>({NAN, -1.0f}, 1)};
    source.failOn = "getBuffer";  // once: the packet comes again on the next poll
    EXPECT_EQ(record(source), (std::vector<uint32_t>{STARTED, UPDATE, UPDATE, DONE}));
    const std::string header =
        "RIFF"
        "\x30\0\0\0"
        "WAVE"
        "fmt "
        "\x10\0\0\0"
        "\x01\0"
        "\x02\0"
        "\x80\xBB\0\0"
        "\x00\xEE\x02\0"
        "\x04\0"
        "\x10\0"
        "data"
        "\x0C\0\0\0"s;
    EXPECT_EQ(fileBytes(), header + sampleBytes({16383, -8191, 32767, -32767, 0, -32767}));
    EXPECT_EQ(source.initializedChannels, 2);
    EXPECT_EQ(source.released, (std::vector<uint32_t>{2, 1}));
    EXPECT_EQ(source.calls,
              "initializeThread createEnumerator getDefaultCaptureEndpoint activateAudioClient getMixFormat "
              "initialize getCaptureService start stop freeMixFormat releaseCaptureClient releaseAudioClient "
              "releaseDevice releaseEnumerator uninitializeThread");
    EXPECT_EQ(lastTakeOutcome, TakeOutcome::Saved);
}

TEST(Take, SixteenBitPcmIsKeptAsItIsAndOtherFormatsAreRefused) {
    const FakePacket pcm = fakePacket<int16_t>({-32768, 0, 32767}, 3);
    const FormatGuid none{};
    const struct {
        uint16_t tag, bits;
        FormatGuid subFormat;
        FakePacket packet;
        std::vector<int16_t> kept;
    } cases[] = {
        {WAVE_FORMAT_PCM, 16, none, pcm, {-32768, 0, 32767}},
        {WAVE_FORMAT_EXTENSIBLE, 16, KSDATAFORMAT_SUBTYPE_PCM, pcm, {-32768, 0, 32767}},
        {WAVE_FORMAT_IEEE_FLOAT, 32, none, fakePacket<float>({0.25f, -1.0f, 0.0f}, 3), {8191, -32767, 0}},
        {WAVE_FORMAT_PCM, 24, none, pcm, {}},
        {WAVE_FORMAT_IEEE_FLOAT, 64, none, pcm, {}},
        {WAVE_FORMAT_EXTENSIBLE, 32, KSDATAFORMAT_SUBTYPE_PCM, pcm, {}},
        {WAVE_FORMAT_EXTENSIBLE, 16, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, pcm, {}},
    };
    for (const auto& c : cases) {
        FakeCaptureSource source(c.tag, c.bits, 1, c.subFormat);
        source.packets = {c.packet};
        const std::vector<uint32_t> posts = record(source);
        EXPECT_EQ(posts.size(), c.kept.empty() ? 2u : 3u) << c.tag << "/" << c.bits;  // no repaint if refused
        EXPECT_EQ(fileBytes(), takeFile(1, c.kept)) << c.tag << "/" << c.bits;
        EXPECT_EQ(source.released, std::vector<uint32_t>{3});  // handed back, refused or not
    }
}

TEST(Take, SizeLimitAndDeviceLossKeepWhatWasCaptured) {
    const std::vector<float> twoFrames = {0.5f, -0.5f, 0.25f, -0.25f};
    for (const bool lost : {false, true}) {
        FakeCaptureSource source;
        source.packets = {fakePacket(twoFrames, 2), fakePacket(twoFrames, 2)};
        if (lost) source.failOn = "getNextPacketSize";
        // A limit of seven samples leaves room for three whole stereo frames.
        EXPECT_EQ(record(source, L"take.wav", lost ? MAX_TAKE_SAMPLES : 7).back(), DONE);
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
    const struct {
        std::string failing, released;
    } cases[] = {
        {"createEnumerator", ""},
        {"getDefaultCaptureEndpoint", " releaseEnumerator"},
        {"activateAudioClient", " releaseDevice releaseEnumerator"},
        {"getMixFormat", fromMixFormat},
        {"initialize", " freeMixFormat" + fromMixFormat},
        {"getCaptureService", " freeMixFormat" + fromMixFormat},
        {"start", " freeMixFormat releaseCaptureClient" + fromMixFormat},
    };
    std::ofstream("take.wav") << "an earlier take";
    for (const auto& c : cases) {
        FakeCaptureSource source;
        source.failOn = c.failing;
        EXPECT_EQ(record(source), std::vector<uint32_t>{WM_APP_RECORDING_FAILED});
        const std::string attempted = setup.substr(0, setup.find(c.failing) + c.failing.size());
        EXPECT_EQ(source.calls, "initializeThread " + attempted + c.released + " uninitializeThread");
        EXPECT_EQ(source.given, nullptr);  // the mix format was given back
        EXPECT_EQ(fileBytes(), "an earlier take");
    }
}

TEST(Take, UnwritableFilesAreNeverReportedAsSaved) {
    const struct {
        std::wstring path;
        TakeOutcome outcome;
        std::vector<uint32_t> posts;
    } cases[] = {
        {L"/dev/full", TakeOutcome::WriteFailed, {STARTED, UPDATE, DONE}},
        // The box comes before the end-of-take message, on which the window joins this thread.
        {L"no-such-folder/take.wav", TakeOutcome::OpenFailed, {ERROR_BOX, DONE}},
        {L"lone-surrogate-\xD800.wav", TakeOutcome::OpenFailed, {ERROR_BOX, DONE}},
    };
    for (const auto& c : cases) {
        FakeCaptureSource source;
        source.packets = {fakePacket<float>({0.5f, 0.5f}, 1)};
        EXPECT_EQ(record(source, c.path), c.posts);
        EXPECT_EQ(lastTakeOutcome, c.outcome);
    }
}

}  // namespace
